// Request bodies the host did not take: the answer for a body that could not be read. On any
// such failure the connection closes after the answer, since what is left of the body cannot be
// told from a next request.
#pragma once

#include <cstddef>

#include "host/http_message.h"

namespace morvane::host {

enum class BodyFailure { TooLarge, TimedOut, Unreadable, Unsupported };

struct BodyLimits {
  std::size_t maxBodyBytes = 0;
  int requestTimeoutSeconds = 0;  // for the 408 answer's text
};

// Answers the failure: 413, 408, 415, or 400 for a body that could not be read.
void AnswerBodyFailure(HttpResponse& res, BodyFailure failure, const BodyLimits& limits);

}  // namespace morvane::host
