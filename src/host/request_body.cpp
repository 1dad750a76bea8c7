#include "host/request_body.h"

#include <string>

#include "host/answers.h"
#include "platform/automation/error_numbers.h"

namespace morvane::host {

void AnswerBodyFailure(HttpResponse& res, BodyFailure failure, const BodyLimits& limits) {
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

}  // namespace morvane::host
