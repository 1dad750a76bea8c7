// On every backend: errors localised from the database's error table, caller-held transactions
// that commit or leave nothing, the database profile's true values, the code-in-use check, and a
// session ended by the server in the middle of a caller's transaction.
#include <gtest/gtest.h>

#include "backend_fixture.h"
#include "commandbuilder/command_builder.h"
#include "datasource/c_data_source.h"
#include "platform/db/ambient_transaction.h"
#include "platform/db/odbc/odbc_error.h"
#include "platform/mts/shared_property.h"

namespace morvane::integration {

namespace errors = automation::errors;
namespace {

class ServiceTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    update_ = mts::CreateObject("Morvane.VchTempSetUpdate");
  }
  void Append(const DispatchPtr& rows, bool bMts = true, const std::string& language = "chs") {
    automation::Call(*update_, "Append", Dsn(language), rows, bMts);
  }

  DispatchPtr update_;
};

TEST_P(ServiceTest, ErrorsAreLocalisedFromTheDatabasesErrorTable) {
  Append(List({Setting("V1", "301", "01", "101")}));
  const std::string tooLong(251, 'x');
  struct Case {
    const char* language;
    const char* exists;   // the text of 10007 in that language
    const char* tooLong;  // the text of 10005
  };
  const Case cases[] = {{"chs", "记录已经存在", "数据长度超出范围"},
                        {"cht", "記錄已經存在", "資料長度超出範圍"},
                        {"en", "The record already exists", "The value is too long"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    const automation::Error exists =
        ErrorOf([&] { Append(List({Setting("V1", "301", "01", "101")}), true, c.language); });
    EXPECT_EQ(exists.Number(), 10007);
    EXPECT_EQ(exists.Source(), c.exists);

    const automation::Error size =
        ErrorOf([&] { Append(List({Setting("V1", "301", tooLong.c_str(), "101")}), true, c.language); });
    EXPECT_EQ(size.Number(), 10005);
    EXPECT_EQ(size.Source(), c.tooLong);
    EXPECT_EQ(size.Description(), "10036");
    EXPECT_EQ(size.HelpFile(), "费用部门 = '" + tooLong + "'");
  }
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|01|101|r"}));
}

TEST_P(ServiceTest, CallerHeldTransactionsCommitOrLeaveNothing) {
  {
    mts::TransactionScope scope;
    Append(List({Setting("V1", "301", "01", "101")}), false);
    Append(List({Setting("V1", "302", "01", "501")}), false);
    scope.Commit();
  }
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|01|101|r", "V1|302|01|501|r"}));

  {
    mts::TransactionScope scope;
    Append(List({Setting("V1", "202", "11", "501")}), false);
    Append(List({Setting("V1", "202", "12", "501")}), false);
    scope.Abort();
  }
  EXPECT_EQ(Settings().size(), 2u) << "an aborted transaction leaves nothing";

  {
    // The second call fails and votes to abort: the first call's row goes too.
    mts::TransactionScope scope;
    Append(List({Setting("V1", "202", "11", "502")}), true);
    EXPECT_EQ(ErrorOf([&] { Append(List({Setting("V1", "301", "01", "101")}), true); }).Number(), 10007);
    EXPECT_EQ(ErrorOf([&] { scope.Commit(); }).Number(), errors::kTransactionAborted);
  }
  EXPECT_EQ(Settings().size(), 2u);
}

TEST_P(ServiceTest, ProfileReadersGiveTheProductsTrueValues) {
  datasource::CDataSource ds;
  ds.ParseObject = std::make_shared<datasource::CParse>();
  ds.ParseObject->ParseString(Dsn());
  EXPECT_EQ(ds.DBMSName(), GetParam().dbmsName);

  auto connection = db::Connection::New();
  connection->Open(ConnectString());
  const std::string version = automation::ToText(connection->GetProperties().Item("DBMS Version").Value);
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(ds.DBMSVersion(), version);
  EXPECT_EQ(automation::ToText(connection->GetProperties().Item("DBMS Name").Value), GetParam().dbmsName);

  const std::string group = ds.ParseObject->ConDBMSName() + ds.ParseObject->ConDBMSVersion() + "DataSource";
  auto manager = std::make_shared<mts::SharedPropertyGroupManager>();
  EXPECT_EQ(manager->Group(group)->Property("DBMSName")->Value(), Variant(GetParam().dbmsName));

  EXPECT_TRUE(ds.ProcSupported("p_CB_CopyVchTempSet"));
  EXPECT_FALSE(ds.ProcSupported("p_NoSuchProc"));
  auto mask = [&](const char* name) {
    const db::Property* p = connection->GetProperties().Find(name);
    return p != nullptr ? automation::ToLong(p->Value) : 0;
  };
  EXPECT_EQ(ds.NumericFunctions(), mask("Numeric Functions"));
  EXPECT_EQ(ds.StringFunctions(), mask("String Functions"));
  EXPECT_EQ(ds.SystemFunctions(), mask("System Functions"));
  EXPECT_EQ(ds.DateTimeFunctions(), mask("Time/Date Functions"));
}

TEST_P(ServiceTest, CodeInUseCheckFindsCodesExactly) {
  commandbuilder::CommandBuilder builder;
  builder.InitClassDataEnv(Dsn());
  EXPECT_EQ(ErrorOf([&] { builder.BmIDUsed("CB_CostVchTempSet", "FExpDeptID", "11"); }).Number(), 12222);
  EXPECT_FALSE(builder.BmIDUsed("CB_CostVchTempSet", "FExpDeptID", "99"));
  EXPECT_FALSE(builder.BmIDUsed("CB_CostVchTempSet", "FExpDeptID", "11", "FTypeID = '301'"));
  EXPECT_FALSE(builder.BmIDUsed("CB_CostVchTempSet", "FExpDeptID", "99", "1 = 0 OR 1 = 1"))
      << "the caller's condition narrows the search, whatever it holds";
  EXPECT_FALSE(builder.BmIDUsed("CB_CostVchTempSet", "FExpDeptID", "1' OR '1' = '1"));
  EXPECT_EQ(ErrorOf([&] { builder.BmIDUsed("CB_CostVchTempSet", "FAcctID", "4105"); }).Number(), 12222)
      << "a code searched in an integer column";
}

// The server ends the session of the caller's transaction between two calls: the second call
// fails with the provider's error, the commit is refused, and nothing of the first call stays.
TEST_P(ServiceTest, SessionEndedInTheMiddleOfATransactionLeavesNothingHalfWritten) {
  if (GetParam().killSession == nullptr) GTEST_SKIP() << GetParam().name << " has no server sessions to end";
  auto killer = db::ProviderFor(ConnectString()).Connect(ConnectString());
  {
    mts::TransactionScope scope;
    Append(List({Setting("V1", "301", "01", "101")}), false);
    // The session of the connection the transaction enlisted for the database.
    auto* ambient = dynamic_cast<db::AmbientTransaction*>(scope.transaction().get());
    ASSERT_NE(ambient, nullptr);
    const Variant session = ambient->Enlist(ConnectString())->Execute(GetParam().sessionId, {}).rows.at(0).at(0);
    const std::vector<db::BoundParameter> id = {db::BoundParameter{"id", db::adBigInt, db::adParamInput, 0, session}};
    killer->Execute(GetParam().killSession, id);

    const automation::Error e = ErrorOf([&] { Append(List({Setting("V1", "302", "01", "501")}), false); });
    EXPECT_EQ(e.Source(), db::odbc::kOdbcSource) << e.Description();
    EXPECT_NE(e.Description().find("SQLSTATE"), std::string::npos) << e.Description();
    EXPECT_ANY_THROW(scope.Commit()) << "a transaction whose session ended is never reported as committed";
  }
  EXPECT_TRUE(Settings().empty());
  // The pool handed the lost connection to nobody: the next call works.
  Append(List({Setting("V1", "301", "01", "101")}));
  EXPECT_EQ(Settings().size(), 1u);
}

// The server ends the session of a connection that waits idle in the pool: the next call that
// gets it works on a new session.
TEST_P(ServiceTest, SessionEndedWhileIdleInThePoolIsReplaced) {
  if (GetParam().killSession == nullptr) GTEST_SKIP() << GetParam().name << " has no server sessions to end";
  Variant session;
  {
    auto pooled = db::Connection::New();
    pooled->Open(ConnectString());
    session = pooled->ExecuteWith(GetParam().sessionId, {}).rows.at(0).at(0);
  }  // back to the pool, idle
  auto killer = db::ProviderFor(ConnectString()).Connect(ConnectString());
  killer->Execute(GetParam().killSession, std::vector<db::BoundParameter>{
                                              db::BoundParameter{"id", db::adBigInt, db::adParamInput, 0, session}});

  Append(List({Setting("V1", "301", "01", "101")}));
  EXPECT_EQ(Settings().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Integration, ServiceTest, ::testing::ValuesIn(kBackends), BackendName);

}  // namespace
}  // namespace morvane::integration
