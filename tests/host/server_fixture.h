// The network host running in the test process on a free loopback port, over a fresh database,
// and a small HTTP client for it: real sockets, real requests, the server's real threads.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "call/json_form.h"
#include "host/server.h"
#include "testing/service_fixture.h"

namespace morvane::testing {

using call::Json;

// The server on its own thread; stopped and joined when the object ends.
class RunningServer {
 public:
  explicit RunningServer(host::HostConfig config) {
    config.listen = {"127.0.0.1", 0};
    host::ServerOptions options;
    options.config = std::move(config);
    options.log = [this](std::string_view line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.emplace_back(line);
    };
    server_ = std::make_unique<host::Server>(std::move(options));
    port_ = server_->Bind();
    thread_ = std::thread([this] { server_->Run(); });
  }
  ~RunningServer() {
    server_->Stop();
    thread_.join();
  }
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;

  int port() const { return port_; }
  std::vector<std::string> LogLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  // Before the server: it logs while it ends.
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
  std::unique_ptr<host::Server> server_;
  int port_ = 0;
  std::thread thread_;
};

struct Reply {
  int status = -1;  // -1: no answer (the connection failed or was closed)
  Json body;        // null when the body is not JSON
  std::string text;

  // The error object's number, or 0.
  std::int64_t ErrorNumber() const {
    if (!body.is_object() || !body.contains("error") || !body["error"].contains("number")) return 0;
    return body["error"]["number"].get<std::int64_t>();
  }
  std::string Description() const {
    if (!body.is_object() || !body.contains("error")) return "";
    return body["error"].value("description", "");
  }
};

inline std::ostream& operator<<(std::ostream& out, const Reply& reply) {
  return out << reply.status << " " << reply.text.substr(0, 600);
}

// A client of the server on `port`, adding `headers` to each request.
class HostClient {
 public:
  explicit HostClient(int port, httplib::Headers headers = {}) : client_("127.0.0.1", port), headers_(std::move(headers)) {
    client_.set_read_timeout(60, 0);
    client_.set_write_timeout(60, 0);
  }

  Reply Post(const std::string& path, const std::string& body, const httplib::Headers& extra = {}) {
    return Make(client_.Post(path.c_str(), Merge(extra), body, "application/json"));
  }
  Reply Post(const std::string& path, const char* body, const httplib::Headers& extra = {}) {
    return Post(path, std::string(body), extra);
  }
  Reply Post(const std::string& path, const Json& args, const httplib::Headers& extra = {}) {
    return Post(path, call::DumpJson(args), extra);
  }
  Reply Get(const std::string& path, const httplib::Headers& extra = {}) {
    return Make(client_.Get(path.c_str(), Merge(extra)));
  }
  httplib::Client& raw() { return client_; }
  httplib::Headers Merge(const httplib::Headers& extra) const {
    httplib::Headers all = headers_;
    all.insert(extra.begin(), extra.end());
    return all;
  }

  static Reply Make(const httplib::Result& result) {
    Reply reply;
    if (!result) return reply;
    reply.status = result->status;
    reply.text = result->body;
    try {
      reply.body = call::ParseJson(result->body);
    } catch (const call::JsonFormError&) {
      reply.body = nullptr;
    }
    return reply;
  }

 private:
  httplib::Client client_;
  httplib::Headers headers_;
};

// True when the body is {"error": {number, hresult, source, description, helpFile}} with a
// description that says something.
inline bool IsErrorBody(const Json& body) {
  if (!body.is_object() || !body.contains("error") || !body["error"].is_object()) return false;
  const Json& e = body["error"];
  return e.contains("number") && e["number"].is_number_integer() && e.contains("hresult") &&
         e["hresult"].is_string() && e.contains("source") && e["source"].is_string() && e.contains("description") &&
         e["description"].is_string() && !e["description"].get<std::string>().empty() && e.contains("helpFile") &&
         e["helpFile"].is_string();
}

// A TCP connection to the server for requests a well-behaved client does not send.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  int fd() const { return fd_; }
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // True when bytes or the end of the connection are waiting.
  bool Readable(std::chrono::milliseconds wait) {
    pollfd fd{fd_, POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(wait.count())) > 0;
  }
  // Everything until the server closes the connection (or `wait` passes without a byte).
  std::string ReadAll(std::chrono::milliseconds wait = std::chrono::seconds(30)) {
    std::string text;
    char buffer[4096];
    while (Readable(wait)) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// The status code of a raw HTTP answer ("HTTP/1.1 400 Bad Request" -> 400), or -1.
inline int StatusOf(const std::string& answer) {
  if (answer.size() < 12 || !answer.starts_with("HTTP/1.")) return -1;
  return std::stoi(answer.substr(9, 3));
}

// The body of a raw HTTP answer.
inline std::string BodyOf(const std::string& answer) {
  const auto end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

// A database, a running host that may open it, and the paths of the calls.
class HostFixture : public ServiceFixture {
 protected:
  // The configuration the tests start from: the test database allowed, small limits.
  host::HostConfig Config() const {
    host::HostConfig config;
    config.allow = {ConnectString()};
    config.workers = 8;
    config.maxBodyBytes = 64 * 1024;
    config.requestTimeoutSeconds = 5;
    return config;
  }
  void Start(host::HostConfig config) { server_ = std::make_unique<RunningServer>(std::move(config)); }
  void Start() { Start(Config()); }
  HostClient Client(httplib::Headers headers = {}) const { return HostClient(server_->port(), std::move(headers)); }

  static std::string CallPath(const std::string& progId, const std::string& method) {
    return "/v1/" + progId + "/" + method;
  }
  static std::string InfoPath(const std::string& method) { return CallPath("Morvane.VchTempSetInfo", method); }
  static std::string UpdatePath(const std::string& method) { return CallPath("Morvane.VchTempSetUpdate", method); }

  // A setting row in its JSON form.
  static Json SettingJson(const std::string& vchClass, const std::string& type, const std::string& dept,
                          const std::string& expense, const std::string& remark = "r") {
    return Json{{"FVchClass", vchClass}, {"FTypeID", type}, {"FExpDeptID", dept}, {"FExpenseID", expense},
                {"FRemark", remark}};
  }
  static Json KeyJson(const std::string& vchClass, const std::string& type, const std::string& dept,
                      const std::string& expense) {
    return Json{{"FVchClass", vchClass}, {"FTypeID", type}, {"FExpDeptID", dept}, {"FExpenseID", expense}};
  }

  std::unique_ptr<RunningServer> server_;
};

}  // namespace morvane::testing
