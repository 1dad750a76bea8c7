#include "host/server_metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <mutex>
#include <unordered_map>

#include "platform/automation/text.h"
#include "platform/db/pool.h"

namespace morvane::host {

namespace {

using automation::EqualsIgnoreCase;

constexpr std::string_view kNone = "-";
constexpr std::string_view kOther = "other";
// Distinct error numbers labelled one by one; further ones count as "other".
constexpr std::size_t kMaxErrorNumbers = 256;

// Upper bounds in seconds: a list query on a small table takes about a millisecond, an Append of
// thousands of rows seconds; the request timeout defaults to 10 s.
const prometheus::Histogram::BucketBoundaries& DurationBuckets() {
  static const prometheus::Histogram::BucketBoundaries buckets = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                                  0.1,    0.25,  0.5,    1,     2.5,  5,     10};
  return buckets;
}

std::string_view EndpointLabel(Endpoint endpoint) {
  switch (endpoint) {
    case Endpoint::Call: return "call";
    case Endpoint::BeginTransaction: return "transactions";
    case Endpoint::CommitTransaction: return "commit";
    case Endpoint::AbortTransaction: return "abort";
    case Endpoint::Health: return "health";
    case Endpoint::Ready: return "ready";
    case Endpoint::Classes: return "classes";
    case Endpoint::Metrics: return "metrics";
    case Endpoint::Other: break;
  }
  return kOther;
}

// The names of one served class that may become labels.
struct ServedClass {
  std::string progId;
  std::string clsid;
  std::vector<std::string> members;  // each name once, as the class declares it

  bool Names(std::string_view text) const {
    return EqualsIgnoreCase(text, progId) || (!clsid.empty() && EqualsIgnoreCase(text, clsid));
  }
  // The position of a member in `members`, or -1.
  int MemberIndex(std::string_view text) const {
    for (std::size_t i = 0; i < members.size(); ++i)
      if (EqualsIgnoreCase(text, members[i])) return static_cast<int>(i);
    return -1;
  }
};

ServedClass NamesOf(const automation::TypeInfo& info) {
  ServedClass served{info.progId, info.clsid, {}};
  for (const automation::MemberInfo& member : info.members)
    if (served.MemberIndex(member.name) < 0) served.members.push_back(member.name);  // a property's get and put
  return served;
}

// One label set of the request metrics, by positions in the served classes (-1: "-"), so that
// the key holds nothing a client sent.
struct SeriesKey {
  Endpoint endpoint;
  int classIndex;
  int memberIndex;
  int status;  // 0: outside 100 to 599

  bool operator==(const SeriesKey&) const = default;
};

struct SeriesKeyHash {
  std::size_t operator()(const SeriesKey& k) const noexcept {
    std::size_t h = static_cast<std::size_t>(k.endpoint);
    for (int part : {k.classIndex, k.memberIndex, k.status}) h = h * 1000003u ^ static_cast<std::size_t>(part + 1);
    return h;
  }
};

}  // namespace

struct ServerMetrics::Impl {
  explicit Impl(ServerMetricsOptions options)
      : heldTransactions(std::move(options.heldTransactions)), workerQueue(std::move(options.workerQueue)) {
    for (const automation::TypeInfo* info : options.served)
      if (info != nullptr) served.push_back(NamesOf(*info));
    workers.Set(options.workers);
  }

  // The series of one label set; made on first use, kept for the registry's lifetime.
  struct Series {
    prometheus::Counter* requests;
    prometheus::Histogram* duration;
  };

  void Count(Endpoint endpoint, int classIndex, int memberIndex, int status, double seconds) {
    const SeriesKey key{endpoint, classIndex, memberIndex, status >= 100 && status <= 599 ? status : 0};
    Series series;
    {
      std::lock_guard lock(mutex);
      auto it = seriesByKey.find(key);
      if (it == seriesByKey.end()) it = seriesByKey.emplace(key, MakeSeries(key)).first;
      series = it->second;
    }
    series.requests->Increment();
    series.duration->Observe(seconds);
  }

