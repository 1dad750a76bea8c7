// The readiness check: real SQLite files that exist, vanish, lack the tables or are locked by a
// writer, and a provider that does not answer.
#include "host/readiness.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/db/sqlite/sqlite_error.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "testing/forwarding_provider.h"
#include "testing/provider_override.h"
#include "testing/service_fixture.h"

namespace morvane::host {
namespace {

using call::Json;
using testing::TempDatabase;

// The description of a 503 answer's error, after checking the answer's form.
std::string NotReadyDescription(const ReadinessAnswer& answer) {
  EXPECT_EQ(answer.status, 503);
  const Json& error = answer.body.at("error");
  for (const char* key : {"number", "hresult", "source", "description", "helpFile"})
    EXPECT_TRUE(error.contains(key)) << key;
  return error.value("description", "");
}

void Remove(const std::filesystem::path& database) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(database.string() + suffix);
}

TEST(ReadinessTest, ReadyWhenTheDatabaseOpensAndHoldsTheTables) {
  const TempDatabase database;
  ReadinessCheck check({database.ConnectString()});

  const ReadinessResult result = check.Run();
  ASSERT_TRUE(result.ready) << result.probes.at(0).error;
  const ReadinessAnswer answer = ReadinessAnswerFor(result);
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, (Json{{"status", "ready"},
                               {"databases", Json::array({{{"name", database.ConnectString()}, {"ok", true}}})}}));
}

TEST(ReadinessTest, ADeletedFileIsNoticedAlthoughPooledConnectionsStillReachIt) {
  const TempDatabase database;
  database.Exec("SELECT 1");  // leaves an idle pooled connection on the file
  ReadinessCheck check({database.ConnectString()});
  ASSERT_TRUE(check.Run().ready);

  Remove(database.path_);
  const ReadinessResult result = check.Run();
  EXPECT_FALSE(result.ready);
  EXPECT_EQ(result.probes.at(0).number, db::sqlite::SqliteErrorNumber(SQLITE_CANTOPEN));
  EXPECT_FALSE(std::filesystem::exists(database.path_)) << "the probe created the file again";

  const ReadinessAnswer answer = ReadinessAnswerFor(result);
  const std::string description = NotReadyDescription(answer);
  EXPECT_NE(description.find(database.ConnectString()), std::string::npos) << description;
  EXPECT_NE(description.find("does not exist"), std::string::npos) << description;
  EXPECT_EQ(answer.body["error"]["source"], "Morvane.SQLite");
}

TEST(ReadinessTest, OneMissingDatabaseOfTwoMakesTheHostNotReadyAndIsTheOneNamed) {
  const TempDatabase kept;
  const TempDatabase lost;
  Remove(lost.path_);
  ReadinessCheck check({kept.ConnectString(), lost.ConnectString()});

  const ReadinessResult result = check.Run();
  EXPECT_FALSE(result.ready);
  ASSERT_EQ(result.probes.size(), 2u);
  EXPECT_TRUE(result.probes[0].ok);
  EXPECT_FALSE(result.probes[1].ok);
  const std::string description = NotReadyDescription(ReadinessAnswerFor(result));
  EXPECT_NE(description.find(lost.ConnectString()), std::string::npos) << description;
  EXPECT_EQ(description.find(kept.ConnectString()), std::string::npos) << description;
}

TEST(ReadinessTest, ADatabaseWithoutTheComponentsTablesIsNotReady) {
  testing::TempFolder folder;
  const std::string path = (folder / "empty.db").string();
  db::sqlite::CreateDatabase(path);
  ReadinessCheck check({"Provider=SQLite;Data Source=" + path});

  const ReadinessResult result = check.Run();
  EXPECT_FALSE(result.ready);
  EXPECT_NE(result.probes.at(0).error.find("no such table"), std::string::npos) << result.probes.at(0).error;
}

