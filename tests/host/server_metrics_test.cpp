// The host's metrics: the series that requests, connections and raised errors make, read back
// from the exposition text as a scraper reads it.
#include "host/server_metrics.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/db/pool.h"
#include "testing/service_fixture.h"

namespace morvane::host {
namespace {

using Labels = std::map<std::string, std::string>;

// The samples of an exposition: "name{label="value",...}" to its value. Fails the test on a line
// that is neither a comment nor "series value", so a label value that broke its line shows.
std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> samples;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line.starts_with("#")) continue;
    const auto space = line.rfind(' ');
    EXPECT_NE(space, std::string::npos) << "not a sample: " << line;
    EXPECT_TRUE(line.starts_with("morvane_")) << "not a sample: " << line;
    if (space == std::string::npos) continue;
    samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return samples;
}

// The series text the exposition writes (labels sorted by name, as prometheus-cpp writes them).
std::string Series(const std::string& name, const Labels& labels = {}) {
  if (labels.empty()) return name;
  std::string text = name + "{";
  for (const auto& [key, value] : labels) text += key + "=\"" + value + "\",";
  text.back() = '}';
  return text;
}

// Samples of one metric name (any labels).
std::map<std::string, double> Named(const std::map<std::string, double>& samples, const std::string& name) {
  std::map<std::string, double> named;
  for (const auto& [series, value] : samples)
    if (series == name || series.starts_with(name + "{")) named.emplace(series, value);
  return named;
}

Labels Call(const std::string& cls, const std::string& member, const std::string& status) {
  return {{"endpoint", "call"}, {"class", cls}, {"member", member}, {"status", status}};
}

// A served class of the tests: one method, one property with a get and a put.
automation::TypeInfo TestClass(std::string progId = "Test.Served") {
  automation::TypeInfo info;
  info.progId = std::move(progId);
  info.clsid = "{0B0E0F00-0000-0000-0000-000000000001}";
  for (auto [name, kind] : {std::pair{"GetList", automation::InvokeKind::Method},
                            std::pair{"Value", automation::InvokeKind::PropertyGet},
                            std::pair{"Value", automation::InvokeKind::PropertyPut}}) {
    automation::MemberInfo member;
    member.name = name;
    member.kind = kind;
    info.members.push_back(member);
  }
  return info;
}

class ServerMetricsTest : public ::testing::Test {
 protected:
  automation::TypeInfo served = TestClass();
  ServerMetrics metrics{{.served = {&served}, .workers = 8}};
};

TEST_F(ServerMetricsTest, RequestsAreCountedUnderTheNamesTheServedClassDeclares) {
  struct Case {
    const char* what;
    std::string progId, member;
    int status;
    Labels expected;
  };
  const std::vector<Case> cases = {
      {"as declared", "Test.Served", "GetList", 200, Call("Test.Served", "GetList", "200")},
      {"other letter case", "TEST.served", "getlist", 422, Call("Test.Served", "GetList", "422")},
      {"by class identifier", "{0b0e0f00-0000-0000-0000-000000000001}", "GetList", 200,
       Call("Test.Served", "GetList", "200")},
      {"a property's get and put are one member", "Test.Served", "value", 200, Call("Test.Served", "Value", "200")},
      {"unknown member of a served class", "Test.Served", "Shutdown", 404, Call("Test.Served", "-", "404")},
      {"class not served", "Morvane.SharedPropertyManager", "GetList", 404, Call("-", "-", "404")},
      {"status beyond HTTP's", "Test.Served", "GetList", 1000, Call("Test.Served", "GetList", "other")},
  };
  for (const Case& c : cases) metrics.CountCall(c.progId, c.member, c.status, 0.001);

  const auto samples = Samples(metrics.Text());
  std::map<std::string, double> expected;
  for (const Case& c : cases) expected[Series("morvane_requests_total", c.expected)] += 1;
  EXPECT_EQ(Named(samples, "morvane_requests_total"), expected);
  for (const Case& c : cases)
    EXPECT_TRUE(samples.contains(Series("morvane_requests_total", c.expected))) << c.what;
}

