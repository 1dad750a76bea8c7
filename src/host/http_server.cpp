#include "host/http_server.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/core/detect_ssl.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <map>
#include <unordered_set>

#include "host/admission.h"
#include "host/answers.h"
#include "host/request_body.h"
#include "host/request_target.h"
#include "platform/automation/error_numbers.h"
#include "platform/automation/text.h"

namespace morvane::host {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// How long a connection closed with a request not read to its end is drained first, so that the
// client reads the answer instead of a reset.
constexpr std::chrono::milliseconds kLinger{1000};
// How long accepting pauses when the process has no file descriptor left.
constexpr std::chrono::milliseconds kAcceptBackoff{100};

std::string EndpointText(const tcp::endpoint& endpoint, std::string* ip) {
  const std::string address = endpoint.address().to_string();
  if (ip) *ip = address;
  return endpoint.address().is_v6() ? "[" + address + "]:" + std::to_string(endpoint.port())
                                     : address + ":" + std::to_string(endpoint.port());
}

HttpResponse ErrorAnswer(int status, const std::string& description) {
  HttpResponse res;
  SetError(res, status, automation::errors::kInvalidProcedureCall, description);
  res.closeConnection = true;
  return res;
}

}  // namespace

struct HttpServer::Impl {
  class Session;

  Impl(HttpLimits givenLimits, HttpHooks givenHooks)
      : limits(givenLimits),
        hooks(std::move(givenHooks)),
        workers(static_cast<std::size_t>(std::max(1, givenLimits.workers))) {}

  void Accept();
  void Refuse(tcp::socket socket, const std::string& remote);
  void BeginStop();
  void Opened(const std::string& ip) {
    ++perClient[ip];
    if (hooks.connections) hooks.connections(+1);
  }
  void Closed(const std::string& ip) {
    auto it = perClient.find(ip);
    if (it != perClient.end() && --it->second == 0) perClient.erase(it);
    if (hooks.connections) hooks.connections(-1);
  }
  void Log(const ExchangeRecord& record) {
    if (hooks.logged) hooks.logged(record);
  }

  const HttpLimits limits;
  const HttpHooks hooks;
  // Touched on the network thread only. Before the event loop, so that they outlive a session
  // whose last handler the loop destroys as it ends.
  std::map<std::string, std::size_t> perClient;
  std::unordered_set<Session*> sessions;
  bool stopping = false;

  asio::io_context io{1};
  std::optional<asio::ssl::context> tls;
  tcp::acceptor acceptor{io};
  asio::steady_timer acceptPause{io};
  asio::thread_pool workers;
  std::atomic<std::size_t> queued{0};
};

// One connection: reads its requests one after the other, hands each to its handler and writes
// the answer. Lives on the network thread; a worker only runs the handler.
class HttpServer::Impl::Session : public std::enable_shared_from_this<Session> {
 public:
  enum class State { Idle, Reading, Handling, Writing, Closing };

  Session(Impl& server, tcp::socket socket, std::string remote, std::string remoteIp)
      : server_(server),
        socket_(std::move(socket)),
        timer_(server.io),
        remote_(std::move(remote)),
        remoteIp_(std::move(remoteIp)) {
    server_.sessions.insert(this);
    server_.Opened(remoteIp_);
  }
  ~Session() {
    server_.sessions.erase(this);
    server_.Closed(remoteIp_);
  }

  void Start() {
    if (server_.tls) return DetectTls();
    ReadRequest();
  }

  // Called as the server stops: a connection between requests closes now, one serving a request
  // once its answer is written.
  void StopIfIdle() {
    if (state_ == State::Idle || state_ == State::Reading || state_ == State::Closing) Cancel();
  }

 private:
  // --- transport: plain or TLS over the same socket ----------------------------------------

  template <class Handler>
  void ReadSome(Handler&& handler) {
    auto buffers = buffer_.prepare(kReadChunk);
    if (tlsStream_) tlsStream_->async_read_some(buffers, std::forward<Handler>(handler));
    else socket_.async_read_some(buffers, std::forward<Handler>(handler));
  }
  template <class Handler>
  void ReadHeader(Handler&& handler) {
    if (tlsStream_) http::async_read_header(*tlsStream_, buffer_, *parser_, std::forward<Handler>(handler));
    else http::async_read_header(socket_, buffer_, *parser_, std::forward<Handler>(handler));
  }
  template <class Handler>
  void ReadBody(Handler&& handler) {
    if (tlsStream_) http::async_read(*tlsStream_, buffer_, *parser_, std::forward<Handler>(handler));
    else http::async_read(socket_, buffer_, *parser_, std::forward<Handler>(handler));
  }
  template <class Message, class Handler>
  void WriteMessage(Message& message, Handler&& handler) {
    if (tlsStream_) http::async_write(*tlsStream_, message, std::forward<Handler>(handler));
    else http::async_write(socket_, message, std::forward<Handler>(handler));
  }
  tcp::socket& Socket() { return tlsStream_ ? tlsStream_->next_layer() : socket_; }

