// How an intercepted call ends its transaction: the votes of its contexts, a call that raises,
// nested objects that join, and what reaches the caller.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/automation/error.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/db/ambient_transaction.h"
#include "platform/mts/object_context.h"
#include "platform/mts/runtime.h"
#include "runtime_fixture.h"

namespace morvane::mts::testing {

namespace errors = automation::errors;
namespace {

using automation::Error;
using automation::Variant;

enum class Vote { None, Complete, Abort };

void Cast(Vote vote) {
  if (vote == Vote::Complete) RequireObjectContext().SetComplete();
  if (vote == Vote::Abort) RequireObjectContext().SetAbort();
}

class CallOutcomeTest : public RuntimeTest {};

TEST_F(CallOutcomeTest, VotesOfTheCallThatBeganTheTransactionDecideItsEnd) {
  struct Case {
    const char* name;
    std::vector<Vote> votes;
    bool raises;
    const char* end;
  };
  const Case cases[] = {
      {"no vote", {}, false, "commit"},
      {"SetComplete", {Vote::Complete}, false, "commit"},
      {"SetAbort", {Vote::Abort}, false, "rollback"},
      {"SetAbort then SetComplete: the last vote counts", {Vote::Abort, Vote::Complete}, false, "commit"},
      {"SetComplete then SetAbort: the last vote counts", {Vote::Complete, Vote::Abort}, false, "rollback"},
      {"raises without voting", {}, true, "commit"},
      {"SetAbort then raises", {Vote::Abort}, true, "rollback"},
      {"SetComplete then raises", {Vote::Complete}, true, "commit"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string cs = ConnectionString(std::to_string(++n));
    const std::size_t before = events().size();
    auto obj = CreateObject(kRequired);
    auto body = [&] {
      Exec(cs, "insert 1");
      Exec(cs, "insert 2");
      for (Vote v : c.votes) Cast(v);
      if (c.raises) automation::Raise(1234, "Probe", "the body failed", "probe.hlp");
    };
    if (c.raises) {
      try {
        RunIn(*obj, body);
        ADD_FAILURE() << "the call's error did not reach the caller";
      } catch (const Error& e) {
        EXPECT_EQ(e.Number(), 1234);
        EXPECT_EQ(e.Source(), "Probe");
        EXPECT_EQ(e.Description(), "the body failed");
        EXPECT_EQ(e.HelpFile(), "probe.hlp");
      }
    } else {
      EXPECT_NO_THROW(RunIn(*obj, body));
    }
    Events all = events();
    Events mine(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const std::string id = mine.empty() ? "?" : mine.front().substr(0, mine.front().find(':'));
    EXPECT_EQ(mine, (Events{id + ":begin", id + ":exec insert 1", id + ":exec insert 2", id + ":" + c.end}));
    EXPECT_EQ(GetObjectContext(), nullptr);
    EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr);
  }
}

TEST_F(CallOutcomeTest, AnErrorOfAnyTypePassesUnchangedAndTheWorkCommits) {
  const std::string cs = ConnectionString();
  auto obj = CreateObject(kRequired);
  EXPECT_THROW(RunIn(*obj,
                     [&] {
                       Exec(cs, "insert 1");
                       throw std::out_of_range("not an automation error");
                     }),
               std::out_of_range);
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec insert 1", "1:commit"}));
}

TEST_F(CallOutcomeTest, TheCallResultIsReturnedAfterTheCommit) {
  const std::string cs = ConnectionString();
  auto obj = CreateObject(kRequired);
  Variant result = RunReturning(*obj, [&] {
    Exec(cs, "insert 1");
    RequireObjectContext().SetComplete();
    return Variant(42);
  });
  EXPECT_EQ(result, Variant(42));
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec insert 1", "1:commit"}));
}

TEST_F(CallOutcomeTest, AFailedCommitReachesTheCaller) {
  const std::string cs = ConnectionString();
  provider().FailCommitFor(cs);
  auto obj = CreateObject(kRequired);
  try {
    RunIn(*obj, [&] { Exec(cs, "insert 1"); });
    ADD_FAILURE() << "a failed commit was reported as success";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kInjectedFault);
  }
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec insert 1", "1:commit failed", "1:rollback"}));
}

// An object that the call creates (by CreateInstance, or by CreateObject while the call runs)
// joins the call's transaction; its abort vote dooms it. The caller learns of a rollback that
// the outer call did not ask for.
TEST_F(CallOutcomeTest, NestedObjectsJoinAndTheirAbortVoteDoomsTheTransaction) {
  struct Case {
    const char* name;
    bool viaCreateInstance;
    Vote outer;
    Vote inner;
    bool callerSeesAbort;
    const char* end;
  };
  const Case cases[] = {
      {"inner completes, outer completes", true, Vote::Complete, Vote::Complete, false, "commit"},
      {"inner aborts, outer completes", true, Vote::Complete, Vote::Abort, true, "rollback"},
      {"inner aborts, outer does not vote", true, Vote::None, Vote::Abort, true, "rollback"},
      {"inner aborts, outer aborts", true, Vote::Abort, Vote::Abort, false, "rollback"},
      {"inner completes, outer aborts", true, Vote::Abort, Vote::Complete, false, "rollback"},
      {"created by CreateObject: inner completes", false, Vote::Complete, Vote::Complete, false, "commit"},
      {"created by CreateObject: inner aborts", false, Vote::Complete, Vote::Abort, true, "rollback"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string cs = ConnectionString(std::to_string(++n));
    const std::size_t before = events().size();
    auto outer = CreateObject(kRequired);
    auto call = [&] {
      RunIn(*outer, [&] {
        Exec(cs, "outer");
        auto inner = c.viaCreateInstance ? RequireObjectContext().CreateInstance(kRequired) : CreateObject(kRequired);
        RunIn(*inner, [&] {
          EXPECT_TRUE(RequireObjectContext().IsInTransaction());
          Exec(cs, "inner");
          Cast(c.inner);
        });
        Cast(c.outer);
      });
    };
    if (c.callerSeesAbort) {
      try {
        call();
        ADD_FAILURE() << "a rolled-back call was reported as success";
      } catch (const Error& e) {
        EXPECT_EQ(e.Number(), errors::kTransactionAborted);
        EXPECT_NE(e.Description().find("SetAbort"), std::string::npos) << e.Description();
      }
    } else {
      EXPECT_NO_THROW(call());
    }
    Events all = events();
    Events mine(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const std::string id = mine.empty() ? "?" : mine.front().substr(0, mine.front().find(':'));
    EXPECT_EQ(mine, (Events{id + ":begin", id + ":exec outer", id + ":exec inner", id + ":" + c.end}));
  }
}

TEST_F(CallOutcomeTest, AnInnerErrorCaughtByTheOuterCallStillDoomsWhenTheInnerVotedAbort) {
  const std::string cs = ConnectionString();
  auto outer = CreateObject(kRequired);
  EXPECT_THROW(RunIn(*outer,
                     [&] {
                       auto inner = RequireObjectContext().CreateInstance(kRequired);
                       try {
                         RunIn(*inner, [&] {
                           RequireObjectContext().SetAbort();
                           Exec(cs, "inner");
                           automation::Raise(5);
                         });
                       } catch (const Error&) {
                         // handled by the outer call, which then votes complete
                       }
                       RequireObjectContext().SetComplete();
                     }),
               Error);
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec inner", "1:rollback"}));
}

TEST_F(CallOutcomeTest, ASupportedCallOutsideATransactionAutocommits) {
  const std::string cs = ConnectionString();
  auto obj = CreateObject(kSupported);
  RunIn(*obj, [&] {
    Exec(cs, "insert 1");
    RequireObjectContext().SetAbort();  // no transaction: the vote has nothing to doom
    Exec(cs, "insert 2");
  });
  for (const std::string& e : events()) {
    EXPECT_EQ(e.find("begin"), std::string::npos) << e;
    EXPECT_EQ(e.find("rollback"), std::string::npos) << e;
  }
  EXPECT_EQ(events().size(), 2u);
}

TEST_F(CallOutcomeTest, ANotSupportedCallNeverEnlists) {
  const std::string cs = ConnectionString();
  auto required = CreateObject(kRequired);
  auto notSupported = CreateObject(kNotSupported);
  RunIn(*required, [&] {
    Exec(cs, "in transaction");
    RunIn(*notSupported, [&] {
      EXPECT_EQ(db::CurrentAmbientTransaction(), nullptr);
      Exec(cs, "outside");
    });
    EXPECT_NE(db::CurrentAmbientTransaction(), nullptr);
  });
  // The enlisted connection is busy, so the call without transaction gets a second one.
  EXPECT_EQ(events(), (Events{"1:begin", "1:exec in transaction", "2:exec outside", "1:commit"}));
}

TEST_F(CallOutcomeTest, UnknownProgIdsRaiseUnknownClass) {
  auto expectUnknown = [](auto&& create) {
    try {
      create();
      ADD_FAILURE() << "no error for an unregistered ProgID";
    } catch (const automation::DispatchError& e) {
      EXPECT_EQ(e.kind(), automation::DispatchError::Kind::UnknownClass);
      EXPECT_EQ(e.Number(), errors::kCannotCreateObject);
    }
  };
  expectUnknown([] { CreateObject("MtsTest.NoSuchClass"); });
  auto obj = CreateObject(kRequired);
  RunIn(*obj, [&] { expectUnknown([] { RequireObjectContext().CreateInstance("MtsTest.NoSuchClass"); }); });
}

TEST_F(CallOutcomeTest, TheWrapperHasTheTypeInformationOfTheClass) {
  auto wrapped = CreateObject(kSupported);
  auto plain = automation::CreateObject(kSupported);
  EXPECT_EQ(&wrapped->GetTypeInfo(), &plain->GetTypeInfo());
}

}  // namespace
}  // namespace morvane::mts::testing
