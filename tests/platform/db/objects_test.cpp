// The data-access objects: Connection, Command with Parameters, Recordset with Fields, the
// Properties collection, and enlistment in an ambient transaction.
#include <gtest/gtest.h>

#include <string>

#include "db_test_support.h"
#include "platform/db/ado_constants.h"
#include "platform/db/ambient_transaction.h"
#include "platform/db/command.h"
#include "platform/db/connection.h"
#include "platform/db/data_error.h"
#include "platform/db/pool.h"
#include "platform/db/recordset.h"

namespace morvane::db {
namespace {

using automation::Variant;
using testing::ErrorOf;
using testing::TempDatabase;

class ObjectsTest : public ::testing::Test {
 protected:
  TempDatabase db{
      "CREATE TABLE k (FID INTEGER PRIMARY KEY, FName NVARCHAR(20));"
      "INSERT INTO k VALUES (1, 'one'), (2, 'two');"};

  std::shared_ptr<Connection> Open() {
    auto connection = Connection::New();
    connection->Open(db.connectionString());
    return connection;
  }
};

void ExpectDataError(const automation::Error& e, int number) {
  EXPECT_EQ(e.Number(), number) << e.Description();
  EXPECT_EQ(e.Source(), kDataAccessSource);
  EXPECT_EQ(e.Description().rfind(std::string(DataErrorText(number)), 0), 0u) << e.Description();
}

TEST_F(ObjectsTest, ConnectionExecutesAndReportsRowsAffected) {
  auto connection = Open();
  EXPECT_TRUE(connection->IsOpen());
  EXPECT_EQ(connection->ConnectionString(), db.connectionString());
  std::int64_t affected = 0;
  connection->Execute("UPDATE k SET FName = 'x'", &affected);
  EXPECT_EQ(affected, 2);
  auto rs = connection->Execute("SELECT FName FROM k ORDER BY FID", &affected);
  EXPECT_EQ(affected, -1);
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(rs->GetFields().Item("fname").Value(), Variant("x"));
}

TEST_F(ObjectsTest, ClosedAndOpenConnectionsRaiseTheirNumbers) {
  auto connection = Open();
  ExpectDataError(ErrorOf([&] { connection->Open(db.connectionString()); }), adErrObjectOpen);
  connection->Close();
  EXPECT_FALSE(connection->IsOpen());
  EXPECT_NO_THROW(connection->Close());
  ExpectDataError(ErrorOf([&] { connection->Execute("SELECT 1"); }), adErrObjectClosed);
  ExpectDataError(ErrorOf([&] { connection->GetProperties(); }), adErrObjectClosed);
  connection->Open(db.connectionString());
  EXPECT_NO_THROW(connection->Execute("SELECT 1"));
}

TEST_F(ObjectsTest, OpenPassesTheProvidersErrorOn) {
  auto connection = Connection::New();
  const automation::Error e = ErrorOf([&] { connection->Open("Data Source=" + db.path()); });
  EXPECT_EQ(e.Number(), adErrProviderNotFound);
  EXPECT_FALSE(connection->IsOpen());
}

TEST_F(ObjectsTest, PropertiesByNameAndIndex) {
  auto connection = Open();
  Properties& properties = connection->GetProperties();
  EXPECT_EQ(properties.Count(), 9);
  EXPECT_EQ(properties.Item("dbms name").Value, Variant("SQLite"));
  EXPECT_EQ(properties.Item(0).Name, "DBMS Name");
  EXPECT_EQ(properties.Find("No Such Property"), nullptr);
  const automation::Error e = ErrorOf([&] { properties.Item("No Such Property"); });
  ExpectDataError(e, adErrItemNotFound);
  EXPECT_NE(e.Description().find("No Such Property"), std::string::npos);
  ExpectDataError(ErrorOf([&] { properties.Item(9); }), adErrItemNotFound);
  ExpectDataError(ErrorOf([&] { properties.Item(-1); }), adErrItemNotFound);
}

TEST_F(ObjectsTest, CommandBindsItsParametersInOrder) {
  auto command = Command::New();
  command->ActiveConnection = Open();
  command->CommandText = "INSERT INTO k (FName, FID) VALUES (?, ?)";
  command->GetParameters().Append(Command::CreateParameter("FName", adVarWChar, adParamInput, 20, Variant("three")));
  command->GetParameters().Append(Command::CreateParameter("FID", adInteger, adParamInput, 4, Variant("3")));
  std::int64_t affected = 0;
  command->Execute(&affected);
  EXPECT_EQ(affected, 1);

  command->CommandText = "SELECT FName FROM k WHERE FID = ?";
  command->GetParameters().Delete(0);
  EXPECT_EQ(command->GetParameters().Count(), 1);
  EXPECT_EQ(command->GetParameters().Item(0).Name, "FID");
  auto rs = command->Execute(&affected);
  EXPECT_EQ(affected, -1);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->GetFields().Item(0).Value(), Variant("three"));