  // --- deadlines ---------------------------------------------------------------------------

  // Cancels what the connection waits for when `deadline` passes; replaces the previous one.
  void Arm(Clock::time_point deadline) {
    const std::uint64_t generation = ++timerGeneration_;
    timer_.expires_at(deadline);
    timer_.async_wait([self = shared_from_this(), generation](const boost::system::error_code& ec) {
      if (ec || generation != self->timerGeneration_) return;
      self->timedOut_ = true;
      self->Cancel();
    });
  }
  void Disarm() {
    ++timerGeneration_;
    timer_.cancel();
  }
  void Cancel() {
    boost::system::error_code ignored;
    Socket().cancel(ignored);
  }

  // --- TLS ---------------------------------------------------------------------------------

  void DetectTls() {
    Arm(Clock::now() + server_.limits.firstByteTimeout);
    beast::async_detect_ssl(socket_, buffer_,
                            [self = shared_from_this()](const boost::system::error_code& ec, bool isTls) {
                              self->Detected(ec, isTls);
                            });
  }
  void Detected(const boost::system::error_code& ec, bool isTls) {
    if (ec) return Close(false);
    if (!isTls) {
      // A plain request on the TLS port: told so in plain text, once, then the connection closes.
      startedAt_ = std::chrono::system_clock::now();
      started_ = Clock::now();
      note_ = "(plain HTTP on the TLS port)";
      return Answer(ErrorAnswer(400, "this address speaks HTTPS only; use https://"), 11, true);
    }
    tlsStream_.emplace(std::move(socket_), *server_.tls);
    Arm(Clock::now() + server_.limits.requestTimeout);
    tlsStream_->async_handshake(asio::ssl::stream_base::server, buffer_.data(),
                                [self = shared_from_this()](const boost::system::error_code& shaken, std::size_t used) {
                                  self->Handshaken(shaken, used);
                                });
  }
  void Handshaken(const boost::system::error_code& ec, std::size_t used) {
    Disarm();
    if (ec) {
      startedAt_ = std::chrono::system_clock::now();
      started_ = Clock::now();
      HttpResponse res;
      res.status = 400;
      note_ = timedOut_ ? "(TLS handshake not finished within the request timeout)" : "(TLS handshake failed)";
      LogExchange(&res);
      return Close(false);
    }
    buffer_.consume(used);
    ReadRequest();
  }

  // --- one request -------------------------------------------------------------------------

