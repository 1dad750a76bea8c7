#include "host/request_body.h"

#include "host/admission.h"
#include "host/answers.h"
#include "host/server_http.h"
#include "platform/automation/error_numbers.h"
#include "platform/automation/text.h"

namespace morvane::host {

namespace {

// The Content-Length header as a number, or nullopt when it is not a plain decimal length.
std::optional<unsigned long long> DeclaredLength(const httplib::Request& req) {
  const std::string length(TrimHeaderBlanks(req.get_header_value("Content-Length")));
  if (length.empty() || length.size() > 19 || length.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoull(length);
}

}  // namespace

std::optional<BodyFailure> ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
                                    std::string* out, const BodyLimits& limits) {
  const bool chunked = req.has_header("Transfer-Encoding");
  const bool sized = req.has_header("Content-Length");
  auto fail = [](BodyFailure failure) {
    HttpServer::CloseAfterAnswer();
    return failure;
  };
  if (chunked &&
      (sized || !automation::EqualsIgnoreCase(TrimHeaderBlanks(req.get_header_value("Transfer-Encoding")), "chunked")))
    return fail(BodyFailure::Unreadable);
  if (req.get_header_value_count("Content-Length") > 1) return fail(BodyFailure::Unreadable);
  std::optional<unsigned long long> declared;
  if (sized) {
    declared = DeclaredLength(req);
    if (!declared) return fail(BodyFailure::Unreadable);
    if (*declared > 2 * limits.maxBodyBytes) return fail(BodyFailure::TooLarge);
  } else if (!chunked) {
    return std::nullopt;
  }
  if (req.is_multipart_form_data()) return fail(BodyFailure::Unsupported);

  std::size_t total = 0;
  bool tooLarge = false;
  const bool read = reader([&](const char* data, std::size_t length) {
    total += length;
    if (total > limits.maxBodyBytes) {
      // Thrown away up to twice the limit, as a declared length is: the client gets its answer.
      tooLarge = true;
      if (out) out->clear();
      return total <= 2 * limits.maxBodyBytes;
    }
    if (out) out->append(data, length);
    return true;
  });
  if (read && !tooLarge) return std::nullopt;
  const Exchange* exchange = HttpServer::CurrentExchange();
  // The library answers a declared length above the limit with 413 after reading past it.
  if (tooLarge || (declared && *declared > limits.maxBodyBytes)) return fail(BodyFailure::TooLarge);
  if (exchange && exchange->timedOut) return fail(BodyFailure::TimedOut);
  return fail(BodyFailure::Unreadable);
}

void AnswerBodyFailure(httplib::Response& res, BodyFailure failure, const BodyLimits& limits) {
  constexpr std::int32_t kBadRequest = automation::errors::kInvalidProcedureCall;
  switch (failure) {
    case BodyFailure::TooLarge:
      return SetError(res, 413, kBadRequest,
                      "the request body is larger than " + std::to_string(limits.maxBodyBytes) +
                          " bytes, the most this host accepts");
    case BodyFailure::TimedOut:
      return SetError(res, 408, kBadRequest,
                      "the request body was not sent within " + std::to_string(limits.requestTimeoutSeconds) +
                          " seconds");
    case BodyFailure::Unsupported:
      return SetError(res, 415, kBadRequest, "the body must be JSON text; multipart form data is not read");
    case BodyFailure::Unreadable: break;
  }
  SetError(res, 400, kBadRequest,
           "the request body could not be read (its Content-Length or Transfer-Encoding is not valid, or the "
           "connection broke)");
}

bool AnnouncesTooLargeBody(const httplib::Request& req, const BodyLimits& limits) {
  const std::optional<unsigned long long> declared = DeclaredLength(req);
  return declared && *declared > limits.maxBodyBytes;
}

void CloseIfBodyAnnounced(const httplib::Request& req) {
  if (req.has_header("Transfer-Encoding") ||
      (req.has_header("Content-Length") && TrimHeaderBlanks(req.get_header_value("Content-Length")) != "0"))
    HttpServer::CloseAfterAnswer();
}

}  // namespace morvane::host
