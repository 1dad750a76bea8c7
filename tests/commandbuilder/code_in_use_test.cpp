// The code-in-use check: which table it searches, the extra condition, codes holding quotes, and
// the error it raises.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "commandbuilder/command_builder.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::commandbuilder {
namespace {

using testing::BuilderDatabase;
using testing::ErrorOf;
using testing::NumberRaised;

class CodeInUseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.Exec("INSERT INTO CB_BmStandard VALUES ('01', 1)");
    db.Exec("INSERT INTO CB_BmStandard VALUES ('02', 0)");
    db.Exec("INSERT INTO CB_BmStandard VALUES ('O''Brien', 0)");
    db.Exec("CREATE TABLE CB_BmStandard12 (FCode TEXT)");
    builder.InitClassDataEnv(db.Dsn());
  }
  // The number raised, or 0 when the check passed (returned False).
  std::int32_t Check(const std::string& table, const std::string& code, const std::string& filter = "") {
    return NumberRaised([&] { EXPECT_FALSE(builder.BmIDUsed(table, "FCode", code, filter)); });
  }

  BuilderDatabase db;
  CommandBuilder builder;
};

TEST_F(CodeInUseTest, Outcomes) {
  struct Case {
    const char* table;
    const char* code;
    const char* filter;
    std::int32_t number;
  };
  const Case cases[] = {
      {"CB_BmStandard", "01", "", 12222},
      {"CB_BmStandard", "03", "", 0},
      {"CB_BmStandard", "01", "FUsed=1", 12222},
      {"CB_BmStandard", "02", "FUsed=1", 0},
      // The condition narrows the search also when it holds OR.
      {"CB_BmStandard", "03", "FUsed=1 OR FUsed=0", 0},
      {"CB_BmStandard", "02", "FUsed=1 OR FUsed=0", 12222},
      // One more character names the standard table itself, also a multi-byte one.
      {"CB_BmStandard1", "01", "", 12222},
      {"CB_BmStandard甲", "01", "", 12222},
      // A longer suffix is a table of its own (empty here).
      {"CB_BmStandard12", "01", "", 0},
      // A quote in the code is part of the code, never of the statement.
      {"CB_BmStandard", "O'Brien", "", 12222},
      {"CB_BmStandard", "O'", "", 0},
      {"CB_BmStandard", "x' OR '1'='1", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " " + c.code + " " + c.filter);
    EXPECT_EQ(Check(c.table, c.code, c.filter), c.number);
  }
}

TEST_F(CodeInUseTest, EmptyTableIsRefusedBeforeAnyStatement) {
  db.Recorder().ClearLog();
  EXPECT_EQ(Check("", "01"), 5);
  EXPECT_TRUE(db.Recorder().Statements().empty());
}

TEST_F(CodeInUseTest, ErrorCarriesTheLocalisedMessageOnly) {
  for (const std::string language : {"chs", "en", ""}) {
    SCOPED_TRACE("language '" + language + "'");
    CommandBuilder b;
    b.InitClassDataEnv(db.Dsn(language));
    const automation::Error e = ErrorOf([&] { b.BmIDUsed("CB_BmStandard", "FCode", "01"); });
    EXPECT_EQ(e.Number(), 12222);
    EXPECT_EQ(e.Source(), support::GetResString(strings::kCodeInUse, language.empty() ? "chs" : language));
    EXPECT_EQ(e.Description(), automation::StandardErrorText(12222));
    EXPECT_EQ(e.HelpFile(), "");
  }
}

TEST_F(CodeInUseTest, DatabaseErrorsPassThrough) {
  const std::int32_t number = Check("NoSuchTable", "01");
  EXPECT_NE(number, 0);
  EXPECT_NE(number, 12222);
}

}  // namespace
}  // namespace morvane::commandbuilder
