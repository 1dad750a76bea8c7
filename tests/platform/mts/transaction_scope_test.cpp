// Caller-held transactions: TransactionScope and Transaction with TransactionBinding, calls that
// join them, and the transaction itself (enlistment, commit, rollback, failures).
#include <gtest/gtest.h>

#include <thread>

#include "platform/automation/error.h"
#include "platform/db/ambient_transaction.h"
#include "platform/db/connection.h"
#include "platform/db/pool.h"
#include "platform/mts/object_context.h"
#include "platform/mts/runtime.h"
#include "platform/mts/transaction.h"
#include "runtime_fixture.h"
#include "testing/raised.h"

namespace morvane::mts::testing {

namespace errors = automation::errors;
namespace {

using automation::Error;
using morvane::testing::ErrorOf;
using morvane::testing::NumberRaised;

class TransactionScopeTest : public RuntimeTest {};

TEST_F(TransactionScopeTest, CallsInAScopeCommitTogetherOnlyWhenTheScopeCommits) {
  const std::string cs = ConnectionString();
  auto update = CreateObject(kRequired);
  auto info = CreateObject(kSupported);
  {
    TransactionScope tx;
    RunIn(*update, [&] {
      Exec(cs, "first");
      RequireObjectContext().SetComplete();
    });
    RunIn(*info, [&] {
      EXPECT_TRUE(RequireObjectContext().IsInTransaction());
      Exec(cs, "second");
    });
    EXPECT_EQ(events(), (Events{"1:begin", "1:exec first", "1:exec second"}));
    tx.Commit();
  }
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec first", "1:exec second", "1:commit"}));
}

TEST_F(TransactionScopeTest, AScopeLeftWithoutCommitRollsBack) {
  const std::string cs = ConnectionString();
  auto update = CreateObject(kRequired);
  {
    TransactionScope tx;
    RunIn(*update, [&] { Exec(cs, "first"); });
    RunIn(*update, [&] { Exec(cs, "second"); });
  }
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec first", "1:exec second", "1:rollback"}));
}

TEST_F(TransactionScopeTest, AnAbortVoteDoomsTheScopeAndItsCommitRaises) {
  const std::string cs = ConnectionString();
  auto update = CreateObject(kRequired);
  TransactionScope tx;
  RunIn(*update, [&] { Exec(cs, "first"); });
  RunIn(*update, [&] {
    RequireObjectContext().SetAbort();
    Exec(cs, "second");
  });  // a joined call returns normally: the caller decides
  EXPECT_TRUE(tx.IsDoomed());
  try {
    tx.Commit();
    ADD_FAILURE() << "a doomed scope committed";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errors::kTransactionAborted);
    EXPECT_NE(e.Description().find("abort"), std::string::npos) << e.Description();
  }
  EXPECT_TRUE(tx.transaction()->IsEnded());
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec first", "1:exec second", "1:rollback"}));
}

TEST_F(TransactionScopeTest, ACallThatRaisesWithoutVotingLeavesItsWorkToTheScope) {
  const std::string cs = ConnectionString();
  auto update = CreateObject(kRequired);
  TransactionScope tx;
  EXPECT_THROW(RunIn(*update,
                     [&] {
                       Exec(cs, "first");
                       automation::Raise(5);
                     }),
               Error);
  EXPECT_FALSE(tx.IsDoomed());
  tx.Commit();
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec first", "1:commit"}));
}

TEST_F(TransactionScopeTest, ANotSupportedCallInAScopeRunsWithoutIt) {
  const std::string cs = ConnectionString();
  auto plain = CreateObject(kNotSupported);
  TransactionScope tx;
  RunIn(*plain, [&] {
    EXPECT_FALSE(RequireObjectContext().IsInTransaction());
    Exec(cs, "autocommitted");
  });
  tx.Abort();
  EXPECT_EQ(events(), (Events{"1:exec autocommitted"}));
}

TEST_F(TransactionScopeTest, CallsAfterTheScopeEndedBeginTheirOwnTransaction) {
  const std::string cs = ConnectionString();
  auto update = CreateObject(kRequired);
  TransactionScope tx;
  RunIn(*update, [&] { Exec(cs, "in scope"); });
  tx.Commit();
  RunIn(*update, [&] { Exec(cs, "after"); });
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec in scope", "1:commit", "1:begin", "1:exec after", "1:commit"}));
}

TEST_F(TransactionScopeTest, TheScopeBindingEndsWithTheScope) {
  const std::string cs = ConnectionString();
  auto supported = CreateObject(kSupported);
  {
    TransactionScope tx;
    tx.Commit();
  }
  RunIn(*supported, [&] { EXPECT_FALSE(RequireObjectContext().IsInTransaction()); });
}

// The host holds a transaction across requests that arrive on different threads, one at a time.
TEST_F(TransactionScopeTest, ACallerHeldTransactionServesSuccessiveThreads) {
  const std::string cs = ConnectionString();
  std::shared_ptr<Transaction> tx = Transaction::Begin();
  auto update = CreateObject(kRequired);
  for (const char* statement : {"from thread 1", "from thread 2", "from thread 3"}) {
    std::thread([&] {
      TransactionBinding binding(tx);
      RunIn(*update, [&] { Exec(cs, statement); });
    }).join();
  }
  EXPECT_FALSE(tx->IsEnded());
  tx->Commit();
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec from thread 1", "1:exec from thread 2", "1:exec from thread 3",
                              "1:commit"}));
}

