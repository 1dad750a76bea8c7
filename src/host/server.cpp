#include "host/server.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "call/json_form.h"
#include "call/late_call.h"
#include "host/admission.h"
#include "host/answers.h"
#include "host/request_body.h"
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

// Room for the request line and headers in a request's byte budget, beside its body.
constexpr std::size_t kHeaderAllowance = 1u << 20;

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
    return out;
  }
  return path;
}

}  // namespace

struct Server::Impl {
  explicit Impl(ServerOptions options)
      : config(std::move(options.config)),
        logSink(std::move(options.log)),
        serves(std::move(options.serves)),
        allow(config.allow),
        http(RequestLimits{std::chrono::seconds(config.requestTimeoutSeconds),
                           2 * config.maxBodyBytes + kHeaderAllowance}),
        held(std::chrono::seconds(config.transactionIdleSeconds), [this](std::string_view line) { Log(line); },
             HeldTransactionLimits{config.maxHeldTransactions, config.maxHeldTransactionsPerClient}) {
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
    entry.method = req.method;
    entry.target = LoggedPath(req.path);
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

  // --- endpoints -------------------------------------------------------------------------------

  void Call(const Request& req, Response& res, const std::string& body) {
    const std::string progId = req.matches[1];
    const std::string member = req.matches[2];

    std::unique_ptr<HeldTransactions::Lease> lease;
    if (req.has_header("Transaction")) {
      if (req.get_header_value_count("Transaction") > 1)
        return SetError(res, 400, errors::kInvalidProcedureCall, "the request names more than one transaction");
      const std::string id(TrimHeaderBlanks(req.get_header_value("Transaction")));
      if (Exchange* exchange = HttpServer::CurrentExchange()) exchange->transaction = HeldTransactions::ShortId(id);
      try {
        lease = held.Acquire(id, HeldTransactions::Clock::now() + std::chrono::seconds(config.requestTimeoutSeconds));
      } catch (const automation::Error& e) {
        if (e.Number() != errors::kTransactionBusy) throw;
        return SetError(res, 409, errors::kTransactionBusy,
                        "the transaction named by the Transaction header was busy with another call for longer than "
                        "the request timeout of " + std::to_string(config.requestTimeoutSeconds) +
                            " s; this call did not run; send it again once that call has been answered");
      }
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

  void BeginTransaction(const Request& req, Response& res) {
    std::string id;
    try {
      id = held.Begin(req.remote_addr);
    } catch (const automation::Error& e) {
      if (e.Number() != errors::kTooManyTransactions) throw;
      return SetError(res, 429, ErrorToJson(e));
    }
    if (Exchange* exchange = HttpServer::CurrentExchange()) exchange->transaction = HeldTransactions::ShortId(id);
    SetJson(res, 200, Json{{"id", id}});
  }

  void EndTransaction(const Request& req, Response& res) {
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
    Json classes = Json::array();
    for (const auto& registration : automation::Registry::Instance().Classes())
      if (registration.info != nullptr && serves(*registration.info)) classes.push_back(ClassJson(*registration.info));
    SetJson(res, 200, Json{{"classes", std::move(classes)}});
  }

  void Health(const Request&, Response& res) {
    SetJson(res, 200, Json{{"status", "ok"}});
  }

  void NoEndpoint(const Request& req, Response& res, int status) {
    if (status == 405) res.set_header("Allow", "GET, POST");
    SetError(res, status, errors::kInvalidProcedureCall,
             status == 405 ? "the method " + LogSafe(req.method, 16) + " is not served here; use GET or POST"
                           : "no endpoint " + LogSafe(req.method, 16) + " " + LogSafe(req.path) +
                                 "; see GET /v1/classes for the calls");
  }

  // --- wiring ----------------------------------------------------------------------------------

  using Reading = httplib::Server::HandlerWithContentReader;
  using Plain = httplib::Server::Handler;

  // Admission, applied here for every route but the health probe: a request without the token
  // is answered 401 after its body is read and thrown away (the client sends the body before it
  // reads the answer).
  Reading Admitted(Reading handler) const {
    return [this, handler](const Request& req, Response& res, const ContentReader& reader) {
      if (!admission.Admits(req)) {
        ReadBody(req, reader, nullptr, bodyLimits);
        return Admission::Refuse(res);
      }
      handler(req, res, reader);
    };
  }
  // The same for requests served without reading a body (GET, OPTIONS).
  Plain Admitted(Plain handler) const {
    return [this, handler](const Request& req, Response& res) {
      CloseIfBodyAnnounced(req);
      if (!admission.Admits(req)) return Admission::Refuse(res);
      handler(req, res);
    };
  }

  // A handler of the body's text; the body is read first, and a body that cannot be read is
  // answered instead.
  Reading WithBody(void (Impl::*handler)(const Request&, Response&, const std::string&)) {
    return [this, handler](const Request& req, Response& res, const ContentReader& reader) {
      std::string body;
      if (auto failure = ReadBody(req, reader, &body, bodyLimits)) return AnswerBodyFailure(res, *failure, bodyLimits);
      (this->*handler)(req, res, body);
    };
  }
  // A handler that takes no body: one sent anyway is read and thrown away.
  Reading WithoutBody(std::function<void(const Request&, Response&)> handler) const {
    return [this, handler = std::move(handler)](const Request& req, Response& res, const ContentReader& reader) {
      if (auto failure = ReadBody(req, reader, nullptr, bodyLimits)) return AnswerBodyFailure(res, *failure, bodyLimits);
      handler(req, res);
    };
  }
  Reading WithoutBody(void (Impl::*handler)(const Request&, Response&)) {
    return WithoutBody([this, handler](const Request& req, Response& res) { (this->*handler)(req, res); });
  }

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
    // The library's default also sets SO_REUSEPORT, with which a second host on a port in use
    // starts and the kernel splits the connections between the two. SO_REUSEADDR alone still
    // lets a restarted host take its port back from connections in TIME_WAIT.
    http.set_socket_options([](socket_t sock) {
      int yes = 1;
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.onCut = [this](const Exchange& exchange) { LogCut(exchange); };
    http.set_logger([this](const Request& req, const Response& res) { LogExchange(req, res); });

    http.Post("/v1/transactions", Admitted(WithoutBody(&Impl::BeginTransaction)));
    http.Post(R"(/v1/transactions/([^/]+)/(commit|abort))", Admitted(WithoutBody(&Impl::EndTransaction)));
    http.Post(R"(/v1/([^/]+)/([^/]+))", Admitted(WithBody(&Impl::Call)));
    const Reading notFound = Admitted(WithoutBody([this](const Request& req, Response& res) { NoEndpoint(req, res, 404); }));
    const Reading notAllowed = Admitted(WithoutBody([this](const Request& req, Response& res) { NoEndpoint(req, res, 405); }));
    http.Post(".*", notFound);
    http.Put(".*", notAllowed);
    http.Patch(".*", notAllowed);
    http.Delete(".*", notAllowed);
    http.Options(".*", Admitted([this](const Request& req, Response& res) { NoEndpoint(req, res, 405); }));

    // A client that asks before it sends its body learns at once of a missing token or a body
    // too large, and the connection closes, since the body may follow anyway.
    http.set_expect_100_continue_handler([this](const Request& req, Response& res) {
      if (!admission.Admits(req)) {
        HttpServer::CloseAfterAnswer();
        Admission::Refuse(res);
        return 401;
      }
      if (AnnouncesTooLargeBody(req, bodyLimits)) {
        HttpServer::CloseAfterAnswer();
        AnswerBodyFailure(res, BodyFailure::TooLarge, bodyLimits);
        return 413;
      }
      return 100;
    });

    // The one route that no token guards: a liveness probe.
    http.Get("/v1/health", [this](const Request& req, Response& res) {
      CloseIfBodyAnnounced(req);
      Health(req, res);
    });
    http.Get("/v1/classes", Admitted([this](const Request& req, Response& res) { Classes(req, res); }));
    http.Get(".*", Admitted([this](const Request& req, Response& res) { NoEndpoint(req, res, 404); }));

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
  Admission admission{config.token};
  BodyLimits bodyLimits{config.maxBodyBytes, config.requestTimeoutSeconds};
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
    if (error == EADDRINUSE) throw ListenError("cannot listen on " + listen.Text() + ": address already in use");
    throw ListenError("cannot listen on " + listen.Text() +
                      (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) +
                      " (is the address one of this machine's?)");
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