  ExpectDataError(ErrorOf([&] { command->GetParameters().Delete(1); }), adErrItemNotFound);
  ExpectDataError(ErrorOf([&] { command->GetParameters().Item(-1); }), adErrItemNotFound);
}

TEST_F(ObjectsTest, CommandNeedsAnOpenActiveConnection) {
  auto command = Command::New();
  command->CommandText = "SELECT 1";
  ExpectDataError(ErrorOf([&] { command->Execute(); }), adErrInvalidConnection);
  auto closed = Connection::New();
  command->ActiveConnection = closed;
  ExpectDataError(ErrorOf([&] { command->Execute(); }), adErrInvalidConnection);
  command->ActiveConnection = std::shared_ptr<Connection>();
  ExpectDataError(ErrorOf([&] { command->Execute(); }), adErrInvalidConnection);

  command->ActiveConnection = db.connectionString();  // opens one of its own
  EXPECT_EQ(command->Execute()->GetFields().Item(0).Value(), Variant(std::int32_t{1}));
  command->CommandType = adCmdTable;
  command->CommandText = "k";
  EXPECT_EQ(command->Execute()->RecordCount(), 2);
}

TEST_F(ObjectsTest, RecordsetReadsEveryRowAndMoves) {
  auto rs = Recordset::New();
  rs->CursorLocation = adUseClient;
  rs->Open("SELECT FID, FName FROM k ORDER BY FID", ActiveConnectionSource(Open()), adOpenForwardOnly,
           adLockReadOnly, adCmdText);
  EXPECT_TRUE(rs->IsOpen());
  EXPECT_EQ(rs->RecordCount(), 2);
  Fields fields = rs->GetFields();
  EXPECT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields.Item(1).Name(), "FName");
  EXPECT_EQ(fields.Item("FID").Type(), adInteger);
  EXPECT_EQ(fields.Item("fid").Value(), Variant(std::int32_t{1}));
  rs->MoveNext();
  EXPECT_EQ(fields.Item("FName").Value(), Variant("two"));
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  ExpectDataError(ErrorOf([&] { fields.Item("FName").Value(); }), adErrNoCurrentRecord);
  ExpectDataError(ErrorOf([&] { rs->MoveNext(); }), adErrNoCurrentRecord);
  rs->MoveFirst();
  EXPECT_EQ(fields.Item(0).Value(), Variant(std::int32_t{1}));

  const automation::Error e = ErrorOf([&] { fields.Item("FMissing"); });
  ExpectDataError(e, adErrItemNotFound);
  EXPECT_NE(e.Description().find("FMissing"), std::string::npos);
  ExpectDataError(ErrorOf([&] { fields.Item(2); }), adErrItemNotFound);

