// The parts of the ODBC provider that need no database server: the choice of provider, the
// connection text handed to the driver manager (the FreeTDS form for SQL Server included), the
// spelling of result columns, the UTF-16 conversion, the error numbers and the error of a driver
// that is not installed.
#include "platform/db/odbc/odbc_provider.h"

#include <gtest/gtest.h>

#include <string>

#include "db_test_support.h"
#include "platform/db/ado_constants.h"
#include "platform/db/odbc/odbc_connection.h"
#include "platform/db/odbc/odbc_error.h"
#include "platform/db/odbc/odbc_values.h"

namespace morvane::db {

namespace errors = automation::errors;
namespace {

using odbc::ColumnNameAsWritten;
using odbc::OdbcProvider;
using testing::ErrorOf;

TEST(OdbcProviderForTest, ChoosesOdbcForDriverAndDsnStrings) {
  for (const char* text :
       {"Driver={PostgreSQL Unicode};Server=localhost", "driver=FreeTDS;Server=h", "DSN=accounts;UID=sa", "dsn=x"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(&ProviderFor(text), &OdbcProvider::Instance());
  }
  EXPECT_EQ(&ProviderFor("Provider=SQLite;Data Source=x;Driver=y"), &sqlite::SqliteProvider::Instance())
      << "a Provider entry decides first";
}

TEST(OdbcConnectTextTest, FreeTdsStringForSqlServerIsPassedAsWritten) {
  const ConnectionString cs = ConnectionString::Parse(
      "Driver=FreeTDS;Server=sql.example.com;Port=1433;Database=morvane;UID=sa;PWD=s3cret;TDS_Version=7.4");
  EXPECT_EQ(odbc::OdbcConnectText(cs),
            "Driver={FreeTDS};Server=sql.example.com;Port=1433;Database=morvane;UID=sa;PWD=s3cret;TDS_Version=7.4;");
  EXPECT_EQ(odbc::OdbcTarget(cs), "Driver=FreeTDS, Server=sql.example.com, Port=1433, Database=morvane");
}

TEST(OdbcConnectTextTest, RequotesValuesInOdbcGrammar) {
  struct Case {
    const char* text;
    const char* odbc;
  };
  const Case cases[] = {
      {"Driver={PostgreSQL Unicode};Server=h", "Driver={PostgreSQL Unicode};Server=h;"},
      {"DSN=acc;PWD=\"a;b\"", "DSN=acc;PWD={a;b};"},
      {"DSN=acc;PWD={x}}y}", "DSN=acc;PWD={x}}y};"},
      {"DSN=acc;PWD=' padded '", "DSN=acc;PWD={ padded };"},
      {"DSN=acc;;Database=d", "DSN=acc;Database=d;"},
  };
  for (const Case& c : cases) EXPECT_EQ(odbc::OdbcConnectText(ConnectionString::Parse(c.text)), c.odbc) << c.text;
}

TEST(OdbcConnectTest, DriverThatIsNotInstalledRaisesItsNameButNoPassword) {
  const automation::Error e =
      ErrorOf([] { OdbcProvider::Instance().Connect("Driver={Morvane No Such Driver};Server=h;UID=u;PWD=topsecret"); });
  EXPECT_EQ(e.Source(), odbc::kOdbcSource);
  EXPECT_NE(e.Description().find("IM002"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("Morvane No Such Driver"), std::string::npos) << e.Description();
  EXPECT_EQ(e.Description().find("topsecret"), std::string::npos) << e.Description();
}

TEST(OdbcConnectTest, StringWithoutDriverOrDsnIsRefused) {
  EXPECT_EQ(ErrorOf([] { OdbcProvider::Instance().Connect("Server=h;Database=d"); }).Number(), adErrInvalidArgument);
  EXPECT_EQ(ErrorOf([] { OdbcProvider::Instance().Connect("Driver=;Server=h"); }).Number(), adErrInvalidArgument);
}

TEST(ColumnNameAsWrittenTest, TakesTheStatementsSpelling) {
  struct Case {
    const char* sql;
    const char* reported;
    const char* expected;
  };
  const Case cases[] = {
      {"SELECT '301' AS FTypeID,'x' AS FTypeName FROM t", "ftypeid", "FTypeID"},
      {"SELECT '201' AS FTYPEID, d.FTypeID FROM t d WHERE d.FTypeID = '201'", "ftypeid", "FTYPEID"},
      {"SELECT d.FTypeID FROM t d ORDER BY d.FTYPEID", "ftypeid", "FTypeID"},
      {"SELECT a.FID AS FExpDeptID FROM CB_BmExpDept a", "fexpdeptid", "FExpDeptID"},
      {"SELECT fname FROM t WHERE x = 'FName'", "fname", "fname"},
      {"SELECT x -- FName AS Y\n, FName FROM t", "fname", "FName"},
      {"SELECT /* AS FNAME */ FName FROM t", "FNAME", "FName"},
      {"SELECT \"Mixed\" FROM t", "Mixed", "Mixed"},
      {"SELECT * FROM t", "fgroupid", "fgroupid"},
      {"SELECT 'it''s' AS Q, q2 FROM t", "q", "Q"},
      {"SELECT 1 AS 名称 FROM t", "名称", "名称"},
  };
  for (const Case& c : cases) EXPECT_EQ(ColumnNameAsWritten(c.sql, c.reported), c.expected) << c.sql;
}

TEST(OdbcTextTest, Utf8AndUtf16RoundTripAndRepairInvalidInput) {
  for (const std::string text : {"", "abc", "费用部门", "資料類型", "emoji 😀 end", "\x7f"}) {
    const odbc::WideString wide = odbc::ToWide(text);
    EXPECT_EQ(odbc::FromWide(wide), text);
  }
  EXPECT_EQ(odbc::ToWide("费").size(), 1u);
  EXPECT_EQ(odbc::ToWide("😀").size(), 2u) << "a surrogate pair";
  EXPECT_EQ(odbc::FromWide(odbc::ToWide("a\xff"
                                        "b")),
            "a\xEF\xBF\xBD"
            "b")
      << "invalid byte: U+FFFD";
  EXPECT_EQ(odbc::FromWide(odbc::ToWide("a\xe8\xb4")), "a\xEF\xBF\xBD") << "cut sequence: U+FFFD";
  EXPECT_EQ(odbc::FromWide(odbc::ToWide("\xc0\xaf")), "\xEF\xBF\xBD\xEF\xBF\xBD") << "overlong form";
  const char16_t lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ(odbc::FromWide(lone, 3), "x\xEF\xBF\xBDy") << "unpaired surrogate";
}

TEST(OdbcErrorNumberTest, StaysInItsOwnRangeAndGivesTheNativeCodeBack) {
  EXPECT_EQ(odbc::OdbcErrorNumber(1062), static_cast<std::int32_t>(0x80060426u));
  EXPECT_EQ(odbc::OdbcNativeError(odbc::OdbcErrorNumber(1062)), 1062);
  EXPECT_EQ(odbc::OdbcErrorNumber(0), errors::kOdbcErrorBase);
  EXPECT_EQ(odbc::OdbcErrorNumber(-5), errors::kOdbcErrorBase);
  EXPECT_EQ(odbc::OdbcErrorNumber(70000), errors::kOdbcErrorBase);
  EXPECT_EQ(odbc::OdbcNativeError(10007), -1);
  EXPECT_LT(odbc::OdbcErrorNumber(0xFFFF), 0) << "a failure result code";
}

TEST(OdbcErrorTest, ConnectionLossStates) {
  for (const char* state : {"08S01", "08001", "08003", "57P01", "HYT01"})
    EXPECT_TRUE(odbc::IsConnectionLoss(state)) << state;
  for (const char* state : {"23505", "42P01", "HY000", "40001", "25P02"})
    EXPECT_FALSE(odbc::IsConnectionLoss(state)) << state;
}

}  // namespace
}  // namespace morvane::db
