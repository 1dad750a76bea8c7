// The shared property group manager: the process-wide store, its groups and properties, late
// binding through the registered class, and its behaviour under threads.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/mts/shared_property.h"
#include "testing/raised.h"

namespace morvane::mts {

namespace errors = automation::errors;
namespace {

using automation::Error;
using automation::Variant;
using morvane::testing::NumberRaised;

// Group names are process-wide: each test uses names of its own.
std::string GroupName(const std::string& suffix = "") {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(test->name()) + suffix;
}

// "t<thread>-<slot>", appended piece by piece: GCC 12 warns (-Wrestrict) on "t" + std::string at -O3.
std::string PropertyName(int thread, int slot) {
  std::string name = "t";
  name += std::to_string(thread);
  name += '-';
  name += std::to_string(slot);
  return name;
}

std::shared_ptr<SharedPropertyGroup> Create(const std::string& name, std::int32_t isolation = LockSetGet,
                                            std::int32_t release = Process, bool* existed = nullptr) {
  return SharedPropertyGroupManager().CreatePropertyGroup(name, isolation, release, existed);
}

TEST(SharedPropertyTest, EveryManagerSeesTheSameGroupsAndTheFirstModesStay) {
  SharedPropertyGroupManager first;
  SharedPropertyGroupManager second;
  std::int32_t isolation = LockSetGet;
  std::int32_t release = Process;
  bool existed = true;
  auto created = first.CreatePropertyGroup(GroupName(), isolation, release, &existed);
  EXPECT_FALSE(existed);
  EXPECT_EQ(isolation, LockSetGet);
  EXPECT_EQ(release, Process);

  isolation = LockMethod;
  release = Standard;
  auto opened = second.CreatePropertyGroup(GroupName(), isolation, release, &existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(opened, created);
  EXPECT_EQ(isolation, LockSetGet) << "the existing group's mode is written back";
  EXPECT_EQ(release, Process);
  EXPECT_EQ(second.Group(GroupName()), created);
}

TEST(SharedPropertyTest, MissingGroupsAndPropertiesRaiseANumberedError) {
  SharedPropertyGroupManager manager;
  EXPECT_EQ(NumberRaised([&] { manager.Group(GroupName()); }), errors::kSharedPropertyNotFound);
  auto group = Create(GroupName());
  EXPECT_EQ(NumberRaised([&] { group->Property("Connected"); }), errors::kSharedPropertyNotFound);
  EXPECT_EQ(NumberRaised([&] { group->PropertyByPosition(3); }), errors::kSharedPropertyNotFound);
  try {
    group->PropertyByPosition(3);
  } catch (const Error& e) {
    EXPECT_NE(e.Description().find("position 3"), std::string::npos) << e.Description();
  }
}

TEST(SharedPropertyTest, InvalidModesRaiseInvalidProcedureCall) {
  for (auto [isolation, release] : {std::pair{2, 1}, std::pair{0, -1}}) {
    SCOPED_TRACE(std::to_string(isolation) + "/" + std::to_string(release));
    EXPECT_EQ(NumberRaised([&] { Create(GroupName(), isolation, release); }), automation::errors::kInvalidProcedureCall);
  }
  EXPECT_EQ(NumberRaised([&] { SharedPropertyGroupManager().Group(GroupName()); }), errors::kSharedPropertyNotFound);
}

TEST(SharedPropertyTest, PropertiesByNameAndByPositionAreSeparate) {
  auto group = Create(GroupName());
  bool existed = true;
  auto named = group->CreateProperty("3", &existed);
  EXPECT_FALSE(existed);
  EXPECT_TRUE(named->Value().IsEmpty()) << "a new property reads Empty";
  named->SetValue(Variant("by name"));

  auto positioned = group->CreatePropertyByPosition(3, &existed);
  EXPECT_FALSE(existed);
  EXPECT_NE(positioned, named);
  positioned->SetValue(Variant(3));

  EXPECT_EQ(group->CreateProperty("3", &existed), named);
  EXPECT_TRUE(existed);
  EXPECT_EQ(group->Property("3")->Value(), Variant("by name"));
  EXPECT_EQ(group->PropertyByPosition(3)->Value(), Variant(3));
  group->CreateProperty("Connected");
  EXPECT_EQ(NumberRaised([&] { group->Property("connected"); }), errors::kSharedPropertyNotFound) << "names are compared exactly";
}

TEST(SharedPropertyTest, ValuesMayBeObjectReferences) {
  auto group = Create(GroupName());
  auto other = Create(GroupName("-other"));
  group->CreateProperty("Record")->SetValue(Variant(automation::DispatchPtr(other)));
  Variant read = group->Property("Record")->Value();
  ASSERT_TRUE(read.IsObject());
  EXPECT_EQ(read.object(), other);
}

TEST(SharedPropertyTest, AStandardGroupIsReleasedWithItsLastReference) {
  bool existed = true;
  auto group = Create(GroupName(), LockSetGet, Standard, &existed);
  EXPECT_FALSE(existed);
  group->CreateProperty("x")->SetValue(Variant(1));
  Create(GroupName(), LockSetGet, Process, &existed);
  EXPECT_TRUE(existed);
  group.reset();
  EXPECT_EQ(NumberRaised([&] { SharedPropertyGroupManager().Group(GroupName()); }), errors::kSharedPropertyNotFound);

  std::int32_t isolation = LockSetGet;
  std::int32_t release = Process;
  group = SharedPropertyGroupManager().CreatePropertyGroup(GroupName(), isolation, release, &existed);
  EXPECT_FALSE(existed);
  EXPECT_EQ(release, Process);
  EXPECT_EQ(NumberRaised([&] { group->Property("x"); }), errors::kSharedPropertyNotFound);
}

TEST(SharedPropertyTest, AProcessGroupOutlivesItsReferences) {
  Create(GroupName())->CreatePropertyByPosition(7)->SetValue(Variant("kept"));
  bool existed = false;
  auto group = Create(GroupName(), LockSetGet, Process, &existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(group->PropertyByPosition(7)->Value(), Variant("kept"));
}

TEST(SharedPropertyTest, LateBoundThroughTheRegisteredClass) {
  RegisterRuntimeClasses();
  // ProgIDs ignore letter case: the profile loader spells it "MtxSpm...".
  auto manager = automation::CreateObject("MtxSpm.SharedPropertyGroupManager.1");
  std::vector<Variant> args{Variant(GroupName()), Variant(0), Variant(std::string("1")), Variant(true)};
  Variant group = automation::CallByName(*manager, "CreatePropertyGroup", automation::InvokeKind::Method, args);
  ASSERT_TRUE(group.IsObject());
  EXPECT_EQ(args[1], Variant(0));
  EXPECT_EQ(args[2], Variant(1));
  EXPECT_EQ(args[3], Variant(false));

  std::vector<Variant> byName{Variant("Connected"), Variant()};
  Variant property = automation::CallByName(*group.object(), "CreateProperty", automation::InvokeKind::Method, byName);
  EXPECT_EQ(byName[1], Variant(false));
  EXPECT_TRUE(automation::Call(*property.object(), "Value").IsEmpty());
  automation::PutProperty(*property.object(), "Value", true);

  Variant again = automation::Call(*manager, "Group", GroupName());
  Variant read = automation::Call(*automation::Call(*again.object(), "Property", "Connected").object(), "Value");
  EXPECT_EQ(read, Variant(true));

  std::vector<Variant> byPosition{Variant(5)};  // fExists may be left out
  automation::CallByName(*again.object(), "CreatePropertyByPosition", automation::InvokeKind::Method, byPosition);
  Variant fifth = automation::Call(*again.object(), "PropertyByPosition", 5);
  EXPECT_TRUE(automation::Call(*fifth.object(), "Value").IsEmpty());
}

// Eight threads, ten thousand operations each, on one group reached through managers of their own.
// Each thread writes its own properties and reads back what it wrote; all threads also bump one
// shared counter under the test's own lock (the store guarantees single reads and writes, not
// read-modify-write).
TEST(SharedPropertyTest, NoWriteIsLostUnderEightThreads) {
  constexpr int kThreads = 8;
  constexpr int kOperations = 10000;
  const std::string name = GroupName();
  std::mutex counterLock;
  std::atomic<int> mismatches{0};
  std::latch start(kThreads);
  // Each thread also reads a property of its neighbour: make those exist before any thread starts.
  for (int t = 0; t < kThreads; ++t) Create(name)->CreateProperty(PropertyName(t, 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::int32_t isolation = LockSetGet;
      std::int32_t release = Process;
      auto group = SharedPropertyGroupManager().CreatePropertyGroup(name, isolation, release);
      start.arrive_and_wait();
      for (int i = 0; i < kOperations; ++i) {
        switch (i % 4) {
          case 0: {
            const std::string own = PropertyName(t, i % 64);
            group->CreateProperty(own)->SetValue(Variant(i));
            if (group->Property(own)->Value() != Variant(i)) ++mismatches;
            break;
          }
          case 1:
            group->CreatePropertyByPosition(t * 1000 + i % 32)->SetValue(Variant(std::to_string(i)));
            break;
          case 2: {
            std::lock_guard lock(counterLock);
            auto counter = group->CreateProperty("counter");
            Variant v = counter->Value();
            counter->SetValue(Variant(v.IsEmpty() ? 1 : v.i4() + 1));
            break;
          }
          case 3:
            group->Property(PropertyName((t + 1) % kThreads, 0));  // another thread's, read only
            break;
        }
      }
    });
  }
  for (auto& th : threads) th.join();

  auto group = Create(name);
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(group->Property("counter")->Value(), Variant(kThreads * kOperations / 4));
  for (int t = 0; t < kThreads; ++t) {
    // The last write of each own property: the largest i below kOperations with i % 4 == 0 and
    // the same remainder modulo 64.
    for (int slot = 0; slot < 64; slot += 4) {
      int last = -1;
      for (int i = slot; i < kOperations; i += 64) last = i;
      EXPECT_EQ(group->Property(PropertyName(t, slot))->Value(), Variant(last))
          << "thread " << t << " slot " << slot;
    }
    for (int slot = 1; slot < 32; slot += 4) {
      int last = -1;
      for (int i = 0; i < kOperations; ++i)
        if (i % 4 == 1 && i % 32 == slot) last = i;
      EXPECT_EQ(group->PropertyByPosition(t * 1000 + slot)->Value(), Variant(std::to_string(last)))
          << "thread " << t << " position " << slot;
    }
  }
}

TEST(SharedPropertyTest, ExactlyOneOfEightRacingCreatorsIsToldTheGroupIsNew) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    std::string suffix = "-";  // built step by step, as PropertyName
    suffix += std::to_string(round);
    const std::string name = GroupName(suffix);
    std::latch start(kThreads);
    std::atomic<int> creators{0};
    std::vector<std::shared_ptr<SharedPropertyGroup>> groups(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        bool existed = true;
        start.arrive_and_wait();
        groups[t] = Create(name, LockSetGet, Process, &existed);
        if (!existed) ++creators;
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(creators.load(), 1) << "round " << round;
    for (auto& g : groups) EXPECT_EQ(g, groups[0]) << "round " << round;
  }
}

TEST(SharedPropertyTest, ExactlyOneOfEightRacingCreatorsIsToldThePropertyIsNew) {
  constexpr int kThreads = 8;
  auto group = Create(GroupName());
  for (int round = 0; round < 20; ++round) {
    std::latch start(kThreads);
    std::atomic<int> creators{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        bool existed = true;
        start.arrive_and_wait();
        group->CreatePropertyByPosition(round, &existed);
        if (!existed) ++creators;
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(creators.load(), 1) << "round " << round;
  }
}

}  // namespace
}  // namespace morvane::mts
