#include "host/admission.h"

#include "host/answers.h"
#include "platform/automation/error_numbers.h"
#include "platform/automation/text.h"

namespace morvane::host {

namespace {

// Compares without a shortcut on the first difference, so the time taken does not tell how much
// of a guessed token was right.
bool SameSecret(std::string_view given, std::string_view expected) {
  if (expected.empty()) return given.empty();
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
  return difference == 0;
}

}  // namespace

std::string_view TrimHeaderBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool Admission::Admits(const HttpRequest& req) const {
  if (token_.empty()) return true;
  const std::string value = req.Header("Authorization");
  constexpr std::string_view scheme = "Bearer ";
  if (value.size() <= scheme.size() || !automation::EqualsIgnoreCase(value.substr(0, scheme.size()), scheme))
    return false;
  return SameSecret(TrimHeaderBlanks(std::string_view(value).substr(scheme.size())), token_);
}

void Admission::Refuse(HttpResponse& res) {
  res.SetHeader("WWW-Authenticate", "Bearer");
  SetError(res, 401, automation::errors::kPermissionDenied,
           "this host needs the header \"Authorization: Bearer <token>\" with its token; it was missing or wrong");
}

}  // namespace morvane::host