  void ReadRequest() {
    state_ = State::Idle;
    timedOut_ = false;
    request_.reset();
    note_.clear();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_.limits.maxHeaderBytes));
    parser_->body_limit(2 * server_.limits.maxBodyBytes);
    if (server_.stopping) return Close(false);
    if (buffer_.size() > 0) return FirstByte();
    Arm(Clock::now() + server_.limits.firstByteTimeout);
    ReadSome([self = shared_from_this()](const boost::system::error_code& ec, std::size_t n) {
      self->Disarm();
      // Silent past the first-byte timeout, closed by the client, or stopped: no answer is owed.
      if (ec || n == 0) return self->Close(false);
      self->buffer_.commit(n);
      self->FirstByte();
    });
  }

  void FirstByte() {
    state_ = State::Reading;
    started_ = Clock::now();
    startedAt_ = std::chrono::system_clock::now();
    Arm(started_ + server_.limits.requestTimeout);
    ReadHeader([self = shared_from_this()](const boost::system::error_code& ec, std::size_t) { self->HeaderRead(ec); });
  }

  // The answer to a request that could not be read, or nothing when the client went away.
  void ReadFailed(const boost::system::error_code& ec) {
    const BodyLimits bodyLimits = Limits();
    HttpResponse res;
    if (timedOut_) {
      note_ = "(connection closed: request timeout)";
      AnswerBodyFailure(res, BodyFailure::TimedOut, bodyLimits);
    } else if (ec == http::error::body_limit) {
      note_ = "(connection closed: request too large)";
      AnswerBodyFailure(res, BodyFailure::TooLarge, bodyLimits);
    } else if (ec == http::error::header_limit) {
      SetError(res, 431, automation::errors::kInvalidProcedureCall,
               "the request line and headers are larger than " + std::to_string(server_.limits.maxHeaderBytes) +
                   " bytes, the most this host accepts");
    } else if (ec == http::error::end_of_stream || ec == http::error::partial_message || ec == asio::error::eof ||
               ec == asio::error::connection_reset || ec == asio::error::operation_aborted) {
      return Close(false);
    } else if (request_ && parser_->is_header_done()) {
      AnswerBodyFailure(res, BodyFailure::Unreadable, bodyLimits);
    } else {
      SetError(res, 400, automation::errors::kInvalidProcedureCall, StatusDescription(400));
    }
    res.closeConnection = true;
    Answer(std::move(res), request_ ? request_->version : 11, true);
  }

  void HeaderRead(const boost::system::error_code& ec) {
    if (ec) return ReadFailed(ec);
    const auto& head = parser_->get();
    request_ = std::make_shared<Request>();
    HttpRequest& req = request_->http;
    request_->version = head.version();
    request_->keepAlive = head.keep_alive();
    req.method = std::string(head.method_string());
    req.target = std::string(head.target());
    req.path = RequestPath(req.target);
    req.remote = remote_;
    req.remoteIp = remoteIp_;
    for (const auto& field : head) req.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));

    const bool hasBody = !parser_->is_done();
    if (!hasBody) return Dispatch();
    const BodyLimits bodyLimits = Limits();
    // Only POST reads a body; another request that announces one is answered without it.
    if (req.method != "POST") return Dispatch(/*unreadBody=*/true);
    if (IsMultipart(req)) {
      HttpResponse res;
      AnswerBodyFailure(res, BodyFailure::Unsupported, bodyLimits);
      res.closeConnection = true;
      return Answer(std::move(res), request_->version, true);
    }
    const auto declared = parser_->content_length();
    if (automation::EqualsIgnoreCase(TrimHeaderBlanks(req.Header("Expect")), "100-continue")) {
      // The client waits before it sends its body: a refusal now spares it the sending.
      std::optional<HttpResponse> refusal;
      if (server_.hooks.beforeContinue) refusal = server_.hooks.beforeContinue(req);
      if (!refusal && declared && *declared > server_.limits.maxBodyBytes) {
        refusal.emplace();
        AnswerBodyFailure(*refusal, BodyFailure::TooLarge, bodyLimits);
      }
      if (refusal) {
        refusal->closeConnection = true;
        return Answer(std::move(*refusal), request_->version, true);
      }
      auto proceed = std::make_shared<http::response<http::empty_body>>(http::status::continue_, request_->version);
      return WriteMessage(*proceed, [self = shared_from_this(), proceed](const boost::system::error_code& written, std::size_t) {
        if (written) return self->Close(false);
        self->ReadWholeBody();
      });
    }
    ReadWholeBody();
  }

  void ReadWholeBody() {
    ReadBody([self = shared_from_this()](const boost::system::error_code& ec, std::size_t) {
      if (ec) return self->ReadFailed(ec);
      if (self->parser_->get().body().size() > self->server_.limits.maxBodyBytes) {
        HttpResponse res;
        AnswerBodyFailure(res, BodyFailure::TooLarge, self->Limits());
        res.closeConnection = true;
        return self->Answer(std::move(res), self->request_->version, false);
      }
      self->request_->http.body = self->parser_->release().body();
      self->Dispatch();
    });
  }

  void Dispatch(bool unreadBody = false) {
    Disarm();
    state_ = State::Handling;
    const bool onWorker = server_.hooks.runsOnWorker && server_.hooks.runsOnWorker(request_->http);
    if (!onWorker) {
      HttpResponse res = Handle(server_, request_->http);
      if (unreadBody) res.closeConnection = true;
      return Answer(std::move(res), request_->version, unreadBody);
    }
    ++server_.queued;
    asio::post(server_.workers, [self = shared_from_this(), work = asio::make_work_guard(server_.io),
                                 unreadBody]() mutable {
      --self->server_.queued;
      HttpResponse res = Handle(self->server_, self->request_->http);
      if (unreadBody) res.closeConnection = true;
      Impl& server = self->server_;
      // The session is handed back whole: no reference to it stays on this thread.
      asio::post(server.io, [self = std::move(self), res = std::move(res), unreadBody]() mutable {
        self->Answer(std::move(res), self->request_->version, unreadBody);
      });
    });
  }

  static HttpResponse Handle(Impl& server, HttpRequest& req) {
    HttpResponse res;
    try {
      server.hooks.handle(req, res);
    } catch (...) {
      res = ErrorAnswer(500, "Internal error: the request could not be served");
      res.errorNumber = automation::errors::kInternalError;
    }
    return res;
  }

  // Writes the answer; `unreadInput`: the client may still be sending what was not read.
  void Answer(HttpResponse res, unsigned version, bool unreadInput) {
    Disarm();
    state_ = State::Writing;
    unreadInput_ = unreadInput;
    response_ = std::move(res);
    auto message = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(response_.status),
                                                                       version);
    for (const auto& [name, value] : response_.headers) message->insert(name, value);
    if (!response_.contentType.empty()) message->set(http::field::content_type, response_.contentType);
    const bool head = request_ && request_->http.method == "HEAD";
    const std::size_t length = response_.body.size();
    if (!head) message->body() = response_.body;
    keepAlive_ = request_ && request_->keepAlive && !response_.closeConnection && !server_.stopping;
    message->keep_alive(keepAlive_);
    message->content_length(length);
    Arm(Clock::now() + server_.limits.requestTimeout);
    WriteMessage(*message, [self = shared_from_this(), message](const boost::system::error_code& ec, std::size_t) {
      self->Written(ec);
    });
  }

  void Written(const boost::system::error_code& ec) {
    Disarm();
    if (ec) note_ = timedOut_ ? "(answer not taken within the request timeout)" : "(answer cut: connection lost)";
    LogExchange(&response_);
    if (ec || !keepAlive_) return Close(unreadInput_ && !ec);
    ReadRequest();
  }

  void LogExchange(const HttpResponse* res) {
    ExchangeRecord record;
    record.startedAt = startedAt_;
    record.duration = Clock::now() - started_;
    record.remote = remote_;
    record.request = request_ ? &request_->http : nullptr;
    record.response = res;
    record.note = note_;
    server_.Log(record);
  }

  // --- the end -----------------------------------------------------------------------------

  // Closes the connection; `linger`: first reads and throws away what the client still sends
  // (for a short while), so that the answer just written is not lost to a reset.
  void Close(bool linger) {
    Disarm();
    state_ = State::Closing;
    boost::system::error_code ignored;
    tcp::socket& socket = Socket();
    if (!linger || server_.stopping) {
      socket.shutdown(tcp::socket::shutdown_both, ignored);
      socket.close(ignored);
      return;
    }
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    Arm(Clock::now() + kLinger);
    Drain(2 * server_.limits.maxBodyBytes + server_.limits.maxHeaderBytes);
  }
  void Drain(std::size_t budget) {
    auto sink = std::make_shared<std::array<char, kReadChunk>>();
    Socket().async_read_some(asio::buffer(*sink), [self = shared_from_this(), sink, budget](
                                                      const boost::system::error_code& ec, std::size_t n) {
      if (ec || n >= budget || self->server_.stopping) {
        self->Disarm();
        boost::system::error_code ignored;
        self->Socket().close(ignored);
        return;
      }
      self->Drain(budget - n);
    });
  }

  BodyLimits Limits() const {
    return {server_.limits.maxBodyBytes,
            static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(server_.limits.requestTimeout).count())};
  }

  static bool IsMultipart(const HttpRequest& req) {
    const std::string type = automation::AsciiLower(TrimHeaderBlanks(req.Header("Content-Type")));
    return type.starts_with("multipart/form-data");
  }

  struct Request {
    HttpRequest http;
    unsigned version = 11;
    bool keepAlive = false;
  };

  Impl& server_;
  tcp::socket socket_;  // until a TLS stream takes it over
  std::optional<asio::ssl::stream<tcp::socket>> tlsStream_;
  beast::flat_buffer buffer_;
  asio::steady_timer timer_;
  std::uint64_t timerGeneration_ = 0;
  const std::string remote_;
  const std::string remoteIp_;

  State state_ = State::Idle;
  bool timedOut_ = false;
  bool keepAlive_ = false;
  bool unreadInput_ = false;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Request> request_;
  HttpResponse response_;
  std::string note_;
  Clock::time_point started_;
  std::chrono::system_clock::time_point startedAt_;
};

