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
#include "host/server_access_log.h"
#include "host/readiness.h"
#include "host/server_allow_list.h"
#include "host/server_metrics.h"
#include "call/class_description.h"
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

bool ServesTheComponentsClasses(const automation::TypeInfo& info) {
  return info.typeLibrary == service::kTypeLibraryName;
}

}  // namespace

struct Server::Impl {
  explicit Impl(ServerOptions options)
      : config(std::move(options.config)),
        logSink(std::move(options.log)),
        serves(options.serves ? std::move(options.serves) : ServesTheComponentsClasses),
        allow(config.allow),
        held(std::chrono::seconds(config.transactionIdleSeconds), [this](std::string_view line) { Log(line); },
             HeldTransactionLimits{config.maxHeldTransactions, config.maxHeldTransactionsPerClient}) {
    callOptions.validate = allow.Validator();
    http = std::make_unique<HttpServer>(Limits(config), Hooks(), config.tls);
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

  void LogExchange(const ExchangeRecord& record) {
    AccessLogEntry entry;
    entry.time = record.startedAt;
    entry.remote = record.remote;
    entry.durationMs = std::chrono::duration<double, std::milli>(record.duration).count();
    if (record.request != nullptr && record.note.empty()) {
      entry.method = record.request->method;
      entry.target = LoggedPath(record.request->path);
    } else {
      entry.method = "-";
      entry.target = record.note;
    }
    if (record.response != nullptr) {
      entry.status = record.response->status;
      entry.errorNumber = record.response->errorNumber;
      entry.transaction = record.response->transaction;
    }
    Log(FormatAccessLogLine(entry, config.accessLog));
    Count(record);
  }

  // The exchange in the metrics: calls by class and member, the rest by endpoint.
  void Count(const ExchangeRecord& record) {
    const int status = record.response != nullptr ? record.response->status : 0;
    const double seconds = std::chrono::duration<double>(record.duration).count();
    const HttpRequest* req = record.request;
    const Endpoint endpoint = req != nullptr && record.note.empty() ? EndpointOf(*req) : Endpoint::Other;
    if (endpoint == Endpoint::Call) metrics.CountCall(req->matches[1], req->matches[2], status, seconds);
    else metrics.CountRequest(endpoint, status, seconds);
    // 422 and 409 carry an error that the component or the transaction raised.
    if ((status == 422 || status == 409) && record.response->errorNumber != 0)
      metrics.CountRaisedError(record.response->errorNumber);
  }

  // --- endpoints -------------------------------------------------------------------------------

  void Call(const HttpRequest& req, HttpResponse& res, const std::string& body) {
    const std::string progId = req.matches[1];
    const std::string member = req.matches[2];

    std::unique_ptr<HeldTransactions::Lease> lease;
    if (req.HasHeader("Transaction")) {
      if (req.HeaderCount("Transaction") > 1)
        return SetError(res, 400, errors::kInvalidProcedureCall, "the request names more than one transaction");
      const std::string id(TrimHeaderBlanks(req.Header("Transaction")));
      res.transaction = HeldTransactions::ShortId(id);
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

  void BeginTransaction(const HttpRequest& req, HttpResponse& res) {
    std::string id;
    try {
      id = held.Begin(req.remoteIp);
    } catch (const automation::Error& e) {
      if (e.Number() != errors::kTooManyTransactions) throw;
      return SetError(res, 429, ErrorToJson(e));
    }
    res.transaction = HeldTransactions::ShortId(id);
    SetJson(res, 200, Json{{"id", id}});
  }

  void EndTransaction(const HttpRequest& req, HttpResponse& res) {
    const std::string id = req.matches[1];
    const bool commit = req.matches[2] == "commit";
    res.transaction = HeldTransactions::ShortId(id);
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

  void Classes(const HttpRequest& req, HttpResponse& res) {
    Json classes = Json::array();
    for (const auto& registration : automation::Registry::Instance().Classes())
      if (registration.info != nullptr && serves(*registration.info)) classes.push_back(ClassJson(*registration.info));
    SetJson(res, 200, Json{{"classes", std::move(classes)}});
  }

  void Health(const HttpRequest&, HttpResponse& res) {
    SetJson(res, 200, Json{{"status", "ok"}});
  }

  void Ready(const HttpRequest&, HttpResponse& res) {
    ReadinessAnswer answer = ReadinessAnswerFor(readiness.Run());
    if (answer.status == 200) return SetJson(res, 200, answer.body);
    SetError(res, answer.status, answer.body["error"]);
  }

  void Metrics(const HttpRequest&, HttpResponse& res) {
    res.body = metrics.Text();
    res.contentType = kMetricsContentType;
  }

  void NoEndpoint(const HttpRequest& req, HttpResponse& res, int status) {
    if (status == 405) res.SetHeader("Allow", "GET, POST");
    SetError(res, status, errors::kInvalidProcedureCall,
             status == 405 ? "the method " + LogSafe(req.method, 16) + " is not served here; use GET or POST"
                           : "no endpoint " + LogSafe(req.method, 16) + " " + LogSafe(req.path) +
                                 "; see GET /v1/classes for the calls");
  }

  // --- routing ---------------------------------------------------------------------------------

  // Every route but the liveness probe asks for the token first.
  void Route(HttpRequest& req, HttpResponse& res) {
    const std::string& path = req.path;
    const bool get = req.method == "GET" || req.method == "HEAD";
    if (get && path == "/v1/health") return Health(req, res);
    if (!admission.Admits(req)) return Admission::Refuse(res);
    if (get) {
      if (path == "/v1/classes") return Classes(req, res);
      if (path == "/v1/ready") return Ready(req, res);
      if (path == "/metrics") return Metrics(req, res);
      return NoEndpoint(req, res, 404);
    }
    if (req.method != "POST") return NoEndpoint(req, res, 405);
    if (path == "/v1/transactions") return BeginTransaction(req, res);
    if (auto parts = PathParts(path, "/v1/transactions/"); parts.size() == 2 && (parts[1] == "commit" || parts[1] == "abort")) {
      req.matches = {path, parts[0], parts[1]};
      return EndTransaction(req, res);
    }
    if (auto parts = PathParts(path, "/v1/"); parts.size() == 2) {
      req.matches = {path, parts[0], parts[1]};
      return Call(req, res, req.body);
    }
    NoEndpoint(req, res, 404);
  }

  // The endpoint a routed request reached, for the metrics.
  static Endpoint EndpointOf(const HttpRequest& req) {
    const bool get = req.method == "GET" || req.method == "HEAD";
    if (get && req.path == "/v1/health") return Endpoint::Health;
    if (get && req.path == "/v1/ready") return Endpoint::Ready;
    if (get && req.path == "/v1/classes") return Endpoint::Classes;
    if (get && req.path == "/metrics") return Endpoint::Metrics;
    if (req.method != "POST") return Endpoint::Other;
    if (req.path == "/v1/transactions") return Endpoint::BeginTransaction;
    if (req.matches.size() != 3) return Endpoint::Other;
    if (req.path.starts_with("/v1/transactions/") && (req.matches[2] == "commit" || req.matches[2] == "abort"))
      return req.matches[2] == "commit" ? Endpoint::CommitTransaction : Endpoint::AbortTransaction;
    return Endpoint::Call;
  }

  // The segments of `path` after `prefix`, or none when a segment is empty.
  static std::vector<std::string> PathParts(std::string_view path, std::string_view prefix) {
    std::vector<std::string> parts;
    if (!path.starts_with(prefix)) return parts;
    path.remove_prefix(prefix.size());
    for (;;) {
      const auto slash = path.find('/');
      const std::string_view part = path.substr(0, slash);
      if (part.empty()) return {};
      parts.emplace_back(part);
      if (slash == std::string_view::npos) return parts;
      path.remove_prefix(slash + 1);
    }
  }

  // The answer to a handler's exception: 500, and the connection closes.
  void Handle(HttpRequest& req, HttpResponse& res) {
    try {
      Route(req, res);
    } catch (const std::exception& e) {
      res = HttpResponse{};
      res.closeConnection = true;
      SetError(res, 500, errors::kInternalError, "Internal error: " + MaskPasswords(e.what()));
    }
  }

  HttpHooks Hooks() {
    HttpHooks hooks;
    hooks.handle = [this](HttpRequest& req, HttpResponse& res) { Handle(req, res); };
    // Calls, transactions and the readiness probe open databases and may wait on locks; the rest
    // is answered at once.
    hooks.runsOnWorker = [](const HttpRequest& req) { return req.method == "POST" || req.path == "/v1/ready"; };
    hooks.beforeContinue = [this](const HttpRequest& req) -> std::optional<HttpResponse> {
      if (admission.Admits(req)) return std::nullopt;
      HttpResponse res;
      Admission::Refuse(res);
      return res;
    };
    hooks.logged = [this](const ExchangeRecord& record) { LogExchange(record); };
    hooks.connections = [this](int change) {
      if (change > 0) metrics.ConnectionOpened();
      else metrics.ConnectionClosed();
    };
    return hooks;
  }

  ServerMetricsOptions MetricsOptions() {
    ServerMetricsOptions options;
    for (const auto& registration : automation::Registry::Instance().Classes())
      if (registration.info != nullptr && serves(*registration.info)) options.served.push_back(registration.info);
    options.workers = config.workers;
    options.heldTransactions = [this] { return held.size(); };
    options.workerQueue = [this] { return http ? http->QueuedCalls() : 0; };
    return options;
  }

  static HttpLimits Limits(const HostConfig& config) {
    HttpLimits limits;
    limits.firstByteTimeout = std::chrono::seconds(config.firstByteTimeoutSeconds);
    limits.requestTimeout = std::chrono::seconds(config.requestTimeoutSeconds);
    limits.maxBodyBytes = config.maxBodyBytes;
    limits.maxConnectionsPerClient = static_cast<std::size_t>(config.maxConnectionsPerClient);
    limits.workers = config.workers;
    return limits;
  }

  HostConfig config;
  Admission admission{config.token};
  std::function<void(std::string_view)> logSink;
  std::mutex logMutex;  // serialises logSink and standard error
  std::function<bool(const automation::TypeInfo&)> serves;
  ConnectStringAllowList allow;
  LateCallOptions callOptions;
  HeldTransactions held;
  ReadinessCheck readiness{config.allow};
  ServerMetrics metrics{MetricsOptions()};
  std::unique_ptr<HttpServer> http;  // last: its workers call into the members above
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { Stop(); }

const HostConfig& Server::config() const { return impl_->config; }

int Server::Bind() { return impl_->http->Bind(impl_->config.listen); }

bool Server::Run() {
  impl_->http->Run();
  return true;
}

void Server::Stop() { impl_->http->Stop(); }

std::string CurlExample(const ListenAddress& listen, std::string_view sDsn, bool withToken,
                        const std::optional<TlsFiles>& tls) {
  std::string host = listen.host;
  if (host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  const std::string authority = ListenAddress{host, listen.port}.Text();
  const auto quote = [](std::string_view text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  };
  std::string line = "curl -s -X POST ";
  if (tls) line += "--cacert " + quote(tls->certificate.string()) + " ";
  line += (tls ? "https://" : "http://") + authority + "/v1/Morvane.VchTempSetInfo/GetBaseList";
  if (withToken) line += " -H \"Authorization: Bearer $MORVANE_TOKEN\"";
  line += " -d " + quote(DumpJson(Json::array({std::string(sDsn)})));
  return line;
}

}  // namespace morvane::host
