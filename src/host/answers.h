// The host's answers: JSON bodies, and the error body that every answer other than 200 carries,
// {"error": {number, hresult, source, description, helpFile}}. The number answered is noted on
// the answer, for the access log and the metrics.
#pragma once

#include <cstdint>
#include <string>

#include "call/json_form.h"
#include "host/http_message.h"

namespace morvane::host {

// Writes `body` as the answer with `status`.
void SetJson(HttpResponse& res, int status, const call::Json& body);
// Writes {"error": error} with `status`; `error` is an error object of the JSON form.
void SetError(HttpResponse& res, int status, const call::Json& error);
// The same for an error the host makes itself (Source "Morvane").
void SetError(HttpResponse& res, int status, std::int32_t number, const std::string& description);

// The description of an answer the HTTP server makes itself (a request it could not read).
std::string StatusDescription(int status);

}  // namespace morvane::host