void HttpServer::Impl::Accept() {
  acceptor.async_accept(io, [this](const boost::system::error_code& ec, tcp::socket socket) {
    if (stopping || ec == asio::error::operation_aborted) return;
    if (ec) {
      // Out of file descriptors, say: wait a little rather than spin, then accept again.
      acceptPause.expires_after(kAcceptBackoff);
      acceptPause.async_wait([this](const boost::system::error_code& waited) {
        if (!waited && !stopping) Accept();
      });
      return;
    }
    boost::system::error_code peerError;
    const tcp::endpoint peer = socket.remote_endpoint(peerError);
    if (peerError) return Accept();
    std::string ip;
    std::string remote = EndpointText(peer, &ip);
    socket.set_option(tcp::no_delay(true), peerError);
    const auto count = perClient.find(ip);
    if (count != perClient.end() && count->second >= limits.maxConnectionsPerClient) {
      Refuse(std::move(socket), remote);
    } else {
      std::make_shared<Session>(*this, std::move(socket), std::move(remote), std::move(ip))->Start();
    }
    Accept();
  });
}

void HttpServer::Impl::Refuse(tcp::socket socket, const std::string& remote) {
  HttpResponse res;
  SetError(res, 429, automation::errors::kInvalidProcedureCall,
           "this client address has " + std::to_string(limits.maxConnectionsPerClient) +
               " connections open, the most this host allows it; close one and try again");
  http::response<http::string_body> message(http::status::too_many_requests, 11);
  message.set(http::field::content_type, res.contentType);
  message.body() = res.body;
  message.keep_alive(false);
  message.prepare_payload();
  // A fresh connection's send buffer is empty: the short answer leaves at once or not at all.
  boost::system::error_code ignored;
  socket.non_blocking(true, ignored);
  http::write(socket, message, ignored);
  socket.shutdown(tcp::socket::shutdown_both, ignored);
  socket.close(ignored);
  ExchangeRecord record;
  record.startedAt = std::chrono::system_clock::now();
  record.remote = remote;
  record.response = &res;
  record.note = "(connection refused: too many from this address)";
  Log(record);
}

