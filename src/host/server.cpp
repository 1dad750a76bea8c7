#include "host/server.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "call/json_form.h"
#include "call/late_call.h"
#include "host/server_access_log.h"
#include "host/server_allow_list.h"
#include "call/class_description.h"
#include "host/server_http.h"
#include "host/server_transactions.h"
#include "platform/automation/error.h"
#include "platform/automation/registry.h"
#include "platform/mts/runtime.h"
#include "service/type_library.h"

namespace morvane::host {

namespace errors = automation::errors;

using call::CallOutcome;
using call::CallOutcomeKind;
using call::ClassJson;
using call::DumpJson;
using call::ErrorToJson;
using call::Json;
using errors::kInternalError;
using call::LateCallOptions;
using call::LateCallText;

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr const char* kJsonType = "application/json; charset=utf-8";

// Room for the request line and headers in a request's byte budget, beside its body.
constexpr std::size_t kHeaderAllowance = 1u << 20;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Compares without a shortcut on the first difference, so the time taken does not tell how much
// of a guessed token was right.
bool SameSecret(std::string_view given, std::string_view expected) {
  if (expected.empty()) return given.empty();
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
  return difference == 0;
}

void SetJson(Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(DumpJson(body), kJsonType);
}

void SetError(Response& res, int status, const Json& error) {
  if (Exchange* exchange = HttpServer::CurrentExchange()) {
    const auto number = error.find("number");
    if (number != error.end() && number->is_number_integer()) exchange->errorNumber = number->get<std::int32_t>();
  }
  SetJson(res, status, Json{{"error", error}});
}

void SetError(Response& res, int status, std::int32_t number, const std::string& description) {
  SetError(res, status, ErrorToJson(automation::Error(number, std::string(automation::kDefaultSource), description)));
}

// The description of an answer the library makes itself (a request it could not read).
std::string StatusDescription(int status) {
  switch (status) {
    case 400: return "the request could not be read as HTTP";
    case 404: return "no such endpoint";
    case 408: return "the request was not sent within the request timeout";
    case 413: return "the request body is larger than this host accepts";
    case 414: return "the request target is too long";
    case 415: return "the request body's encoding is not supported";
    case 416: return "the requested range cannot be served";
    default: return "the request could not be served (HTTP " + std::to_string(status) + ")";
  }
}

// "/v1/transactions/<id>/commit" with the identifier shortened, so the log does not keep ids.
std::string LoggedPath(const std::string& path) {
  constexpr std::string_view prefix = "/v1/transactions/";
  if (path.size() > prefix.size() && path.starts_with(prefix)) {
    const std::string_view rest = std::string_view(path).substr(prefix.size());
    const auto slash = rest.find('/');
    const std::string_view id = rest.substr(0, slash);
    std::string out(prefix);
    out += HeldTransactions::ShortId(id);
    if (id.size() > 8) out += "...";
    if (slash != std::string_view::npos) out += rest.substr(slash);
    return LogSafe(out);
  }
  return LogSafe(path);
}

enum class BodyFailure { TooLarge, TimedOut, Unreadable, Unsupported };

}  // namespace

struct Server::Impl {
  explicit Impl(ServerOptions options)
      : config(std::move(options.config)),
        logSink(std::move(options.log)),
        serves(std::move(options.serves)),
        allow(config.allow),
        http(RequestLimits{std::chrono::seconds(config.requestTimeoutSeconds),
                           2 * config.maxBodyBytes + kHeaderAllowance}),
        held(std::chrono::seconds(config.transactionIdleSeconds), [this](std::string_view line) { Log(line); }) {
    if (!serves) serves = [](const automation::TypeInfo& info) { return info.typeLibrary == service::kTypeLibraryName; };
    callOptions.validate = allow.Validator();
    Configure();
  }

  // --- the log ---------------------------------------------------------------------------------

