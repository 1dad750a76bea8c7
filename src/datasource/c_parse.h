// CParse: the parsed form of a connection description string (sDsn), a list of name=value
// entries. Names compare without regard to letter case and occur once; values are texts. A
// CParse belongs to the call or command builder that made it and is used by one thread.
//
//   CParse p;
//   p.ParseString("ConnectString={Provider=SQLite;Data Source=a.db};UserID=1;LANGUAGE=en");
//   p.ConStr();      // "Provider=SQLite;Data Source=a.db"
//   p.LanguageID();  // "en"
//
// Grammar: entries "name=value" ended by ";" (the last ";" may be missing). A name is the text up
// to the next "=", spaces trimmed; parsing ends at the first empty name. A value is plain (up to
// the next ";") or braced ("{...}", may hold ";" and "=", up to the first "}"; the rest up to and
// including the next ";" is skipped); spaces around it are trimmed. Only spaces are trimmed.
//
// When a CParse ends, it unloads the current thread's resource loader (see support/globals.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::datasource {

class CParse {
 public:
  CParse() = default;
  ~CParse();
  CParse(const CParse&) = delete;
  CParse& operator=(const CParse&) = delete;

  // Parses the text, replacing what an earlier call left; returns true. Raises 457 when a name
  // occurs twice (the entries before the duplicate stay, PropsString holds the new text).
  bool ParseString(std::string_view sToParse);

  // The value of an entry (name compared without regard to case); raises 5 when absent.
  std::string GetProperty(std::string_view sPropName) const;
  // The whole text last given to ParseString, unchanged.
  const std::string& PropsString() const { return m_PropsString; }

  std::string UserName() const { return GetProperty("UserName"); }
  // "UserID" as a 32-bit integer; raises 13 when it is not a number (or empty), 5 when absent.
  std::int32_t UserID() const;
  std::string ConDBMSName() const { return GetProperty("DBMS Name"); }
  std::string ConDBMSVersion() const { return GetProperty("DBMS Version"); }
  std::string ConStr() const { return GetProperty("ConnectString"); }
  std::string LanguageID() const { return GetProperty("LANGUAGE"); }
  // True when "AcctType" in upper case is exactly "GY".
  bool IsIndustry() const;

  // The entries in the order of the text.
  const std::vector<std::pair<std::string, std::string>>& Entries() const { return m_Props; }

 private:
  // The helpers of ParseString work on a view of the text's rest, so that a long text is parsed
  // in one pass without copying its rest once per entry.
  static std::string_view SplitFirst(std::string_view& rest, std::string_view delimiter);
  static std::string_view NextName(std::string_view& rest);
  static std::string_view NextValue(std::string_view& rest);

  std::string m_PropsString;
  std::vector<std::pair<std::string, std::string>> m_Props;
};

}  // namespace morvane::datasource