void HttpServer::Impl::BeginStop() {
  if (stopping) return;
  stopping = true;
  boost::system::error_code ignored;
  acceptor.close(ignored);
  acceptPause.cancel();
  // Copied: a session that closes at once leaves the set.
  const std::vector<Session*> open(sessions.begin(), sessions.end());
  for (Session* session : open) session->StopIfIdle();
}

HttpServer::HttpServer(HttpLimits limits, HttpHooks hooks, const std::optional<TlsFiles>& tls)
    : impl_(std::make_unique<Impl>(limits, std::move(hooks))) {
  if (!tls) return;
  asio::ssl::context context(asio::ssl::context::tls_server);
  context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1 |
                      asio::ssl::context::single_dh_use);
  boost::system::error_code ec;
  context.use_certificate_chain_file(tls->certificate.string(), ec);
  if (ec)
    throw HostConfigError("tls.certificate: cannot load " + tls->certificate.string() + ": " + ec.message());
  context.use_private_key_file(tls->privateKey.string(), asio::ssl::context::pem, ec);
  if (ec)
    throw HostConfigError("tls.privateKey: cannot load " + tls->privateKey.string() + ": " + ec.message() +
                          " (is it the key of the certificate?)");
  impl_->tls.emplace(std::move(context));
}

HttpServer::~HttpServer() {
  Stop();
  impl_->workers.join();
}

int HttpServer::Bind(const ListenAddress& address) {
  const std::string where = "cannot listen on " + address.Text();
  boost::system::error_code ec;
  tcp::resolver resolver(impl_->io);
  const auto endpoints = resolver.resolve(address.host, std::to_string(address.port),
                                          tcp::resolver::numeric_service | tcp::resolver::passive, ec);
  if (ec || endpoints.empty()) throw ListenError(where + ": " + (ec ? ec.message() : "no such address"));
  const tcp::endpoint endpoint = endpoints.begin()->endpoint();
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  // SO_REUSEADDR lets a restarted host take its port back from connections in TIME_WAIT; without
  // SO_REUSEPORT a second host on a port in use is refused instead of sharing it.
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    boost::system::error_code ignored;
    acceptor.close(ignored);
    if (ec == asio::error::address_in_use) throw ListenError(where + ": address already in use");
    throw ListenError(where + ": " + ec.message() + " (is the address one of this machine's?)");
  }
  return acceptor.local_endpoint().port();
}

void HttpServer::Run() {
  if (impl_->acceptor.is_open()) impl_->Accept();
  impl_->io.run();
}

void HttpServer::Stop() {
  asio::post(impl_->io, [impl = impl_.get()] { impl->BeginStop(); });
}

std::size_t HttpServer::QueuedCalls() const { return impl_->queued; }

}  // namespace morvane::host