TEST_F(TransactionScopeTest, BindingsNestAndRestoreThePreviousTransaction) {
  auto supported = CreateObject(kSupported);
  auto outer = Transaction::Begin();
  auto inner = Transaction::Begin();
  TransactionBinding a(outer);
  {
    TransactionBinding b(inner);
    inner->Doom();
    RunIn(*supported, [] { EXPECT_TRUE(RequireObjectContext().IsInTransaction()); });
  }
  RunIn(*supported, [] { RequireObjectContext().SetAbort(); });
  EXPECT_TRUE(outer->IsDoomed());
  inner->Abort();
  outer->Abort();
}

// ---- The transaction itself ----------------------------------------------------------------

class RuntimeTransactionTest : public RuntimeTest {
 protected:
  std::shared_ptr<Transaction> tx_ = Transaction::Begin();
  db::AmbientTransaction& ambient() { return dynamic_cast<db::AmbientTransaction&>(*tx_); }
};

TEST_F(RuntimeTransactionTest, EnlistsOneConnectionPerConnectionString) {
  const std::string a = ConnectionString("a");
  const std::string b = ConnectionString("b");
  auto first = ambient().Enlist(a);
  EXPECT_EQ(ambient().Enlist(a), first);
  auto second = ambient().Enlist(b);
  EXPECT_NE(second, first);
  tx_->Commit();
  EXPECT_TRUE(tx_->IsEnded());
  EXPECT_FALSE(tx_->IsDoomed());
  EXPECT_EQ(events(), (Events{"1:begin", "2:begin", "1:commit", "2:commit"}));
}

TEST_F(RuntimeTransactionTest, EndingGivesTheConnectionsBackToThePool) {
  const std::string cs = ConnectionString();
  ambient().Enlist(cs);
  tx_->Commit();
  const std::size_t opened = db::ConnectionPool::Instance().PhysicalConnectionsOpened();
  auto again = db::ConnectionPool::Instance().Acquire(cs);
  EXPECT_EQ(db::ConnectionPool::Instance().PhysicalConnectionsOpened(), opened);
  again->Execute("reused", {});
  EXPECT_EQ(events(), (Events{"1:begin", "1:commit", "1:exec reused"}));
}

TEST_F(RuntimeTransactionTest, ADoomedTransactionRollsBackAndRefusesToCommit) {
  ambient().Enlist(ConnectionString("a"));
  ambient().Enlist(ConnectionString("b"));
  tx_->Doom();
  EXPECT_TRUE(tx_->IsDoomed());
  EXPECT_FALSE(tx_->IsEnded());
  EXPECT_EQ(NumberRaised([&] { tx_->Commit(); }), errors::kTransactionAborted);
  EXPECT_TRUE(tx_->IsEnded());
  EXPECT_EQ(events(), (Events{"1:begin", "2:begin", "1:rollback", "2:rollback"}));
  // Once ended: a second commit still refuses, abort does nothing, nothing can enlist.
  EXPECT_EQ(NumberRaised([&] { tx_->Commit(); }), errors::kTransactionAborted);
  EXPECT_NO_THROW(tx_->Abort());
  EXPECT_EQ(NumberRaised([&] { ambient().Enlist(ConnectionString("c")); }), errors::kTransactionEnded);
  EXPECT_EQ(events().size(), 4u);
}