  // REQUIRES: mutex held.
  Series MakeSeries(const SeriesKey& key) {
    const ServedClass* servedClass = key.classIndex >= 0 ? &served[static_cast<std::size_t>(key.classIndex)] : nullptr;
    prometheus::Labels labels = {
        {"endpoint", std::string(EndpointLabel(key.endpoint))},
        {"class", servedClass ? servedClass->progId : std::string(kNone)},
        {"member", servedClass && key.memberIndex >= 0 ? servedClass->members[static_cast<std::size_t>(key.memberIndex)]
                                                       : std::string(kNone)}};
    prometheus::Histogram& histogram = duration.Add(labels, DurationBuckets());
    labels.emplace("status", key.status != 0 ? std::to_string(key.status) : std::string(kOther));
    return Series{&requests.Add(labels), &histogram};
  }

  prometheus::Counter& ErrorCounter(std::int32_t number) {
    std::lock_guard lock(mutex);
    if (auto it = errorsByNumber.find(number); it != errorsByNumber.end()) return *it->second;
    if (errorsByNumber.size() >= kMaxErrorNumbers) return raisedErrors.Add({{"number", std::string(kOther)}});
    prometheus::Counter& counter = raisedErrors.Add({{"number", std::to_string(number)}});
    errorsByNumber.emplace(number, &counter);
    return counter;
  }

  std::vector<ServedClass> served;  // immutable after construction
  const std::function<std::size_t()> heldTransactions;
  const std::function<std::size_t()> workerQueue;

  // Declared before the families, which it owns.
  prometheus::Registry registry;
  prometheus::Family<prometheus::Counter>& requests =
      prometheus::BuildCounter()
          .Name("morvane_requests_total")
          .Help("Requests answered, by endpoint, served class and member (\"-\" for none) and status")
          .Register(registry);
  prometheus::Family<prometheus::Histogram>& duration =
      prometheus::BuildHistogram()
          .Name("morvane_request_duration_seconds")
          .Help("Seconds taken to answer a request, by endpoint, served class and member")
          .Register(registry);
  prometheus::Family<prometheus::Counter>& raisedErrors =
      prometheus::BuildCounter()
          .Name("morvane_raised_errors_total")
          .Help("Errors raised by calls, by error number (\"other\" beyond 256 distinct numbers)")
          .Register(registry);
  prometheus::Gauge& openConnections = GaugeOf("morvane_open_connections", "Client connections open now");
  prometheus::Gauge& held = GaugeOf("morvane_held_transactions", "Transactions held for callers now");
  prometheus::Gauge& workers = GaugeOf("morvane_workers", "Worker threads serving requests, as configured");
  prometheus::Gauge& queue = GaugeOf("morvane_worker_queue", "Requests waiting for a worker thread now");
  prometheus::Gauge& pooled =
      GaugeOf("morvane_pooled_connections", "Database connections idle in the data-access pool now");

  std::mutex mutex;
  std::unordered_map<SeriesKey, Series, SeriesKeyHash> seriesByKey;        // guarded by mutex
  std::unordered_map<std::int32_t, prometheus::Counter*> errorsByNumber;  // guarded by mutex

 private:
  prometheus::Gauge& GaugeOf(const std::string& name, const std::string& help) {
    return prometheus::BuildGauge().Name(name).Help(help).Register(registry).Add({});
  }
};

ServerMetrics::ServerMetrics(ServerMetricsOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ServerMetrics::~ServerMetrics() = default;

void ServerMetrics::CountCall(std::string_view progId, std::string_view member, int status, double seconds) {
  const std::vector<ServedClass>& served = impl_->served;
  for (std::size_t i = 0; i < served.size(); ++i)
    if (served[i].Names(progId))
      return impl_->Count(Endpoint::Call, static_cast<int>(i), served[i].MemberIndex(member), status, seconds);
  impl_->Count(Endpoint::Call, -1, -1, status, seconds);
}

void ServerMetrics::CountRequest(Endpoint endpoint, int status, double seconds) {
  impl_->Count(endpoint, -1, -1, status, seconds);
}

void ServerMetrics::ConnectionOpened() { impl_->openConnections.Increment(); }

void ServerMetrics::ConnectionClosed() { impl_->openConnections.Decrement(); }

void ServerMetrics::CountRaisedError(std::int32_t number) { impl_->ErrorCounter(number).Increment(); }

std::string ServerMetrics::Text() const {
  if (impl_->heldTransactions) impl_->held.Set(static_cast<double>(impl_->heldTransactions()));
  if (impl_->workerQueue) impl_->queue.Set(static_cast<double>(impl_->workerQueue()));
  impl_->pooled.Set(static_cast<double>(db::ConnectionPool::Instance().IdleConnections()));
  return prometheus::TextSerializer().Serialize(impl_->registry.Collect());
}

}  // namespace morvane::host
