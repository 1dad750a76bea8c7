// The database profile of CDataSource: loaded once per process and product version into a shared
// property group, shared by descriptions of the same product, tried again after a failed load, and
// never served half-loaded to other threads.
//
// The groups live until the process ends, so every test names a product version of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <latch>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "datasource/c_data_source.h"
#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/pool.h"
#include "platform/db/provider.h"
#include "platform/db/recordset.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "platform/mts/shared_property.h"
#include "testing/forwarding_provider.h"
#include "testing/provider_override.h"
#include "testing/raised.h"
#include "testing/temp_folder.h"

namespace morvane::datasource {
namespace {

using automation::Variant;
using testing::ErrorOf;
using ProviderProperties = std::vector<std::pair<std::string, Variant>>;

constexpr const char* kProcQuery = "SELECT FProcName FROM t_SupportedProc";

// Forwards to the SQLite provider, counting the stored-procedure queries. A test may answer the
// provider properties itself, make reading them fail, make the procedure query fail with an error
// of its choosing, or slow that query down so that other threads run while a load is under way.
// Set up before any thread runs; read-only while they do.
class ProfileProvider : public testing::ForwardingProvider {
 public:
  ProfileProvider() : ForwardingProvider(db::sqlite::SqliteProvider::Instance()) {}

  std::optional<ProviderProperties> properties;  // replaces the SQLite provider's answer
  bool propertiesFail = false;
  std::optional<automation::Error> procQueryError;
  bool slowProcQuery = false;
  std::atomic<int> procQueries{0};

  std::vector<std::string> Statements() {
    std::lock_guard lock(mutex_);
    return statements_;
  }
  void ClearStatements() {
    std::lock_guard lock(mutex_);
    statements_.clear();
  }

 private:
  class Connection : public testing::ForwardingConnection {
   public:
    Connection(ProfileProvider& owner, std::unique_ptr<db::PhysicalConnection> inner)
        : ForwardingConnection(std::move(inner)), owner_(owner) {}
    db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter> params) override {
      {
        std::lock_guard lock(owner_.mutex_);
        owner_.statements_.emplace_back(sql);
      }
      if (sql == kProcQuery) {
        ++owner_.procQueries;
        if (owner_.procQueryError) throw *owner_.procQueryError;
        if (owner_.slowProcQuery)
          for (int i = 0; i < 20; ++i) std::this_thread::yield();
      }
      return ForwardingConnection::Execute(sql, params);
    }
    ProviderProperties Properties() override {
      if (owner_.propertiesFail) automation::Raise(7001, "Fake provider", "properties unavailable");
      return owner_.properties ? *owner_.properties : ForwardingConnection::Properties();
    }

   private:
    ProfileProvider& owner_;
  };

  std::unique_ptr<db::PhysicalConnection> Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                               std::string_view) override {
    return std::make_unique<Connection>(*this, std::move(connection));
  }

  std::mutex mutex_;
  std::vector<std::string> statements_;  // guarded by mutex_
};

// The group's property, or nothing when the group or the property does not exist.
std::optional<Variant> GroupValue(const std::string& group, std::string_view property) {
  try {
    return mts::SharedPropertyGroupManager().Group(group)->Property(property)->Value();
  } catch (const automation::Error&) {
    return std::nullopt;
  }
}

class DatabaseProfile : public ::testing::Test {
 protected:
  // A new SQLite database; with `procs` it holds t_SupportedProc with those names, without it
  // holds no such table. Returns its connection string.
  std::string MakeDatabase(const std::string& name, const std::optional<std::vector<std::string>>& procs) {
    const auto path = folder_ / (name + ".db");
    std::ofstream(path).close();  // the provider opens existing files only; an empty file is a database
    const std::string connectString = "Provider=SQLite;Data Source=" + path.string();
    if (procs) {
      auto cn = db::Connection::New();
      cn->Open(connectString);
      cn->Execute("CREATE TABLE t_SupportedProc (FProcName NVARCHAR(128) NOT NULL PRIMARY KEY)");
      for (const std::string& proc : *procs) cn->Execute("INSERT INTO t_SupportedProc VALUES ('" + proc + "')");
    }
    provider_.ClearStatements();
    return connectString;
  }

