#include "datasource/c_data_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation/error.h"
#include "platform/db/pool.h"
#include "platform/db/recordset.h"
#include "testing/forwarding_provider.h"
#include "testing/provider_override.h"
#include "testing/temp_folder.h"

namespace morvane::datasource {
namespace {

// What the recording provider saw: the connection strings it opened and every statement, in order.
struct ProviderLog {
  std::vector<std::string> connects;
  std::vector<std::string> statements;
  std::optional<std::string> failingStatement;  // raises 8180 when run
};

// Connections that run nothing: each statement is logged and answered with no rows.
class RecordingProvider : public testing::ForwardingProvider {
 public:
  explicit RecordingProvider(std::shared_ptr<ProviderLog> log)
      : ForwardingProvider(testing::InertProvider::Instance()), log_(std::move(log)) {}

 private:
  class Connection : public testing::ForwardingConnection {
   public:
    Connection(std::unique_ptr<db::PhysicalConnection> inner, std::shared_ptr<ProviderLog> log)
        : ForwardingConnection(std::move(inner)), log_(std::move(log)) {}
    db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter> params) override {
      log_->statements.emplace_back(sql);
      if (log_->failingStatement == sql)
        automation::Raise(8180, "Recording", "Statement could not be prepared: " + std::string(sql));
      return ForwardingConnection::Execute(sql, params);
    }

   private:
    std::shared_ptr<ProviderLog> log_;
  };

  std::unique_ptr<db::PhysicalConnection> Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                               std::string_view connectionString) override {
    log_->connects.emplace_back(connectionString);
    return std::make_unique<Connection>(std::move(connection), log_);
  }

  std::shared_ptr<ProviderLog> log_;
};

class DataSourceConnection : public ::testing::Test {
 protected:
  CDataSource DataSourceOn(const std::string& description) {
    auto parse = std::make_shared<CParse>();
    parse->ParseString(description);
    CDataSource ds;
    ds.ParseObject = parse;
    return ds;
  }

  std::shared_ptr<ProviderLog> log_ = std::make_shared<ProviderLog>();
  RecordingProvider provider_{log_};
  testing::ProviderOverride override_{provider_};
};

constexpr const char* kReadCommitted = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";
constexpr const char* kReadUncommitted = "SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED";

TEST_F(DataSourceConnection, EveryCallOpensANewConnectionSetUpTheSameWay) {
  const CDataSource ds = DataSourceOn("ConnectString={Provider=Recording;Data Source=one};UserID=1;LANGUAGE=chs");
  const auto first = ds.Connection();
  const auto second = ds.Connection();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  for (const auto& cn : {first, second}) {
    EXPECT_TRUE(cn->IsOpen());
    EXPECT_EQ(cn->ConnectionString(), "Provider=Recording;Data Source=one");
    EXPECT_EQ(cn->CursorLocation, db::adUseClient);
    EXPECT_EQ(cn->CommandTimeout, 0);
  }
  // Both are held, so each stands on a physical connection of its own.
  EXPECT_EQ(log_->connects, (std::vector<std::string>{"Provider=Recording;Data Source=one",
                                                      "Provider=Recording;Data Source=one"}));
  EXPECT_EQ(log_->statements, (std::vector<std::string>{kReadCommitted, kReadCommitted}));
}

TEST_F(DataSourceConnection, UnCommittedConnectionSendsItsOwnStatement) {
  const CDataSource ds = DataSourceOn("ConnectString={Provider=Recording;Data Source=two}");
  const auto cn = ds.UnCommittedConnection();
  EXPECT_TRUE(cn->IsOpen());
  EXPECT_EQ(cn->CursorLocation, db::adUseClient);
  EXPECT_EQ(cn->CommandTimeout, 0);
  EXPECT_EQ(log_->statements, (std::vector<std::string>{kReadUncommitted}));
}

TEST_F(DataSourceConnection, WithoutConnectStringRaises5BeforeOpening) {
  const CDataSource ds = DataSourceOn("UserID=1;LANGUAGE=chs");
  for (bool uncommitted : {false, true}) {
    try {
      uncommitted ? ds.UnCommittedConnection() : ds.Connection();
      ADD_FAILURE() << "no error, uncommitted=" << uncommitted;
    } catch (const automation::Error& e) {
      EXPECT_EQ(e.Number(), automation::errors::kInvalidProcedureCall);
    }
  }
  EXPECT_TRUE(log_->connects.empty());
  EXPECT_TRUE(log_->statements.empty());
}

TEST_F(DataSourceConnection, RefusedIsolationStatementPassesToTheCaller) {
  log_->failingStatement = kReadCommitted;
  const CDataSource ds = DataSourceOn("ConnectString={Provider=Recording;Data Source=three}");
  try {
    ds.Connection();
    ADD_FAILURE() << "no error";
  } catch (const automation::Error& e) {
    EXPECT_EQ(e.Number(), 8180);
    EXPECT_NE(e.Description().find(kReadCommitted), std::string::npos) << e.Description();
  }
}

TEST_F(DataSourceConnection, ReadsTheDescriptionAtTheMomentOfTheCall) {
  CDataSource ds = DataSourceOn("ConnectString={Provider=Recording;Data Source=a}");
  ds.Connection();
  auto other = std::make_shared<CParse>();
  other->ParseString("ConnectString={Provider=Recording;Data Source=b}");
  ds.ParseObject = other;
  EXPECT_EQ(ds.Connection()->ConnectionString(), "Provider=Recording;Data Source=b");
  EXPECT_EQ(ds.ConnectString(), "Provider=Recording;Data Source=b");
}

TEST_F(DataSourceConnection, WithoutParseObjectRaises91) {
  const CDataSource ds;
  try {
    ds.Connection();
    ADD_FAILURE() << "no error";
  } catch (const automation::Error& e) {
    EXPECT_EQ(e.Number(), automation::errors::kObjectNotSet);
  }
  EXPECT_TRUE(log_->connects.empty());
}

// The embedded provider understands both isolation statements.
TEST(DataSourceOnSQLite, BothIsolationLevelsOpen) {
  const testing::TempFolder folder("morvane-dsrc");
  const std::filesystem::path path = folder / "test.db";
  std::ofstream(path).close();  // the provider opens existing databases only; an empty file is one
  auto parse = std::make_shared<CParse>();
  parse->ParseString("ConnectString={Provider=SQLite;Data Source=" + path.string() + "};LANGUAGE=chs");
  CDataSource ds;
  ds.ParseObject = parse;
  {
    const auto committed = ds.Connection();
    const auto uncommitted = ds.UnCommittedConnection();
    EXPECT_TRUE(committed->IsOpen());
    EXPECT_TRUE(uncommitted->IsOpen());
    const auto rs = committed->Execute("SELECT 1 AS One");
    EXPECT_EQ(rs->RecordCount(), 1);
  }
  db::ConnectionPool::Instance().Clear();
}

}  // namespace
}  // namespace morvane::datasource