  void Log(std::string_view line) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (logSink) {
      logSink(line);
    } else {
      std::string text(line);
      text += '\n';
      std::cerr << text << std::flush;
    }
  }

  void LogExchange(const Request& req, const Response& res) {
    Exchange* exchange = HttpServer::CurrentExchange();
    AccessLogEntry entry;
    entry.time = exchange ? exchange->startedAt : std::chrono::system_clock::now();
    entry.remote = exchange ? exchange->remote : req.remote_addr;
    entry.method = req.method.empty() ? "-" : LogSafe(req.method, 16);
    entry.target = req.path.empty() ? "-" : LoggedPath(req.path);
    entry.status = res.status;
    if (exchange) {
      entry.durationMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - exchange->started).count();
      entry.errorNumber = exchange->errorNumber;
      entry.transaction = exchange->transaction;
      exchange->answered = true;
    }
    Log(FormatAccessLogLine(entry));
  }

  void LogCut(const Exchange& exchange) {
    AccessLogEntry entry;
    entry.time = exchange.startedAt;
    entry.remote = exchange.remote;
    entry.method = "-";
    entry.target = exchange.timedOut ? "(connection closed: request timeout)" : "(connection closed: request too large)";
    entry.status = exchange.timedOut ? 408 : 413;
    entry.durationMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - exchange.started).count();
    Log(FormatAccessLogLine(entry));
  }

  // --- request plumbing ------------------------------------------------------------------------

  bool Authorised(const Request& req) const {
    if (config.token.empty()) return true;
    const std::string value = req.get_header_value("Authorization");
    constexpr std::string_view scheme = "Bearer ";
    if (value.size() <= scheme.size() || !automation::EqualsIgnoreCase(value.substr(0, scheme.size()), scheme))
      return false;
    return SameSecret(Trim(std::string_view(value).substr(scheme.size())), config.token);
  }

  static void Unauthorised(Response& res) {
    res.set_header("WWW-Authenticate", "Bearer");
    SetError(res, 401, errors::kPermissionDenied,
             "this host needs the header \"Authorization: Bearer <token>\" with its token; it was missing or wrong");
  }

  // Reads the body into `out` (or throws it away when `out` is null), at most maxBodyBytes. A
  // request that announces no length has no body. On failure the connection closes after the
  // answer, as what is left of the body cannot be told from a next request.
  std::optional<BodyFailure> ReadBody(const Request& req, const ContentReader& reader, std::string* out) const {
    const bool chunked = req.has_header("Transfer-Encoding");
    const bool sized = req.has_header("Content-Length");
    auto fail = [](BodyFailure failure) {
      HttpServer::CloseAfterAnswer();
      return failure;
    };
    if (chunked && (sized || !automation::EqualsIgnoreCase(Trim(req.get_header_value("Transfer-Encoding")), "chunked")))
      return fail(BodyFailure::Unreadable);
    if (req.get_header_value_count("Content-Length") > 1) return fail(BodyFailure::Unreadable);
    if (sized) {
      const std::string length(Trim(req.get_header_value("Content-Length")));
      if (length.empty() || length.size() > 19 || length.find_first_not_of("0123456789") != std::string::npos)
        return fail(BodyFailure::Unreadable);
      // A body a little over the limit is read and thrown away, so that the client, which sends
      // it before it reads the answer, gets the answer; one far over it is not waited for.
      if (std::stoull(length) > 2 * config.maxBodyBytes) return fail(BodyFailure::TooLarge);
    } else if (!chunked) {
      return std::nullopt;
    }
    if (req.is_multipart_form_data()) return fail(BodyFailure::Unsupported);

    std::size_t total = 0;
    bool tooLarge = false;
    const bool read = reader([&](const char* data, std::size_t length) {
      total += length;
      if (total > config.maxBodyBytes) {
        // Thrown away up to twice the limit, as a declared length is: the client gets its answer.
        tooLarge = true;
        if (out) out->clear();
        return total <= 2 * config.maxBodyBytes;
      }
      if (out) out->append(data, length);
      return true;
    });
    if (read && !tooLarge) return std::nullopt;
    const Exchange* exchange = HttpServer::CurrentExchange();
    // The library answers a declared length above the limit with 413 after reading past it.
    if (tooLarge || (sized && std::stoull(req.get_header_value("Content-Length")) > config.maxBodyBytes))
      return fail(BodyFailure::TooLarge);
    if (exchange && exchange->timedOut) return fail(BodyFailure::TimedOut);
    return fail(BodyFailure::Unreadable);
  }

  void AnswerBodyFailure(Response& res, BodyFailure failure) const {
    switch (failure) {
      case BodyFailure::TooLarge:
        return SetError(res, 413, errors::kInvalidProcedureCall,
                        "the request body is larger than " + std::to_string(config.maxBodyBytes) +
                            " bytes, the most this host accepts");
      case BodyFailure::TimedOut:
        return SetError(res, 408, errors::kInvalidProcedureCall,
                        "the request body was not sent within " + std::to_string(config.requestTimeoutSeconds) +
                            " seconds");
      case BodyFailure::Unsupported:
        return SetError(res, 415, errors::kInvalidProcedureCall,
                        "the body must be JSON text; multipart form data is not read");
      case BodyFailure::Unreadable: break;
    }
    SetError(res, 400, errors::kInvalidProcedureCall,
             "the request body could not be read (its Content-Length or Transfer-Encoding is not valid, or the "
             "connection broke)");
  }

  // Checks the token and reads a body that the endpoint does not use; false when answered.
  bool AdmitWithoutBody(const Request& req, Response& res, const ContentReader& reader) const {
    const bool authorised = Authorised(req);
    if (auto failure = ReadBody(req, reader, nullptr)) {
      if (authorised) {
        AnswerBodyFailure(res, *failure);
        return false;
      }
    }
    if (!authorised) {
      Unauthorised(res);
      return false;
    }
    return true;
  }

  // GET, HEAD and OPTIONS requests are served without reading a body: when one announces a body
  // anyway, the connection closes after the answer.
  static void CloseIfBodyAnnounced(const Request& req) {
    if (req.has_header("Transfer-Encoding") ||
        (req.has_header("Content-Length") && Trim(req.get_header_value("Content-Length")) != "0"))
      HttpServer::CloseAfterAnswer();
  }

  // --- endpoints -------------------------------------------------------------------------------

  void Call(const Request& req, Response& res, const ContentReader& reader) {
    const std::string progId = req.matches[1];
    const std::string member = req.matches[2];
    const bool authorised = Authorised(req);
    std::string body;
    const auto failure = ReadBody(req, reader, authorised ? &body : nullptr);
    if (!authorised) return Unauthorised(res);
    if (failure) return AnswerBodyFailure(res, *failure);

    std::unique_ptr<HeldTransactions::Lease> lease;
    if (req.has_header("Transaction")) {
      if (req.get_header_value_count("Transaction") > 1)
        return SetError(res, 400, errors::kInvalidProcedureCall, "the request names more than one transaction");
      const std::string id(Trim(req.get_header_value("Transaction")));
      if (Exchange* exchange = HttpServer::CurrentExchange()) exchange->transaction = HeldTransactions::ShortId(id);
      lease = held.Acquire(id);
      if (!lease)
        return SetError(res, 404, errors::kTransactionEnded,
                        "the transaction named by the Transaction header is not held here: it never began, or it "
                        "was committed, aborted or aborted after being idle");
    }

    const auto registration = automation::Registry::Instance().Find(progId);
    if (!registration || registration->info == nullptr || !serves(*registration->info))
      return SetError(res, 404, errors::kCannotCreateObject, "no class \"" + progId + "\" is served by this host");

    CallOutcome outcome;
    {
      std::optional<mts::TransactionBinding> binding;
      if (lease) binding.emplace(lease->transaction());
      outcome = LateCallText(progId, member, body, callOptions);
    }
    lease.reset();

    switch (outcome.kind) {
      case CallOutcomeKind::Ok: return SetJson(res, 200, Json{{"result", std::move(outcome.body)}});
      case CallOutcomeKind::CallError: return SetError(res, 422, outcome.body);
      case CallOutcomeKind::BadRequest:
        return SetError(res, 400, outcome.number != 0 ? outcome.number : errors::kInvalidProcedureCall, outcome.message);
      case CallOutcomeKind::NotFound:
        return SetError(res, 404, outcome.number != 0 ? outcome.number : errors::kCannotCreateObject, outcome.message);
      case CallOutcomeKind::Refused: return SetError(res, 403, errors::kPermissionDenied, outcome.message);
    }
  }

  void BeginTransaction(const Request& req, Response& res, const ContentReader& reader) {
    if (!AdmitWithoutBody(req, res, reader)) return;
    const std::string id = held.Begin();
    if (Exchange* exchange = HttpServer::CurrentExchange()) exchange->transaction = HeldTransactions::ShortId(id);
    SetJson(res, 200, Json{{"id", id}});
  }

  void EndTransaction(const Request& req, Response& res, const ContentReader& reader) {
    if (!AdmitWithoutBody(req, res, reader)) return;
    const std::string id = req.matches[1];
    const bool commit = req.matches[2] == "commit";
    if (Exchange* exchange = HttpServer::CurrentExchange()) exchange->transaction = HeldTransactions::ShortId(id);
    HeldTransactions::EndResult result;
    try {
      result = commit ? held.Commit(id) : held.Abort(id);
    } catch (const automation::Error& e) {
      // Nothing of the transaction stays: a doomed one is rolled back, a failed commit too.
      return SetError(res, 409, ErrorToJson(e));
    }
    if (result == HeldTransactions::EndResult::NotFound)
      return SetError(res, 404, errors::kTransactionEnded,
                      "no transaction with that id is held here: it never began, or it was committed, aborted or "
                      "aborted after being idle");
    SetJson(res, 200, Json{{"id", id}, {"state", commit ? "committed" : "aborted"}});
  }

  void Classes(const Request& req, Response& res) {
    CloseIfBodyAnnounced(req);
    if (!Authorised(req)) return Unauthorised(res);
    Json classes = Json::array();
    for (const auto& registration : automation::Registry::Instance().Classes())
      if (registration.info != nullptr && serves(*registration.info)) classes.push_back(ClassJson(*registration.info));
    SetJson(res, 200, Json{{"classes", std::move(classes)}});
  }

  void Health(const Request& req, Response& res) {
    CloseIfBodyAnnounced(req);
    SetJson(res, 200, Json{{"status", "ok"}});
  }

  void NoEndpoint(const Request& req, Response& res, const ContentReader* reader, int status) {
    if (reader) {
      if (!AdmitWithoutBody(req, res, *reader)) return;
    } else {
      CloseIfBodyAnnounced(req);
      if (!Authorised(req)) return Unauthorised(res);
    }
    if (status == 405) res.set_header("Allow", "GET, POST");
    SetError(res, status, errors::kInvalidProcedureCall,
             status == 405 ? "the method " + LogSafe(req.method, 16) + " is not served here; use GET or POST"
                           : "no endpoint " + LogSafe(req.method, 16) + " " + LogSafe(req.path) +
                                 "; see GET /v1/classes for the calls");
  }

  // --- wiring ----------------------------------------------------------------------------------

  void Configure() {
    const auto workers = static_cast<std::size_t>(config.workers);
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    http.set_read_timeout(config.requestTimeoutSeconds);
    http.set_write_timeout(config.requestTimeoutSeconds);
    http.set_payload_max_length(config.maxBodyBytes);
    http.set_keep_alive_timeout(5);
    // Header and body go out in separate writes: without this, each answer waits for the
    // client's delayed acknowledgement (about 40 ms on Linux).
    http.set_tcp_nodelay(true);
    http.onCut = [this](const Exchange& exchange) { LogCut(exchange); };
    http.set_logger([this](const Request& req, const Response& res) { LogExchange(req, res); });

    using Reading = httplib::Server::HandlerWithContentReader;
    auto reading = [this](void (Impl::*handler)(const Request&, Response&, const ContentReader&)) -> Reading {
      return [this, handler](const Request& req, Response& res, const ContentReader& reader) {
        (this->*handler)(req, res, reader);
      };
    };
    http.Post("/v1/transactions", reading(&Impl::BeginTransaction));
    http.Post(R"(/v1/transactions/([^/]+)/(commit|abort))", reading(&Impl::EndTransaction));
    http.Post(R"(/v1/([^/]+)/([^/]+))", reading(&Impl::Call));
    const Reading notFound = [this](const Request& req, Response& res, const ContentReader& reader) {
      NoEndpoint(req, res, &reader, 404);
    };
    const Reading notAllowed = [this](const Request& req, Response& res, const ContentReader& reader) {
      NoEndpoint(req, res, &reader, 405);
    };
    http.Post(".*", notFound);
    http.Put(".*", notAllowed);
    http.Patch(".*", notAllowed);
    http.Delete(".*", notAllowed);
    http.Options(".*", [this](const Request& req, Response& res) { NoEndpoint(req, res, nullptr, 405); });

    // A client that asks before it sends its body learns at once of a missing token or a body
    // too large, and the connection closes, since the body may follow anyway.
    http.set_expect_100_continue_handler([this](const Request& req, Response& res) {
      if (!Authorised(req)) {
        HttpServer::CloseAfterAnswer();
        Unauthorised(res);
        return 401;
      }
      const std::string length(Trim(req.get_header_value("Content-Length")));
      if (!length.empty() && length.size() <= 19 && length.find_first_not_of("0123456789") == std::string::npos &&
          std::stoull(length) > config.maxBodyBytes) {
        HttpServer::CloseAfterAnswer();
        AnswerBodyFailure(res, BodyFailure::TooLarge);
        return 413;
      }
      return 100;
    });

    http.Get("/v1/health", [this](const Request& req, Response& res) { Health(req, res); });
    http.Get("/v1/classes", [this](const Request& req, Response& res) { Classes(req, res); });
    http.Get(".*", [this](const Request& req, Response& res) { NoEndpoint(req, res, nullptr, 404); });

    // Answers the library makes itself (a request line or header it cannot read, a method it does
    // not know) get the same JSON error body as the host's own.
    http.set_error_handler(httplib::Server::HandlerWithResponse([](const Request&, Response& res) {
      if (res.body.empty()) {
        const Exchange* exchange = HttpServer::CurrentExchange();
        if (exchange && exchange->timedOut) res.status = 408;
        SetError(res, res.status, res.status >= 500 ? errors::kInternalError : errors::kInvalidProcedureCall,
                 StatusDescription(res.status));
      }
      return httplib::Server::HandlerResponse::Handled;
    }));
    http.set_exception_handler([](const Request&, Response& res, std::exception_ptr error) {
      std::string what = "an unknown exception";
      try {
        if (error) std::rethrow_exception(error);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      HttpServer::CloseAfterAnswer();
      SetError(res, 500, errors::kInternalError, "Internal error: " + MaskPasswords(what));
    });
  }

  HostConfig config;
  std::function<void(std::string_view)> logSink;
  std::mutex logMutex;  // serialises logSink and standard error
  std::function<bool(const automation::TypeInfo&)> serves;
  ConnectStringAllowList allow;
  LateCallOptions callOptions;
  HttpServer http;
  HeldTransactions held;

  std::mutex runMutex;
  bool stopRequested = false;  // guarded by runMutex
  bool running = false;        // guarded by runMutex: Run is between its start and its return
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { Stop(); }

const HostConfig& Server::config() const { return impl_->config; }

int Server::Bind() {
  const ListenAddress& listen = impl_->config.listen;
  errno = 0;
  int port = listen.port;
  bool bound;
  if (port == 0) {
    port = impl_->http.bind_to_any_port(listen.host);
    bound = port > 0;
  } else {
    bound = impl_->http.bind_to_port(listen.host, port);
  }
  if (!bound) {
    const int error = errno;
    throw HostConfigError("cannot listen on " + listen.Text() +
                          (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) +
                          " (is the port in use, or the address not one of this machine's?)");
  }
  return port;
}

bool Server::Run() {
  {
    std::lock_guard<std::mutex> lock(impl_->runMutex);
    if (impl_->stopRequested) return true;
    impl_->running = true;
  }
  const bool ok = impl_->http.listen_after_bind();
  std::lock_guard<std::mutex> lock(impl_->runMutex);
  impl_->running = false;
  return ok;
}

void Server::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->runMutex);
    impl_->stopRequested = true;
  }
  // Run may have begun without the library having started its loop yet: its stop() only acts
  // on a running loop, so wait for the loop to run or for Run to return.
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(impl_->runMutex);
      if (!impl_->running) break;
    }
    if (impl_->http.is_running()) {
      impl_->http.stop();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string CurlExample(const ListenAddress& listen, std::string_view sDsn, bool withToken) {
  std::string host = listen.host;
  if (host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  const std::string authority = ListenAddress{host, listen.port}.Text();
  std::string body = DumpJson(Json::array({std::string(sDsn)}));
  std::string quoted;
  for (char c : body) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  std::string line = "curl -s -X POST http://" + authority + "/v1/Morvane.VchTempSetInfo/GetBaseList";
  if (withToken) line += " -H \"Authorization: Bearer $MORVANE_TOKEN\"";
  line += " -d '" + quoted + "'";
  return line;
}

}  // namespace morvane::host
