// Transactions held by callers of the host: what a commit keeps and an abort drops, a vote that
// dooms one, ids that are not held, and the reaper of idle ones.
#include <gtest/gtest.h>

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
    return client.Post(UpdatePath("Append"),
                       Json::array({Dsn("en"), Json::array({SettingJson("V1", "301", dept, "E01")}), bMts}), In(id));
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

// The table itself, without HTTP.
TEST(HeldTransactionsTest, IdsAreDistinctAndCallsOfOneTransactionRunOneAtATime) {
  host::HeldTransactions held(std::chrono::hours(1), {});
  std::set<std::string> ids;
  for (int i = 0; i < 200; ++i) ids.insert(held.Begin());
  EXPECT_EQ(ids.size(), 200u);

  const std::string id = *ids.begin();
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        auto lease = held.Acquire(id);
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
  EXPECT_EQ(held.Acquire(id), nullptr);
  EXPECT_EQ(held.Commit(id), host::HeldTransactions::EndResult::NotFound);
  EXPECT_EQ(held.size(), 199u);
}

TEST(HeldTransactionsTest, CommitWaitsForTheCallInProgress) {
  host::HeldTransactions held(std::chrono::hours(1), {});
  const std::string id = held.Begin();
  auto lease = held.Acquire(id);
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

}  // namespace
}  // namespace morvane::testing