  ExpectDataError(ErrorOf([&] { rs->Open("SELECT 1", ActiveConnectionSource(db.connectionString())); }),
                  adErrObjectOpen);
  rs->Close();
  EXPECT_FALSE(rs->IsOpen());
  ExpectDataError(ErrorOf([&] { rs->MoveNext(); }), adErrObjectClosed);
  ExpectDataError(ErrorOf([&] { fields.Item(0); }), adErrObjectClosed);
}

TEST_F(ObjectsTest, AnEmptyRecordsetIsAtBothEnds) {
  auto rs = Recordset::New();
  rs->Open("SELECT FName FROM k WHERE FID = 99", ActiveConnectionSource(db.connectionString()));
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_TRUE(rs->IsBOF());
  EXPECT_EQ(rs->RecordCount(), 0);
  EXPECT_EQ(rs->GetFields().Item("FName").Type(), adVarWChar);
  ExpectDataError(ErrorOf([&] { rs->GetFields().Item("FName").Value(); }), adErrNoCurrentRecord);
}

TEST_F(ObjectsTest, RecordsetNeedsAConnectionAndAStatement) {
  auto rs = Recordset::New();
  ExpectDataError(ErrorOf([&] { rs->Open("SELECT 1", ActiveConnectionSource()); }), adErrInvalidConnection);
  EXPECT_FALSE(rs->IsOpen());
  const automation::Error e = ErrorOf([&] { rs->Open("", ActiveConnectionSource(db.connectionString())); });
  EXPECT_NE(e.Description().find("holds no statement"), std::string::npos) << e.Description();
  EXPECT_FALSE(rs->IsOpen());
}

TEST_F(ObjectsTest, ARecordsetOpenedOnAStringGivesItsConnectionBack) {
  testing::RecordingProvider provider;
  testing::ProviderOverride override_(provider);
  for (int i = 0; i < 3; ++i) {
    auto rs = Recordset::New();
    rs->Open("SELECT FName FROM k", ActiveConnectionSource(db.connectionString() + ";Busy Timeout=1000"));
    EXPECT_EQ(rs->RecordCount(), 2);
  }
  EXPECT_EQ(provider.log->connects, 1);
}

// An ambient transaction that enlists one pooled connection per string, as the runtime does.
class TestTransaction : public AmbientTransaction {
 public:
  std::shared_ptr<PhysicalConnection> Enlist(std::string_view connectionString) override {
    ++enlistCalls;
    if (!connection) {
      connection = ConnectionPool::Instance().Acquire(connectionString);
      connection->Begin();
    }
    return connection;
  }
  int enlistCalls = 0;
  std::shared_ptr<PhysicalConnection> connection;
};

class AmbientScope {
 public:
  explicit AmbientScope(AmbientTransaction* t) : previous_(SetCurrentAmbientTransaction(t)) {}
  ~AmbientScope() { SetCurrentAmbientTransaction(previous_); }
  AmbientScope(const AmbientScope&) = delete;
  AmbientScope& operator=(const AmbientScope&) = delete;

 private:
  AmbientTransaction* previous_;
};

TEST_F(ObjectsTest, ConnectionsOpenedInAnAmbientTransactionEnlistInIt) {
  TestTransaction transaction;
  {
    AmbientScope scope(&transaction);
    auto first = Open();
    auto second = Open();
    EXPECT_EQ(&first->physical(), &second->physical());
    first->Execute("DELETE FROM k");
    EXPECT_EQ(second->Execute("SELECT * FROM k")->RecordCount(), 0);
  }
  EXPECT_EQ(transaction.enlistCalls, 2);
  // Outside the transaction, another connection still sees both rows until it rolls back.
  EXPECT_EQ(Open()->Execute("SELECT * FROM k")->RecordCount(), 2);
  transaction.connection->Rollback();
  transaction.connection.reset();
  EXPECT_EQ(Open()->Execute("SELECT * FROM k")->RecordCount(), 2);
}

}  // namespace
}  // namespace morvane::db