TEST_F(RuntimeTransactionTest, EndedTransactionsIgnoreFurtherEnds) {
  ambient().Enlist(ConnectionString());
  tx_->Commit();
  tx_->Commit();
  tx_->Abort();
  tx_->Doom();
  EXPECT_FALSE(tx_->IsDoomed());
  EXPECT_EQ(events(), (Events{"1:begin", "1:commit"}));

  auto aborted = Transaction::Begin();
  aborted->Abort();
  EXPECT_EQ(NumberRaised([&] { aborted->Commit(); }), errors::kTransactionAborted);
}

TEST_F(RuntimeTransactionTest, AFailedCommitRollsBackWhatIsNotYetCommitted) {
  struct Case {
    const char* name;
    const char* failing;
    Events expected;
  };
  const Case cases[] = {
      {"first fails", "a", {"1:begin", "2:begin", "1:commit failed", "1:rollback", "2:rollback"}},
      {"second fails", "b", {"1:begin", "2:begin", "1:commit", "2:commit failed", "2:rollback"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingProvider fresh;
    morvane::testing::ProviderOverride install(fresh);
    fresh.FailCommitFor(ConnectionString(c.failing));
    auto tx = Transaction::Begin();
    auto& enlist = dynamic_cast<db::AmbientTransaction&>(*tx);
    enlist.Enlist(ConnectionString("a"));
    enlist.Enlist(ConnectionString("b"));
    EXPECT_EQ(NumberRaised([&] { tx->Commit(); }), kInjectedFault);
    EXPECT_TRUE(tx->IsEnded());
    EXPECT_EQ(fresh.Events(), c.expected);
  }
}

// The caller may still hold a connection of the transaction (a Connection opened in a call and not
// yet closed) when another connection's commit fails: that connection is rolled back by the
// failed commit itself, not only once the caller lets it go, so its transaction ends (and its
// locks go) at once.
TEST_F(RuntimeTransactionTest, AFailedCommitRollsBackAConnectionTheCallerStillHolds) {
  const std::string failing = ConnectionString("a");
  const std::string held = ConnectionString("b");
  provider().FailCommitFor(failing);
  auto update = CreateObject(kRequired);
  std::shared_ptr<db::Connection> kept;
  {
    TransactionBinding binding(tx_);
    RunIn(*update, [&] {
      Exec(failing, "first");
      kept = db::Connection::New();
      kept->Open(held);
      kept->Execute("second");
    });
  }
  EXPECT_EQ(ErrorOf([&] { tx_->Commit(); }).Number(), kInjectedFault);
  ASSERT_TRUE(kept->IsOpen());
  const Events rolledBack = {"1:begin", "1:exec first", "2:begin", "2:exec second",
                             "1:commit failed", "1:rollback", "2:rollback"};
  EXPECT_EQ(events(), rolledBack) << "while the caller still holds connection 2";
  kept.reset();
  EXPECT_EQ(events(), rolledBack) << "letting connection 2 go has nothing left to roll back";
}

TEST_F(RuntimeTransactionTest, AFailedBeginEnlistsNothing) {
  const std::string cs = ConnectionString();
  provider().FailBeginFor(cs);
  EXPECT_EQ(NumberRaised([&] { ambient().Enlist(cs); }), kInjectedFault);
  tx_->Commit();
  EXPECT_EQ(events(), (Events{"1:begin"}));
}

TEST_F(RuntimeTransactionTest, ATransactionDroppedWithoutEndingRollsBack) {
  ambient().Enlist(ConnectionString());
  tx_.reset();
  EXPECT_EQ(events(), (Events{"1:begin", "1:rollback"}));
}

}  // namespace
}  // namespace morvane::mts::testing