  static std::shared_ptr<CParse> Describe(const std::string& connectString, const std::string& dbmsName,
                                          const std::string& dbmsVersion) {
    auto parse = std::make_shared<CParse>();
    parse->ParseString("ConnectString={" + connectString + "};DBMS Name=" + dbmsName +
                       ";DBMS Version=" + dbmsVersion + ";UserID=1;LANGUAGE=chs");
    return parse;
  }
  static CDataSource DataSourceOn(std::shared_ptr<CParse> parse) {
    CDataSource ds;
    ds.ParseObject = std::move(parse);
    return ds;
  }

  // The provider properties as the SQLite provider reports them.
  static ProviderProperties SqliteProperties(const std::string& connectString) {
    return db::sqlite::SqliteProvider::Instance().Connect(connectString)->Properties();
  }
  static Variant PropertyOf(const ProviderProperties& properties, std::string_view name) {
    for (const auto& [n, v] : properties)
      if (n == name) return v;
    return {};
  }

  testing::TempFolder folder_{"morvane-profile"};
  ProfileProvider provider_;
  testing::ProviderOverride override_{provider_};
};

TEST_F(DatabaseProfile, LoadedOncePerProductVersionAndSharedAcrossConnectStrings) {
  const std::string first = MakeDatabase("first", std::vector<std::string>{"p_First", "p_Both"});
  const std::string second = MakeDatabase("second", std::vector<std::string>{"p_Second", "p_Both"});
  const ProviderProperties expected = SqliteProperties(first);
  const CDataSource a = DataSourceOn(Describe(first, "SQLite", "profile-shared"));
  const CDataSource b = DataSourceOn(Describe(second, "SQLite", "profile-shared"));

  EXPECT_EQ(a.DBMSVersion(), automation::ToText(PropertyOf(expected, "DBMS Version")));
  // The load's connection of its own runs the procedure query and nothing else: no isolation
  // statement.
  EXPECT_EQ(provider_.Statements(), std::vector<std::string>{kProcQuery});

  for (const CDataSource* ds : {&a, &b}) {
    EXPECT_FALSE(ds->MultipleResults());
    EXPECT_TRUE(ds->LikeEscapeClause());
    EXPECT_TRUE(ds->IEF());
    EXPECT_EQ(ds->NumericFunctions(), automation::ToLong(PropertyOf(expected, "Numeric Functions")));
    EXPECT_EQ(ds->StringFunctions(), automation::ToLong(PropertyOf(expected, "String Functions")));
    EXPECT_EQ(ds->SystemFunctions(), automation::ToLong(PropertyOf(expected, "System Functions")));
    EXPECT_EQ(ds->DateTimeFunctions(), automation::ToLong(PropertyOf(expected, "Time/Date Functions")));
    EXPECT_NE(ds->NumericFunctions(), 0);
    // The list is the one of the database read first, also for the second description.
    EXPECT_TRUE(ds->ProcSupported("p_First"));
    EXPECT_TRUE(ds->ProcSupported("p_Both"));
    EXPECT_FALSE(ds->ProcSupported("p_Second"));
    EXPECT_FALSE(ds->ProcSupported(""));
  }
  EXPECT_EQ(b.DBMSVersion(), a.DBMSVersion());
  EXPECT_EQ(provider_.procQueries.load(), 1);

  const std::string group = "SQLiteprofile-sharedDataSource";
  EXPECT_EQ(GroupValue(group, "DBMSName"), Variant("SQLite"));
  EXPECT_EQ(GroupValue(group, "ConnectString"), Variant(first));
  EXPECT_EQ(GroupValue(group, "Connected"), Variant(true));
}

