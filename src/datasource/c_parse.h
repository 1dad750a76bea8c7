// CParse: the parsed form of a connection description string (sDsn), a list of name=value
// entries. Names compare without regard to letter case and occur once; values are texts. A
// CParse belongs to the call or command builder that made it and is used by one thread.
//
//   CParse p;
//   p.ParseString("ConnectString={Provider=SQLite;Data Source=a.db};UserID=1;LANGUAGE=en");
//   p.ConStr();      // "Provider=SQLite;Data Source=a.db"
//   p.LanguageID();  // "en"
//
// Grammar: platform/db/connection_description.h.
//
// When a CParse ends, it unloads the current thread's resource loader
// (components/resloader/thread_res_loader.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/connection_description.h"

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
  const db::DescriptionEntries& Entries() const { return m_Props; }

 private:
  std::string m_PropsString;
  db::DescriptionEntries m_Props;
};

}  // namespace morvane::datasource