TEST_F(ServerMetricsTest, RequestsThatAreNotCallsCarryTheirEndpointAndNoClass) {
  const std::vector<std::pair<Endpoint, std::string>> endpoints = {
      {Endpoint::BeginTransaction, "transactions"}, {Endpoint::CommitTransaction, "commit"},
      {Endpoint::AbortTransaction, "abort"},        {Endpoint::Health, "health"},
      {Endpoint::Ready, "ready"},                   {Endpoint::Classes, "classes"},
      {Endpoint::Metrics, "metrics"},               {Endpoint::Other, "other"},
      {Endpoint::Call, "call"}};
  for (const auto& [endpoint, label] : endpoints) metrics.CountRequest(endpoint, 200, 0.001);

  const auto samples = Samples(metrics.Text());
  for (const auto& [endpoint, label] : endpoints)
    EXPECT_EQ(samples.count(Series("morvane_requests_total",
                                   {{"endpoint", label}, {"class", "-"}, {"member", "-"}, {"status", "200"}})),
              1u)
        << label;
}

TEST_F(ServerMetricsTest, DurationsFallIntoTheirBucketsPerMemberWhateverTheStatus) {
  metrics.CountCall("Test.Served", "GetList", 200, 0.003);
  metrics.CountCall("Test.Served", "GetList", 422, 0.0004);
  metrics.CountCall("Test.Served", "GetList", 200, 30);  // past every bound: only +Inf

  const auto samples = Samples(metrics.Text());
  const Labels member = {{"endpoint", "call"}, {"class", "Test.Served"}, {"member", "GetList"}};
  auto bucket = [&](const std::string& le) {
    std::string series = Series("morvane_request_duration_seconds_bucket", member);
    series.insert(series.size() - 1, ",le=\"" + le + "\"");  // the bound comes last
    return samples.at(series);
  };
  EXPECT_EQ(bucket("0.0005"), 1);
  EXPECT_EQ(bucket("0.0025"), 1);
  EXPECT_EQ(bucket("0.005"), 2);
  EXPECT_EQ(bucket("10"), 2);
  EXPECT_EQ(bucket("+Inf"), 3);
  EXPECT_EQ(samples.at(Series("morvane_request_duration_seconds_count", member)), 3);
  EXPECT_DOUBLE_EQ(samples.at(Series("morvane_request_duration_seconds_sum", member)), 30.0034);
}

TEST_F(ServerMetricsTest, TextsFromClientsNeverBecomeLabels) {
  const std::vector<std::string> hostile = {
      "Evil\"} morvane_workers 1e9\n",
      "back\\slash",
      "line\nbreak",
      "/v1/transactions/0123456789abcdef0123456789abcdef/commit",
      std::string("nul\0byte", 8),
      "\xff\xfe not UTF-8",
  };
  for (const std::string& text : hostile) {
    metrics.CountCall(text, "GetList", 404, 0.001);
    metrics.CountCall("Test.Served", text, 404, 0.001);
  }
  for (int i = 0; i < 1000; ++i) {
    const std::string n = std::to_string(i);
    metrics.CountCall(std::string("Class").append(n), std::string("M").append(n), 404, 0.001);
  }

  const std::string text = metrics.Text();
  const auto samples = Samples(text);
  EXPECT_EQ(Named(samples, "morvane_requests_total"),
            (std::map<std::string, double>{{Series("morvane_requests_total", Call("-", "-", "404")), 1006},
                                           {Series("morvane_requests_total", Call("Test.Served", "-", "404")), 6}}));
  EXPECT_EQ(samples.at("morvane_workers"), 8) << "a hostile text forged a sample";
  for (const char* part : {"Evil", "back", "break", "transactions/", "nul", "UTF-8", "Class1"})
    EXPECT_EQ(text.find(part), std::string::npos) << part;
}

TEST(ServerMetricsEscapingTest, ServedNamesWithQuotesBackslashesAndLineBreaksAreEscaped) {
  // Only a class the host itself serves can name a label; even then its text cannot break out.
  const automation::TypeInfo odd = TestClass("Odd\"Name\\With\nBreak");
  ServerMetrics metrics({.served = {&odd}});
  metrics.CountCall(odd.progId, "GetList", 200, 0.001);

  const auto samples = Samples(metrics.Text());
  EXPECT_EQ(samples.count(Series("morvane_requests_total", Call(R"(Odd\"Name\\With\nBreak)", "GetList", "200"))), 1u);
}

TEST_F(ServerMetricsTest, RaisedErrorsAreCountedByNumberUpToTheCap) {
  metrics.CountRaisedError(10007);
  metrics.CountRaisedError(10007);
  metrics.CountRaisedError(static_cast<std::int32_t>(0x8004D00Eu));
  for (std::int32_t n = 1; n <= 300; ++n) metrics.CountRaisedError(20000 + n);
  metrics.CountRaisedError(10007);  // known before the cap was reached: still its own series

  const auto errors = Named(Samples(metrics.Text()), "morvane_raised_errors_total");
  EXPECT_EQ(errors.size(), 257u);  // 256 numbers and "other"
  EXPECT_EQ(errors.at(Series("morvane_raised_errors_total", {{"number", "10007"}})), 3);
  EXPECT_EQ(errors.at(Series("morvane_raised_errors_total", {{"number", "-2147168242"}})), 1);
  EXPECT_EQ(errors.at(Series("morvane_raised_errors_total", {{"number", "20254"}})), 1);
  EXPECT_FALSE(errors.contains(Series("morvane_raised_errors_total", {{"number", "20255"}})));
  EXPECT_EQ(errors.at(Series("morvane_raised_errors_total", {{"number", "other"}})), 46);
}