TEST_F(DatabaseProfile, GroupIsNameThenVersionThenDataSource) {
  struct Case {
    std::string name, version, group;
  };
  const std::vector<Case> cases{
      {"", "", "DataSource"},
      {"ProfName", "", "ProfNameDataSource"},
      {"", "prof-v9", "prof-v9DataSource"},
      {"PrOf Db", "Ver 1.0", "PrOf DbVer 1.0DataSource"},
  };
  const std::string cs = MakeDatabase("names", std::vector<std::string>{"p_Named"});
  for (const Case& c : cases) {
    SCOPED_TRACE("name '" + c.name + "', version '" + c.version + "'");
    const CDataSource ds = DataSourceOn(Describe(cs, c.name, c.version));
    EXPECT_TRUE(ds.ProcSupported("p_Named"));
    EXPECT_EQ(GroupValue(c.group, "Connected"), Variant(true));
    EXPECT_EQ(GroupValue(c.group, "ConnectString"), Variant(cs));
  }
  EXPECT_EQ(GroupValue("PrOf Db Ver 1.0DataSource", "Connected"), std::nullopt);
}

TEST_F(DatabaseProfile, AnotherParseObjectChangesGroupAndDatabase) {
  const std::string first = MakeDatabase("first", std::vector<std::string>{"p_First"});
  const std::string second = MakeDatabase("second", std::vector<std::string>{"p_Second"});
  CDataSource ds = DataSourceOn(Describe(first, "SQLite", "profile-reparse-1"));
  EXPECT_TRUE(ds.ProcSupported("p_First"));
  ds.ParseObject = Describe(second, "SQLite", "profile-reparse-2");
  EXPECT_FALSE(ds.ProcSupported("p_First"));
  EXPECT_TRUE(ds.ProcSupported("p_Second"));
  EXPECT_EQ(provider_.procQueries.load(), 2);
}

TEST_F(DatabaseProfile, LikeEscapeClauseIsTrueOnlyForCapitalY) {
  struct Case {
    const char* label;
    std::optional<Variant> answer;  // nothing: the provider does not report the property
    bool expected;
  };
  const std::vector<Case> cases{
      {"Y", Variant("Y"), true},         {"lower y", Variant("y"), false},  {"N", Variant("N"), false},
      {"absent", std::nullopt, false},   {"Null", Variant::Null(), false},  {"Empty", Variant(), false},
      {"blank Y", Variant(" Y"), false}, {"Yes", Variant("Yes"), false},    {"Bool True", Variant(true), false},
  };
  const std::string cs = MakeDatabase("like", std::vector<std::string>{});
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    provider_.properties = ProviderProperties{};
    if (c.answer) provider_.properties->emplace_back("Like Escape Clause", *c.answer);
    const std::string version = "profile-like-" + std::to_string(n++);
    const CDataSource ds = DataSourceOn(Describe(cs, "SQLite", version));
    EXPECT_EQ(ds.LikeEscapeClause(), c.expected);
    // Stored as a Boolean whatever the provider gave.
    EXPECT_EQ(GroupValue("SQLite" + version + "DataSource", "LikeEscapeClause"), Variant(c.expected));
  }
}

