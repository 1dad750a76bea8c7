#include "platform/db/sql_text.h"

#include <algorithm>

namespace morvane::db {

std::vector<std::string> SplitStatements(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  bool meaningful = false;  // the piece holds more than blanks and comments
  std::size_t i = 0;
  const std::size_t n = script.size();
  auto finish = [&] {
    if (meaningful) statements.push_back(current);
    current.clear();
    meaningful = false;
  };
  while (i < n) {
    const char c = script[i];
    if (script.substr(i, 2) == "--") {
      const std::size_t end = script.find('\n', i);
      i = end == std::string_view::npos ? n : end;
    } else if (script.substr(i, 2) == "/*") {
      const std::size_t end = script.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      if (meaningful) current += ' ';  // a comment separates what stands around it
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      while (j < n && !(script[j] == close && !(j + 1 < n && script[j + 1] == close))) j += script[j] == close ? 2 : 1;
      const std::size_t end = std::min(j + 1, n);
      current.append(script.substr(i, end - i));
      meaningful = true;
      i = end;
    } else if (c == ';') {
      finish();
      ++i;
    } else {
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') meaningful = true;
      if (meaningful || (c != ' ' && c != '\t' && c != '\r' && c != '\n')) current += c;
      ++i;
    }
  }
  finish();
  for (std::string& s : statements)
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  return statements;
}

}  // namespace morvane::db
