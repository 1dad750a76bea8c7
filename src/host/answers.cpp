#include "host/answers.h"

#include "platform/automation/error.h"

namespace morvane::host {

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";

}  // namespace

void SetJson(HttpResponse& res, int status, const call::Json& body) {
  res.status = status;
  res.body = call::DumpJson(body);
  res.contentType = kJsonType;
}

void SetError(HttpResponse& res, int status, const call::Json& error) {
  const auto number = error.find("number");
  if (number != error.end() && number->is_number_integer()) res.errorNumber = number->get<std::int32_t>();
  SetJson(res, status, call::Json{{"error", error}});
}

void SetError(HttpResponse& res, int status, std::int32_t number, const std::string& description) {
  SetError(res, status,
           call::ErrorToJson(automation::Error(number, std::string(automation::kDefaultSource), description)));
}

std::string StatusDescription(int status) {
  switch (status) {
    case 400: return "the request could not be read as HTTP";
    case 404: return "no such endpoint";
    case 408: return "the request was not sent within the request timeout";
    case 413: return "the request body is larger than this host accepts";
    case 414: return "the request target is too long";
    case 415: return "the request body's encoding is not supported";
    default: return "the request could not be served (HTTP " + std::to_string(status) + ")";
  }
}

}  // namespace morvane::host