// Values the provider does not give, gives as Null or Empty, or gives in another type.
TEST_F(DatabaseProfile, ItemsTheProviderDoesNotGiveTakeDefaults) {
  const std::string cs = MakeDatabase("defaults", std::vector<std::string>{"p_Default"});
  struct Case {
    const char* label;
    ProviderProperties properties;
    bool propertiesFail;
  };
  const std::vector<Case> cases{
      {"nothing reported", {}, false},
      {"reading fails", {}, true},
      {"Null and Empty",
       {{"DBMS Name", Variant::Null()},
        {"DBMS Version", Variant()},
        {"Multiple Results", Variant::Null()},
        {"Like Escape Clause", Variant()},
        {"Integrity Enhancement Facility", Variant::Null()},
        {"Numeric Functions", Variant()},
        {"String Functions", Variant()},
        {"System Functions", Variant()},
        {"Time/Date Functions", Variant()}},
       false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    provider_.properties = c.properties;
    provider_.propertiesFail = c.propertiesFail;
    const std::string version = "profile-defaults-" + std::to_string(n++);
    const std::string group = "SQLite" + version + "DataSource";
    const CDataSource ds = DataSourceOn(Describe(cs, "SQLite", version));
    EXPECT_EQ(ds.DBMSVersion(), "");
    EXPECT_FALSE(ds.MultipleResults());
    EXPECT_FALSE(ds.LikeEscapeClause());
    EXPECT_FALSE(ds.IEF());
    EXPECT_EQ(ds.NumericFunctions(), 0);
    EXPECT_EQ(ds.StringFunctions(), 0);
    EXPECT_EQ(ds.SystemFunctions(), 0);
    EXPECT_EQ(ds.DateTimeFunctions(), 0);
    // The load itself succeeded: the procedures are there and nothing is read again.
    EXPECT_TRUE(ds.ProcSupported("p_Default"));
    EXPECT_EQ(GroupValue(group, "DBMSName"), Variant(""));
    EXPECT_EQ(GroupValue(group, "IEF"), Variant(false));
    // The masks exist but were not written.
    EXPECT_EQ(GroupValue(group, "NumericFunctions"), Variant());
  }
  EXPECT_EQ(provider_.procQueries.load(), static_cast<int>(cases.size()));
}

// Values are stored as the provider gives them and converted by the readers.
TEST_F(DatabaseProfile, ReadersConvertTheStoredValues) {
  const std::string cs = MakeDatabase("convert", std::vector<std::string>{});
  provider_.properties = ProviderProperties{
      {"DBMS Version", Variant(std::int32_t{42})},
      {"Multiple Results", Variant("1")},
      {"Integrity Enhancement Facility", Variant("true")},
      {"Numeric Functions", Variant("0x10")},  // no number: the reader refuses it
      {"String Functions", Variant(std::int16_t{7})},
      {"System Functions", Variant::Null()},
      {"Time/Date Functions", Variant(3.0)},
  };
  const CDataSource ds = DataSourceOn(Describe(cs, "SQLite", "profile-convert"));
  EXPECT_EQ(ds.DBMSVersion(), "42");
  EXPECT_TRUE(ds.MultipleResults());
  EXPECT_TRUE(ds.IEF());
  EXPECT_EQ(ErrorOf([&] { ds.NumericFunctions(); }).Number(), automation::errors::kTypeMismatch);
  EXPECT_EQ(ds.StringFunctions(), 7);
  // A Null mask is kept as Null, and reading it is an invalid use of Null.
  EXPECT_EQ(GroupValue("SQLiteprofile-convertDataSource", "SystemFunctions"), Variant::Null());
  EXPECT_EQ(ErrorOf([&] { ds.SystemFunctions(); }).Number(), automation::errors::kInvalidUseOfNull);
  EXPECT_EQ(ds.DateTimeFunctions(), 3);
  EXPECT_EQ(provider_.procQueries.load(), 1);
}

TEST_F(DatabaseProfile, FlagThatIsNoBooleanWordIsATypeMismatch) {
  const std::string cs = MakeDatabase("mismatch", std::vector<std::string>{});
  provider_.properties = ProviderProperties{
      {"Multiple Results", Variant("Y")},
      {"Integrity Enhancement Facility", Variant("maybe")},
  };
  const CDataSource ds = DataSourceOn(Describe(cs, "SQLite", "profile-mismatch"));
  EXPECT_EQ(ErrorOf([&] { ds.MultipleResults(); }).Number(), automation::errors::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { ds.IEF(); }).Number(), automation::errors::kTypeMismatch);
}

