// Request bodies: reading a body within the host's size limit, and the answer for a body that
// could not be read. On any failure the connection closes after the answer, since what is left
// of the body cannot be told from a next request. Called on the thread that serves the request.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <httplib.h>

namespace morvane::host {

enum class BodyFailure { TooLarge, TimedOut, Unreadable, Unsupported };

struct BodyLimits {
  std::size_t maxBodyBytes = 0;
  int requestTimeoutSeconds = 0;  // for the 408 answer's text
};

// Reads the body into `out` (or throws it away when `out` is null), at most maxBodyBytes. A
// request that announces no length has no body. A body a little over the limit (up to twice) is
// read and thrown away, so that the client, which sends it before it reads the answer, gets the
// answer; one far over it is not waited for.
std::optional<BodyFailure> ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
                                    std::string* out, const BodyLimits& limits);

// Answers the failure: 413, 408, 415, or 400 for a body that could not be read.
void AnswerBodyFailure(httplib::Response& res, BodyFailure failure, const BodyLimits& limits);

// True when a request that "Expect: 100-continue"s announces a body over the limit.
bool AnnouncesTooLargeBody(const httplib::Request& req, const BodyLimits& limits);

// For requests served without reading a body (GET, HEAD, OPTIONS): when one announces a body
// anyway, the connection closes after the answer.
void CloseIfBodyAnnounced(const httplib::Request& req);

}  // namespace morvane::host
