// Transactions held by callers of the host: what a commit keeps and an abort drops, a vote that
// dooms one, ids that are not held, the reaper of idle ones, the caps on how many are held and
// the wait of a call for the transaction's other call.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <regex>
#include <set>

#include "host/server_fixture.h"
#include "host/server_transactions.h"

namespace morvane::testing {

namespace errors = automation::errors;
namespace {

class ServerTransactionsTest : public HostFixture {
 protected:
  std::string Begin(HostClient& client) {
    const Reply reply = client.Post("/v1/transactions", std::string());
    EXPECT_EQ(reply.status, 200) << reply;
    return reply.body.value("id", "");
  }
  static httplib::Headers In(const std::string& id) { return {{"Transaction", id}}; }
  Reply AppendIn(HostClient& client, const std::string& id, const std::string& dept, bool bMts) {
    return AppendIn(client, id, Dsn("en"), dept, bMts);
  }
  Reply AppendIn(HostClient& client, const std::string& id, const std::string& dsn, const std::string& dept,
                 bool bMts) {
    return client.Post(UpdatePath("Append"),
                       Json::array({dsn, Json::array({SettingJson("V1", "301", dept, "E01")}), bMts}), In(id));
  }
};

TEST_F(ServerTransactionsTest, AbortDropsBothCallsAndCommitKeepsBoth) {
  Start();
  HostClient client = Client();
  for (const bool commit : {false, true}) {
    const std::string id = Begin(client);
    ASSERT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
    ASSERT_EQ(AppendIn(client, id, "D01", false).status, 200);
    ASSERT_EQ(AppendIn(client, id, "D02", false).status, 200);
    EXPECT_TRUE(Settings().empty()) << "nothing is visible before the transaction ends";

    const Reply end = client.Post("/v1/transactions/" + id + (commit ? "/commit" : "/abort"), std::string());
    ASSERT_EQ(end.status, 200) << end;
    EXPECT_EQ(end.body["state"], commit ? "committed" : "aborted");
    if (commit) {
      EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r", "V1|301|D02|E01|r"}));
    } else {
      EXPECT_TRUE(Settings().empty());
    }
    const Reply again = client.Post("/v1/transactions/" + id + "/commit", std::string());
    EXPECT_EQ(again.status, 404) << "an ended transaction is no longer held: " << again;
    EXPECT_TRUE(IsErrorBody(again.body)) << again;
  }
}

TEST_F(ServerTransactionsTest, ACommitThatAVoteDoomedAnswers409AndWritesNothing) {
  Start();
  HostClient client = Client();
  const std::string id = Begin(client);
  ASSERT_EQ(AppendIn(client, id, "D01", true).status, 200);
  const Reply duplicate = AppendIn(client, id, "D01", true);  // raises 10007 after voting to abort
  ASSERT_EQ(duplicate.status, 422) << duplicate;
  EXPECT_EQ(duplicate.ErrorNumber(), 10007);

  const Reply commit = client.Post("/v1/transactions/" + id + "/commit", std::string());
  ASSERT_EQ(commit.status, 409) << commit;
  ASSERT_TRUE(IsErrorBody(commit.body)) << commit;
  EXPECT_EQ(commit.ErrorNumber(), errors::kTransactionAborted);
  EXPECT_TRUE(Settings().empty()) << "the first call's row went with the transaction";
}

TEST_F(ServerTransactionsTest, TransactionsThatAreNotHeldAnswer404) {
  Start();
  HostClient client = Client();
  const std::string unknown(32, 'a');
  const struct {
    const char* what;
    std::function<Reply()> request;
  } cases[] = {
      {"a call in an unknown transaction", [&] { return AppendIn(client, unknown, "D01", false); }},
      {"commit of an unknown transaction",
       [&] { return client.Post("/v1/transactions/" + unknown + "/commit", std::string()); }},
      {"abort of an unknown transaction",
       [&] { return client.Post("/v1/transactions/" + unknown + "/abort", std::string()); }},
  };
  for (const auto& c : cases) {
    const Reply reply = c.request();
    EXPECT_EQ(reply.status, 404) << c.what << ": " << reply;
    EXPECT_TRUE(IsErrorBody(reply.body)) << c.what << ": " << reply;
  }
  EXPECT_TRUE(Settings().empty()) << "a call naming an unknown transaction does not run";
}

TEST_F(ServerTransactionsTest, AnIdleTransactionIsAbortedByTheReaper) {
  host::HostConfig config = Config();
  config.transactionIdleSeconds = 1;
  Start(config);
  HostClient client = Client();
  const std::string id = Begin(client);
  ASSERT_EQ(AppendIn(client, id, "D01", false).status, 200);

  // Wait for the reaper to say it aborted the transaction (a few of its rounds on a busy machine).
  const auto reaped = [&] {
    for (const auto& line : server_->LogLines())
      if (line.find("transaction " + id.substr(0, 8) + " aborted after being idle") != std::string::npos) return true;
    return false;
  };
  for (int i = 0; i < 300 && !reaped(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(reaped()) << ::testing::PrintToString(server_->LogLines());
  const Reply commit = client.Post("/v1/transactions/" + id + "/commit", std::string());
  EXPECT_EQ(commit.status, 404) << commit;
  EXPECT_EQ(AppendIn(client, id, "D02", false).status, 404);
  EXPECT_TRUE(Settings().empty());
}

TEST_F(ServerTransactionsTest, BeginsBeyondACapAnswer429NamingTheCap) {
  struct Case {
    const char* what;
    std::size_t total;
    std::size_t perClient;
    const char* named;
  };
  const Case cases[] = {
      {"per client", 10, 2, "per-client cap 2"},
      {"in total", 2, 10, "total cap 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::HostConfig config = Config();
    config.maxHeldTransactions = c.total;
    config.maxHeldTransactionsPerClient = c.perClient;
    Start(config);
    HostClient client = Client();
    const std::string first = Begin(client);
    Begin(client);

    const Reply refused = client.Post("/v1/transactions", std::string());
    ASSERT_EQ(refused.status, 429) << refused;
    EXPECT_TRUE(IsErrorBody(refused.body)) << refused;
    EXPECT_EQ(refused.ErrorNumber(), errors::kTooManyTransactions);
    EXPECT_NE(refused.Description().find(c.named), std::string::npos) << refused;

    ASSERT_EQ(client.Post("/v1/transactions/" + first + "/abort", std::string()).status, 200);
    Begin(client);  // the ended one no longer counts
  }
}

TEST_F(ServerTransactionsTest, ACallWaitingForItsTransactionPastTheRequestTimeoutAnswers409) {
  // Calls that run long: they wait, for the busy timeout, for the write lock that another held
  // transaction keeps.
  const std::string slow = ConnectString() + ";Busy Timeout=3000";
  std::string dsn = Dsn("en");
  dsn.replace(dsn.find(ConnectString()), ConnectString().size(), slow);
  host::HostConfig config = Config();
  config.allow = {slow};
  config.requestTimeoutSeconds = 1;
  Start(config);
  HostClient client = Client();
  const std::string keeper = Begin(client);
  ASSERT_EQ(AppendIn(client, keeper, dsn, "D01", false).status, 200);

  // Two calls of one transaction at once: one waits for the lock, the other for the first one.
  const std::string id = Begin(client);
  std::atomic<int> answers{0};
  auto call = [&](const char* dept) {
    HostClient own = Client();
    Reply reply = AppendIn(own, id, dsn, dept, false);
    return std::make_pair(reply, ++answers);
  };
  auto one = std::async(std::launch::async, call, "D02");
  auto other = std::async(std::launch::async, call, "D03");
  const auto [a, aOrder] = one.get();
  const auto [b, bOrder] = other.get();
  ASSERT_TRUE((a.status == 409) != (b.status == 409)) << a << "\n" << b;
  const Reply& busy = a.status == 409 ? a : b;
  const Reply& ran = a.status == 409 ? b : a;
  EXPECT_TRUE(IsErrorBody(busy.body)) << busy;
  EXPECT_EQ(busy.ErrorNumber(), errors::kTransactionBusy);
  EXPECT_NE(busy.Description().find("busy with another call for longer than the request timeout of 1 s"),
            std::string::npos)
      << busy;
  EXPECT_EQ((a.status == 409 ? aOrder : bOrder), 1) << "answered before the call it waited for";
  EXPECT_EQ(ran.status, 422) << ran;
  EXPECT_NE(ran.Description().find("database is locked"), std::string::npos) << ran;

  // The transaction is as it was: it takes the next call and commits it.
  ASSERT_EQ(client.Post("/v1/transactions/" + keeper + "/abort", std::string()).status, 200);
  ASSERT_EQ(AppendIn(client, id, dsn, "D04", false).status, 200);
  ASSERT_EQ(client.Post("/v1/transactions/" + id + "/commit", std::string()).status, 200);
  EXPECT_EQ(Settings(), std::vector<std::string>{"V1|301|D04|E01|r"});
}

// The table itself, without HTTP.
using Clock = host::HeldTransactions::Clock;
constexpr const char* kClient = "198.51.100.7";
Clock::time_point Later() { return Clock::now() + std::chrono::hours(1); }

TEST(HeldTransactionsTest, IdsAreDistinctAndCallsOfOneTransactionRunOneAtATime) {
  host::HeldTransactions held(std::chrono::hours(1), {}, {.total = 1000, .perClient = 1000});
  std::set<std::string> ids;
  for (int i = 0; i < 200; ++i) ids.insert(held.Begin(kClient));
  EXPECT_EQ(ids.size(), 200u);

  const std::string id = *ids.begin();
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        auto lease = held.Acquire(id, Later());
        ASSERT_TRUE(lease);
        const int now = ++inside;
        int seen = mostInside.load();
        while (now > seen && !mostInside.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --inside;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mostInside.load(), 1);

  EXPECT_EQ(held.Abort(id), host::HeldTransactions::EndResult::Ended);
  EXPECT_EQ(held.Acquire(id, Later()), nullptr);
  EXPECT_EQ(held.Commit(id), host::HeldTransactions::EndResult::NotFound);
  EXPECT_EQ(held.size(), 199u);
}

TEST(HeldTransactionsTest, CommitWaitsForTheCallInProgress) {
  host::HeldTransactions held(std::chrono::hours(1), {});
  const std::string id = held.Begin(kClient);
  auto lease = held.Acquire(id, Later());
  ASSERT_TRUE(lease);
  std::atomic<bool> committed{false};
  std::thread committer([&] {
    held.Commit(id);
    committed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(committed) << "the commit ran while a call of the transaction was running";
  lease.reset();
  committer.join();
  EXPECT_TRUE(committed);
}

TEST(HeldTransactionsTest, BeginsBeyondACapAreRefusedNamingIt) {
  host::HeldTransactions held(std::chrono::hours(1), {}, {.total = 5, .perClient = 3});
  const std::string a = "198.51.100.1";
  const std::string b = "2001:db8::2";
  for (int i = 0; i < 3; ++i) held.Begin(a);
  const automation::Error perClient = ErrorOf([&] { held.Begin(a); });
  EXPECT_EQ(perClient.Number(), errors::kTooManyTransactions);
  EXPECT_NE(perClient.Description().find("per-client cap 3"), std::string::npos) << perClient.Description();
  EXPECT_NE(perClient.Description().find(a), std::string::npos) << perClient.Description();

  held.Begin(b);
  held.Begin(b);
  const automation::Error total = ErrorOf([&] { held.Begin(b); });
  EXPECT_EQ(total.Number(), errors::kTooManyTransactions);
  EXPECT_NE(total.Description().find("total cap 5"), std::string::npos) << total.Description();

  EXPECT_EQ(held.size(), 5u) << "refused transactions are not held";
  EXPECT_EQ(held.HeldBy(a), 3u);
  EXPECT_EQ(held.HeldBy(b), 2u);
}

TEST(HeldTransactionsTest, EveryWayATransactionEndsFreesItsPlace) {
  enum class End { Commit, Abort, Reaped };
  const std::pair<const char*, End> cases[] = {{"commit", End::Commit}, {"abort", End::Abort}, {"reaped", End::Reaped}};
  for (const auto& [what, end] : cases) {
    SCOPED_TRACE(what);
    // Long enough that the reaper does not end it before the refused Begin.
    const auto idle = end == End::Reaped ? std::chrono::milliseconds(1000) : std::chrono::hours(1);
    host::HeldTransactions held(idle, {}, {.total = 1, .perClient = 1});
    const std::string id = held.Begin(kClient);
    EXPECT_EQ(NumberRaised([&] { held.Begin(kClient); }), errors::kTooManyTransactions);
    switch (end) {
      case End::Commit: held.Commit(id); break;
      case End::Abort: held.Abort(id); break;
      case End::Reaped:
        for (int i = 0; i < 3000 && held.size() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        break;
    }
    EXPECT_EQ(held.HeldBy(kClient), 0u);
    EXPECT_NO_THROW(held.Begin(kClient));
  }
}

TEST(HeldTransactionsTest, ACallThatCannotHaveTheTransactionByItsDeadlineIsRefusedAndChangesNothing) {
  host::HeldTransactions held(std::chrono::hours(1), {});
  const std::string id = held.Begin(kClient);
  auto lease = held.Acquire(id, Later());
  ASSERT_TRUE(lease);
  auto waiter = std::async(std::launch::async, [&] {
    return NumberRaised([&] { held.Acquire(id, Clock::now() + std::chrono::milliseconds(50)); });
  });
  const bool gaveUp = waiter.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  lease.reset();  // before the waiter is waited for, should it still wait
  EXPECT_TRUE(gaveUp) << "the deadline did not end the wait";
  EXPECT_EQ(waiter.get(), errors::kTransactionBusy);
  EXPECT_TRUE(held.Acquire(id, Later())) << "the transaction is still held and free";
  EXPECT_EQ(held.Commit(id), host::HeldTransactions::EndResult::Ended);
}

TEST(HeldTransactionsTest, ACallThatGaveUpWaitingDoesNotKeepTheReaperAway) {
  host::HeldTransactions held(std::chrono::milliseconds(1000), {});
  const std::string id = held.Begin(kClient);
  {
    auto lease = held.Acquire(id, Later());
    ASSERT_TRUE(lease);
    std::thread waiter([&] { NumberRaised([&] { held.Acquire(id, Clock::now() + std::chrono::milliseconds(10)); }); });
    waiter.join();
  }
  for (int i = 0; i < 3000 && held.size() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(held.size(), 0u) << "an idle transaction was not reaped";
}

}  // namespace
}  // namespace morvane::testing