TEST(ServerMetricsGaugesTest, GaugesShowConnectionsAndReadTheirSourcesAtEachScrape) {
  testing::TempDatabase database;
  std::size_t held = 5;
  std::size_t waiting = 0;
  ServerMetrics metrics({.workers = 8, .heldTransactions = [&] { return held; }, .workerQueue = [&] { return waiting; }});
  for (int i = 0; i < 3; ++i) metrics.ConnectionOpened();
  metrics.ConnectionClosed();
  db::ConnectionPool& pool = db::ConnectionPool::Instance();
  pool.Clear();
  {
    auto a = pool.Acquire(database.ConnectString());
    auto b = pool.Acquire(database.ConnectString());
  }

  auto samples = Samples(metrics.Text());
  EXPECT_EQ(samples.at("morvane_open_connections"), 2);
  EXPECT_EQ(samples.at("morvane_workers"), 8);
  EXPECT_EQ(samples.at("morvane_held_transactions"), 5);
  EXPECT_EQ(samples.at("morvane_worker_queue"), 0);
  EXPECT_EQ(samples.at("morvane_pooled_connections"), 2);

  held = 1;
  waiting = 4;
  pool.Clear();
  samples = Samples(metrics.Text());
  EXPECT_EQ(samples.at("morvane_held_transactions"), 1);
  EXPECT_EQ(samples.at("morvane_worker_queue"), 4);
  EXPECT_EQ(samples.at("morvane_pooled_connections"), 0);
}

TEST_F(ServerMetricsTest, EveryFamilyIsDescribedForTheScraper) {
  metrics.CountRequest(Endpoint::Health, 200, 0.001);  // families without a series are left out
  metrics.CountRaisedError(5);
  const std::string text = metrics.Text();
  for (const char* type : {"# TYPE morvane_requests_total counter", "# TYPE morvane_request_duration_seconds histogram",
                           "# TYPE morvane_raised_errors_total counter", "# TYPE morvane_open_connections gauge",
                           "# TYPE morvane_held_transactions gauge", "# TYPE morvane_workers gauge",
                           "# TYPE morvane_worker_queue gauge", "# TYPE morvane_pooled_connections gauge"})
    EXPECT_NE(text.find(type), std::string::npos) << type;
}

TEST_F(ServerMetricsTest, CountsFromManyThreadsAddUp) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kRounds; ++i) {
        metrics.ConnectionOpened();
        metrics.CountCall("Test.Served", i % 2 ? "GetList" : "Value", 200, 0.001);
        metrics.CountCall("Unserved" + std::to_string(t), "GetList", 404, 0.001);
        metrics.CountRequest(Endpoint::Health, 200, 0.0001);
        metrics.CountRaisedError(i % 300);  // past the cap: threads race to take the last places
        if (i % 100 == 0) metrics.Text();
        metrics.ConnectionClosed();
      }
    });
  }
  for (std::thread& t : threads) t.join();

  const auto samples = Samples(metrics.Text());
  const double perKind = kThreads * kRounds / 2.0;
  EXPECT_EQ(samples.at(Series("morvane_requests_total", Call("Test.Served", "GetList", "200"))), perKind);
  EXPECT_EQ(samples.at(Series("morvane_requests_total", Call("Test.Served", "Value", "200"))), perKind);
  EXPECT_EQ(samples.at(Series("morvane_requests_total", Call("-", "-", "404"))), kThreads * kRounds);
  EXPECT_EQ(samples.at(Series("morvane_request_duration_seconds_count",
                              {{"endpoint", "health"}, {"class", "-"}, {"member", "-"}})),
            kThreads * kRounds);
  EXPECT_EQ(samples.at("morvane_open_connections"), 0);
  const auto errors = Named(samples, "morvane_raised_errors_total");
  double raised = 0;
  for (const auto& [series, value] : errors) raised += value;
  EXPECT_EQ(raised, kThreads * kRounds);
  EXPECT_EQ(errors.size(), 257u);
}

}  // namespace
}  // namespace morvane::host
