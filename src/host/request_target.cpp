#include "host/request_target.h"

namespace morvane::host {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string RequestPath(std::string_view target) {
  target = target.substr(0, target.find('?'));
  std::string path;
  path.reserve(target.size());
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size()) {
      const int high = HexDigit(target[i + 1]);
      const int low = HexDigit(target[i + 2]);
      if (high >= 0 && low >= 0) {
        path += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    path += target[i];
  }
  return path;
}

}  // namespace morvane::host
