#include "host/http_message.h"

#include <algorithm>

#include "platform/automation/text.h"

namespace morvane::host {

bool HttpRequest::HasHeader(std::string_view name) const { return HeaderCount(name) > 0; }

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (automation::EqualsIgnoreCase(key, name)) return value;
  return {};
}

std::size_t HttpRequest::HeaderCount(std::string_view name) const {
  return static_cast<std::size_t>(std::count_if(headers.begin(), headers.end(), [name](const auto& header) {
    return automation::EqualsIgnoreCase(header.first, name);
  }));
}

void HttpResponse::SetHeader(std::string name, std::string value) {
  for (auto& header : headers)
    if (automation::EqualsIgnoreCase(header.first, name)) {
      header.second = std::move(value);
      return;
    }
  headers.emplace_back(std::move(name), std::move(value));
}

}  // namespace morvane::host