TEST_F(DatabaseProfile, WithoutProcedureTableEveryCallLoadsAgain) {
  const std::string cs = MakeDatabase("noproc", std::nullopt);
  const std::string group = "SQLiteprofile-noprocDataSource";
  const CDataSource ds = DataSourceOn(Describe(cs, "SQLite", "profile-noproc"));

  EXPECT_EQ(ds.DBMSVersion(), "");
  EXPECT_FALSE(ds.MultipleResults());
  EXPECT_FALSE(ds.LikeEscapeClause());
  EXPECT_FALSE(ds.IEF());
  EXPECT_EQ(ds.NumericFunctions(), 0);
  EXPECT_EQ(ds.StringFunctions(), 0);
  EXPECT_EQ(ds.SystemFunctions(), 0);
  EXPECT_EQ(ds.DateTimeFunctions(), 0);
  EXPECT_EQ(provider_.procQueries.load(), 8);

  // ProcSupported passes the database's own error on.
  auto cn = db::Connection::New();
  cn->Open(cs);
  const automation::Error direct = ErrorOf([&] { cn->Execute(kProcQuery); });
  cn->Close();
  const automation::Error raised = ErrorOf([&] { ds.ProcSupported("p_Any"); });
  EXPECT_EQ(raised.Number(), direct.Number());
  EXPECT_EQ(raised.Source(), direct.Source());
  EXPECT_EQ(raised.Description(), direct.Description());
  EXPECT_NE(raised.Description().find("t_SupportedProc"), std::string::npos) << raised.Description();

  // The items of the failed loads are in the group but are not served.
  EXPECT_EQ(GroupValue(group, "LikeEscapeClause"), Variant(true));
  EXPECT_NE(GroupValue(group, "Connected"), Variant(true));

  // Once the table exists the next reader loads, and then nothing is read again.
  cn = db::Connection::New();
  cn->Open(cs);
  cn->Execute("CREATE TABLE t_SupportedProc (FProcName NVARCHAR(128))");
  cn->Execute("INSERT INTO t_SupportedProc VALUES ('p_Late')");
  cn->Close();
  const int before = provider_.procQueries.load();
  EXPECT_TRUE(ds.ProcSupported("p_Late"));
  EXPECT_TRUE(ds.LikeEscapeClause());
  EXPECT_NE(ds.DBMSVersion(), "");
  EXPECT_EQ(provider_.procQueries.load(), before + 1);
}

// Whatever stops a load: the readers fall back, ProcSupported raises the error with its number,
// source and description only.
TEST_F(DatabaseProfile, FailedLoadRaisesItsErrorOnlyFromProcSupported) {
  const std::string cs = MakeDatabase("failing", std::vector<std::string>{"p_Any"});
  struct Case {
    const char* label;
    std::string description;
    std::int32_t number;  // 0: the provider's own number, whatever it is
  };
  const std::vector<Case> cases{
      {"no ConnectString", "DBMS Name=SQLite;DBMS Version=profile-fail-0;LANGUAGE=chs",
       automation::errors::kInvalidProcedureCall},
      {"missing database file",
       "ConnectString={Provider=SQLite;Data Source=" + (folder_ / "absent.db").string() +
           "};DBMS Name=SQLite;DBMS Version=profile-fail-1",
       0},
      {"procedure query refused", "ConnectString={" + cs + "};DBMS Name=SQLite;DBMS Version=profile-fail-2", 31001},
  };
  provider_.procQueryError = automation::Error(31001, "Fake source", "Fake description", "fake.chm");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto parse = std::make_shared<CParse>();
    parse->ParseString(c.description);
    const CDataSource ds = DataSourceOn(parse);
    EXPECT_EQ(ds.DBMSVersion(), "");
    EXPECT_EQ(ds.NumericFunctions(), 0);
    const automation::Error e = ErrorOf([&] { ds.ProcSupported("p_Any"); });
    if (c.number != 0) {
      EXPECT_EQ(e.Number(), c.number);
    }
    EXPECT_NE(e.Number(), 0);
    EXPECT_EQ(e.HelpFile(), "");
  }
  const automation::Error refused = ErrorOf([&] {
    DataSourceOn(Describe(cs, "SQLite", "profile-fail-2")).ProcSupported("p_Any");
  });
  EXPECT_EQ(refused.Source(), "Fake source");
  EXPECT_EQ(refused.Description(), "Fake description");
}

