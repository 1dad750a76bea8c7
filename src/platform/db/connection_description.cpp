#include "platform/db/connection_description.h"

#include <unordered_set>

#include "platform/automation/error.h"
#include "platform/automation/text.h"

namespace morvane::db {

namespace {

constexpr std::string_view kNameEnd = "=";
constexpr std::string_view kValueEnd = ";";
constexpr char kBraceOpen = '{';
constexpr std::string_view kBraceClose = "}";

// The part before the first delimiter; the rest becomes what follows it. Without a delimiter the
// whole rest is the result and the rest becomes empty. Working on a view of the rest parses a
// long text in one pass without copying its rest once per entry.
std::string_view SplitFirst(std::string_view& rest, std::string_view delimiter) {
  const auto pos = rest.find(delimiter);
  if (pos == std::string_view::npos) return std::exchange(rest, std::string_view{});
  const std::string_view first = rest.substr(0, pos);
  rest.remove_prefix(pos + delimiter.size());
  return first;
}

std::string_view NextName(std::string_view& rest) { return automation::TrimSpaces(SplitFirst(rest, kNameEnd)); }

std::string_view NextValue(std::string_view& rest) {
  rest = automation::TrimSpaces(rest);
  std::string_view value;
  if (!rest.empty() && rest.front() == kBraceOpen) {
    rest.remove_prefix(1);
    value = SplitFirst(rest, kBraceClose);
    SplitFirst(rest, kValueEnd);  // skips whatever follows the "}" up to and including the ";"
  } else {
    value = SplitFirst(rest, kValueEnd);
  }
  return automation::TrimSpaces(value);
}

}  // namespace

void ParseConnectionDescription(std::string_view text, DescriptionEntries& entries) {
  entries.clear();
  // Names already taken, ASCII letters folded; keeps the duplicate test linear in the text.
  std::unordered_set<std::string> taken;
  std::string_view rest = text;
  for (;;) {
    const std::string_view name = NextName(rest);
    const std::string_view value = NextValue(rest);
    if (name.empty()) break;
    if (!taken.insert(automation::AsciiLower(name)).second) automation::Raise(automation::errors::kDuplicateKey);
    entries.emplace_back(std::string(name), std::string(value));
  }
}

const std::string* FindDescriptionEntry(const DescriptionEntries& entries, std::string_view name) {
  for (const auto& [key, value] : entries)
    if (automation::EqualsIgnoreCase(key, name)) return &value;
  return nullptr;
}

const std::string& DescriptionEntry(const DescriptionEntries& entries, std::string_view name) {
  if (const std::string* value = FindDescriptionEntry(entries, name)) return *value;
  automation::Raise(automation::errors::kInvalidProcedureCall);
}

}  // namespace morvane::db