TEST(ReadinessTest, PasswordsAreMaskedInNamesAndErrors) {
  const TempDatabase database;
  const std::vector<std::string> allowed = {database.ConnectString() + ";PWD=hunter2",
                                            "Driver={No Such Driver};Server=db.invalid;UID=sa;Password={hunter2}"};
  ReadinessCheck check(allowed);

  const ReadinessResult result = check.Run();
  ASSERT_EQ(result.probes.size(), 2u);
  EXPECT_TRUE(result.probes[0].ok) << result.probes[0].error;
  EXPECT_EQ(result.probes[0].name, database.ConnectString() + ";PWD=***");
  EXPECT_FALSE(result.probes[1].ok);
  EXPECT_EQ(result.probes[1].name, "Driver={No Such Driver};Server=db.invalid;UID=sa;Password=***");
  const std::string body = call::DumpJson(ReadinessAnswerFor(result).body);
  EXPECT_EQ(body.find("hunter2"), std::string::npos) << body;
  EXPECT_NE(body.find("Password=***"), std::string::npos) << body;
}

TEST(ReadinessTest, AWriterHoldingTheDatabaseDoesNotDelayTheProbe) {
  const TempDatabase database;
  // Busy Timeout: a probe that wanted the write lock would wait long past the check's timeout.
  const std::string connectString = database.ConnectString() + ";Busy Timeout=60000";
  auto writer = db::sqlite::SqliteProvider::Instance().Connect(connectString);
  writer->Begin();
  writer->Execute("DELETE FROM CB_CostVchTempSet", {});
  ReadinessCheck check({connectString});

  const ReadinessResult result = check.Run();
  EXPECT_TRUE(result.ready) << result.probes.at(0).error;
  writer->Rollback();
}

TEST(ReadinessTest, ChecksFromManyThreadsAtOnceAllSeeTheDatabase) {
  const TempDatabase database;
  ReadinessCheck check({database.ConnectString()});
  std::vector<std::thread> threads;
  std::atomic<int> ready{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) ready += check.Run().ready ? 1 : 0;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ready, 8 * 20);
}

// Connections on SQLite files whose opening waits until the test lets it go.
class StalledProvider : public testing::ForwardingProvider {
 public:
  StalledProvider() : ForwardingProvider(db::sqlite::SqliteProvider::Instance()) {}

  std::unique_ptr<db::PhysicalConnection> Connect(std::string_view connectionString) override {
    {
      std::unique_lock lock(mutex_);
      ++connects_;
      released_.wait(lock, [this] { return free_; });
    }
    return ForwardingProvider::Connect(connectionString);
  }
  void Release() {
    std::lock_guard lock(mutex_);
    free_ = true;
    released_.notify_all();
  }
  int connects() {
    std::lock_guard lock(mutex_);
    return connects_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool free_ = false;  // guarded by mutex_
  int connects_ = 0;   // guarded by mutex_
};

TEST(ReadinessTest, ADatabaseThatDoesNotAnswerFailsInTimeAndHoldsOneProbeAtMost) {
  const TempDatabase database;
  StalledProvider stalled;
  testing::ProviderOverride override_(stalled);
  ReadinessCheck check({database.ConnectString()}, std::chrono::milliseconds(300));
  struct ReleaseAtEnd {  // before the check ends, which waits for its probe
    StalledProvider& provider;
    ~ReleaseAtEnd() { provider.Release(); }
  } releaseAtEnd{stalled};

  for (int i = 0; i < 3; ++i) {
    const ReadinessResult result = check.Run();
    EXPECT_FALSE(result.ready);
    EXPECT_EQ(result.probes.at(0).error, "the database did not answer within 300 ms");
  }
  EXPECT_EQ(stalled.connects(), 1) << "each check started a probe of its own while one hung";

  stalled.Release();
  // The probe in progress ends now; a check answers with it, or with a new one after it.
  bool ready = false;
  for (int i = 0; i < 20 && !ready; ++i) ready = check.Run().ready;
  EXPECT_TRUE(ready);
}

}  // namespace
}  // namespace morvane::host