// Threads that find the profile not loaded may load it together; none of them, and no one
// watching the group, may see "Connected" before the items are in place.
TEST_F(DatabaseProfile, ConcurrentLoadsNeverShowConnectedBeforeTheItems) {
  const std::string cs = MakeDatabase("threads", std::vector<std::string>{"p_Thread"});
  provider_.properties = ProviderProperties{
      {"DBMS Name", Variant("Threaded")},
      {"DBMS Version", Variant("9.9")},
      {"Multiple Results", Variant(std::int32_t{1})},
      {"Like Escape Clause", Variant("Y")},
      {"Integrity Enhancement Facility", Variant(true)},
      {"Numeric Functions", Variant(std::int32_t{0x11})},
      {"String Functions", Variant(std::int32_t{0x22})},
      {"System Functions", Variant(std::int32_t{0x4})},
      {"Time/Date Functions", Variant(std::int32_t{0x88})},
  };
  provider_.slowProcQuery = true;
  const std::string version = "profile-threads";
  const std::string group = "SQLite" + version + "DataSource";
  constexpr int kThreads = 8;

  std::latch start(kThreads + 1);
  std::atomic<int> readersDone{0};
  std::atomic<int> badReads{0};
  std::atomic<int> loadedSightings{0};

  // Watches the group itself: whenever "Connected" is True, every item must already hold its value.
  std::thread watcher([&] {
    start.arrive_and_wait();
    while (readersDone.load() < kThreads) {
      if (GroupValue(group, "Connected") != Variant(true)) continue;
      ++loadedSightings;
      const auto procs = GroupValue(group, "SupportedProc");
      const bool complete = GroupValue(group, "DBMSVersion") == Variant("9.9") &&
                            GroupValue(group, "LikeEscapeClause") == Variant(true) &&
                            GroupValue(group, "DateTimeFunctions") == Variant(std::int32_t{0x88}) &&
                            GroupValue(group, "ConnectString") == Variant(cs) && procs && procs->IsObject();
      if (!complete) ++badReads;
    }
  });

  std::vector<std::thread> readers;
  std::vector<std::string> failures(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      const CDataSource ds = DataSourceOn(Describe(cs, "SQLite", version));
      start.arrive_and_wait();
      try {
        // Half the threads start with the procedure list, half with the provider items.
        const bool proc = t % 2 == 0 ? ds.ProcSupported("p_Thread") : true;
        if (!proc || ds.DBMSVersion() != "9.9" || !ds.MultipleResults() || !ds.LikeEscapeClause() || !ds.IEF() ||
            ds.NumericFunctions() != 0x11 || ds.StringFunctions() != 0x22 || ds.SystemFunctions() != 0x4 ||
            ds.DateTimeFunctions() != 0x88 || !ds.ProcSupported("p_Thread") || ds.ProcSupported("p_Other"))
          failures[t] = "a reader gave a wrong value";
      } catch (const automation::Error& e) {
        failures[t] = "error " + std::to_string(e.Number()) + ": " + e.Description();
      }
      ++readersDone;
    });
  }
  for (auto& r : readers) r.join();
  watcher.join();

  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
  EXPECT_EQ(badReads.load(), 0) << "of " << loadedSightings.load() << " sightings of a loaded profile";
  EXPECT_GE(provider_.procQueries.load(), 1);
  EXPECT_LE(provider_.procQueries.load(), kThreads);
}

}  // namespace
}  // namespace morvane::datasource
