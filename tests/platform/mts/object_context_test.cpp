// The object context of intercepted calls: when there is one, which transaction it is in, how
// the thread's context and ambient transaction are restored, and the creating transaction that
// an object made by CreateInstance keeps.
#include <gtest/gtest.h>

#include <thread>

#include "platform/automation/error.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/db/ambient_transaction.h"
#include "platform/mts/object_context.h"
#include "platform/mts/runtime.h"
#include "runtime_fixture.h"

namespace morvane::mts::testing {
namespace {

using automation::Error;
using automation::Variant;

class ObjectContextTest : public RuntimeTest {};

TEST_F(ObjectContextTest, OutsideInterceptedCallsThereIsNoContext) {
  EXPECT_EQ(GetObjectContext(), nullptr);
  try {
    RequireObjectContext();
    ADD_FAILURE() << "RequireObjectContext gave a context outside any call";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), automation::errors::kObjectNotSet);
    EXPECT_NE(e.Description().find("mts::CreateObject"), std::string::npos) << e.Description();
  }
  // An object made by the plain creation has no context in its calls either.
  auto plain = automation::CreateObject(kRequired);
  RunIn(*plain, [] {
    EXPECT_EQ(GetObjectContext(), nullptr);
    EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr);
  });
}

TEST_F(ObjectContextTest, EachCallHasItsOwnContextInTheTransactionItsAttributeChooses) {
  struct Case {
    std::string_view progId;
    bool inScope;
    bool inTransaction;
  };
  const Case cases[] = {
      {kRequired, false, true},     {kRequired, true, true},       {kSupported, false, false},
      {kSupported, true, true},     {kNotSupported, false, false}, {kNotSupported, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.progId) + (c.inScope ? " in a scope" : " outside a scope"));
    std::optional<TransactionScope> scope;
    if (c.inScope) scope.emplace();
    auto obj = CreateObject(c.progId);
    ObjectContext* first = nullptr;
    RunIn(*obj, [&] {
      first = GetObjectContext();
      ASSERT_NE(first, nullptr);
      EXPECT_EQ(first->IsInTransaction(), c.inTransaction);
      EXPECT_EQ(db::CurrentAmbientTransaction() != nullptr, c.inTransaction);
    });
    RunIn(*obj, [&] { EXPECT_NE(GetObjectContext(), nullptr); });
    EXPECT_EQ(GetObjectContext(), nullptr);
    EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr);
  }
}

TEST_F(ObjectContextTest, TheCallersContextIsRestoredAfterANestedCallReturnsOrRaises) {
  auto outer = CreateObject(kRequired);
  auto inner = CreateObject(kNotSupported);
  RunIn(*outer, [&] {
    ObjectContext* mine = GetObjectContext();
    db::AmbientTransaction* ambient = db::CurrentAmbientTransaction();
    ASSERT_NE(ambient, nullptr);
    ObjectContext* theirs = nullptr;
    RunIn(*inner, [&] { theirs = GetObjectContext(); });
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(GetObjectContext(), mine);
    EXPECT_EQ(db::CurrentAmbientTransaction(), ambient);

    EXPECT_THROW(RunIn(*inner, [] { automation::Raise(5); }), Error);
    EXPECT_EQ(GetObjectContext(), mine);
    EXPECT_EQ(db::CurrentAmbientTransaction(), ambient);
  });
  EXPECT_THROW(RunIn(*outer, [] { automation::Raise(5); }), Error);
  EXPECT_EQ(GetObjectContext(), nullptr);
  EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr);
}

TEST_F(ObjectContextTest, AnAmbientTransactionSetByTheCallerIsRestored) {
  auto tx = Transaction::Begin();
  auto* mine = dynamic_cast<db::AmbientTransaction*>(tx.get());
  db::AmbientTransaction* previous = db::SetCurrentAmbientTransaction(mine);
  auto obj = CreateObject(kNotSupported);
  RunIn(*obj, [] { EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr); });
  EXPECT_EQ(db::CurrentAmbientTransaction(), mine);
  db::SetCurrentAmbientTransaction(previous);
  tx->Abort();
}

// An object created by CreateInstance joins the transaction it was created in, also when a later
// call comes from another thread that has no transaction; once that transaction has ended, the
// object follows its attribute from where it is called.
TEST_F(ObjectContextTest, AnObjectJoinsTheTransactionItWasCreatedIn) {
  const std::string cs = ConnectionString();
  auto factory = CreateObject(kRequired);
  TransactionScope scope;
  Variant made = RunReturning(*factory, [] { return Variant(RequireObjectContext().CreateInstance(kRequired)); });
  ASSERT_TRUE(made.IsObject());
  automation::DispatchPtr child = made.object();

  std::thread([&] {
    RunIn(*child, [&] {
      EXPECT_TRUE(RequireObjectContext().IsInTransaction());
      Exec(cs, "from elsewhere");
    });
  }).join();
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec from elsewhere"}));
  scope.Commit();

  RunIn(*child, [&] { Exec(cs, "after the end"); });
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec from elsewhere", "1:commit", "1:begin", "1:exec after the end",
                              "1:commit"}));
}

TEST_F(ObjectContextTest, TheCreatingTransactionWinsOverTheCallersOne) {
  const std::string cs = ConnectionString();
  auto factory = CreateObject(kRequired);
  automation::DispatchPtr child;
  TransactionScope first;
  RunIn(*factory, [&] { child = RequireObjectContext().CreateInstance(kSupported); });
  {
    TransactionScope second;
    RunIn(*child, [&] { RequireObjectContext().SetAbort(); });
    EXPECT_FALSE(second.IsDoomed());
    second.Commit();
  }
  EXPECT_TRUE(first.IsDoomed());
}

TEST_F(ObjectContextTest, ObjectsCreatedOutsideATransactionFollowTheirCaller) {
  auto factory = CreateObject(kNotSupported);
  automation::DispatchPtr child;
  RunIn(*factory, [&] {
    EXPECT_FALSE(RequireObjectContext().IsInTransaction());
    child = RequireObjectContext().CreateInstance(kSupported);
  });
  RunIn(*child, [] { EXPECT_FALSE(RequireObjectContext().IsInTransaction()); });
  TransactionScope scope;
  RunIn(*child, [] { EXPECT_TRUE(RequireObjectContext().IsInTransaction()); });
}

TEST_F(ObjectContextTest, ContextsAreKeptPerThread) {
  auto obj = CreateObject(kRequired);
  RunIn(*obj, [] {
    ObjectContext* mine = GetObjectContext();
    std::thread([] {
      EXPECT_EQ(GetObjectContext(), nullptr);
      EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr);
    }).join();
    EXPECT_EQ(GetObjectContext(), mine);
  });
}

}  // namespace
}  // namespace morvane::mts::testing
