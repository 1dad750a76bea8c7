// The checks a row passes before it is written: defaults and required values, allowed values,
// references, unique values and the key's existence, with the error information each raises.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "commandbuilder/command_builder.h"
#include "commandbuilder/table_t.h"
#include "components/objlib/record_access.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::commandbuilder {
namespace {

using automation::VT_I4;
using automation::VT_NULL;
using testing::BuilderDatabase;
using testing::BuilderOnT;
using testing::ErrorOf;

class FieldChecksTest : public ::testing::Test {
 protected:
  // A builder on T whose descriptions the test gives.
  std::unique_ptr<CommandBuilder> Bare() {
    auto b = std::make_unique<CommandBuilder>();
    b->InitClassDataEnv(db.Dsn());
    b->Create("T");
    return b;
  }
  static Variant Value(const CommandBuilder& b, const char* name) { return objlib::RecordRef(b.Fields()).Value(name); }
  static bool Holds(const CommandBuilder& b, const char* name) { return objlib::RecordRef(b.Fields()).Lookup(name); }

  BuilderDatabase db;
};

TEST_F(FieldChecksTest, RequiredFieldAbsentTakesItsDefaultAndTheKeyCheckUsesIt) {
  auto b = Bare();
  b->DescribField("FID", 202, 10, true, {}, Variant("d0"), "", false, true, "", 1);
  b->DescribField("FNo", 3, 0, true, {}, {}, "", false, true, "", 2);
  b->SetFields(BuilderDatabase::Record({{"FNo", 1}}));
  EXPECT_TRUE(b->ExecInsert());
  EXPECT_EQ(db.Rows("SELECT FID, FNo FROM T"), std::vector<std::string>{"d0|1"});

  b->SetFields(BuilderDatabase::Record({{"FNo", 1}}));
  EXPECT_EQ(ErrorOf([&] { b->ExecInsert(); }).Number(), 10007);
}

TEST_F(FieldChecksTest, RequiredValues) {
  struct Case {
    const char* name;
    Variant id;          // value of FID in Fields; Missing() leaves it out
    bool idHasDefault;
    std::int32_t number;  // 0: no error
    std::string helpFile;
  };
  const Case cases[] = {
      {"present Null, with default", Variant::Null(), true, 10000, "代码"},
      {"present Empty, without default", Variant(), false, 10000, "代码"},
      {"absent, without default", Variant::Missing(), false, 10000, "代码"},
      {"absent, with default", Variant::Missing(), true, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = Bare();
    b->DescribField("FID", 202, 10, true, {}, c.idHasDefault ? std::optional<Variant>("dflt") : std::nullopt, "", false,
                    true, "", 1);
    b->DescribField("FNo", 3, 0, true, {}, {}, "", false, true, "", 2);
    auto fields = BuilderDatabase::Record({{"FNo", 7}});
    if (!c.id.IsMissing()) objlib::RecordRef(fields).SetValue("FID", c.id);
    b->SetFields(fields);
    if (c.number == 0) {
      b->CheckFields(true, true);
      EXPECT_EQ(Value(*b, "FID"), Variant("dflt"));
      continue;
    }
    const automation::Error e = ErrorOf([&] { b->CheckFields(true, true); });
    EXPECT_EQ(e.Number(), c.number);
    EXPECT_EQ(e.Source(), "E10000 chs");
    EXPECT_EQ(e.Description(), "1");
    EXPECT_EQ(e.HelpFile(), c.helpFile);
  }
}

TEST_F(FieldChecksTest, OptionalFieldsTakeDefaultsOrNullOrStayAbsent) {
  auto b = Bare();
  b->DescribField("FID", 202, 10, true, {}, {}, "", false, true, "", 1);
  b->DescribField("FNo", 3, 0, true, {}, {}, "", false, true, "", 2);
  b->DescribField("FName", 202, 20, false, {}, Variant("x"), "", false, false, "", 3);
  b->DescribField("FQty", 3, 0, false, {}, {}, "", false, false, "", 4);
  b->DescribField("FMissing", 3, 0, false, {}, Variant(5), "", false, false, "", 4);
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", "2"}, {"FName", Variant()}, {"FQty", Variant()}}));
  b->CheckFields(true, true);
  EXPECT_EQ(Value(*b, "FName"), Variant("x"));
  EXPECT_EQ(Value(*b, "FQty").vt(), VT_NULL);
  EXPECT_EQ(Value(*b, "FNo"), Variant(2));  // converted in place
  EXPECT_FALSE(Holds(*b, "FMissing"));      // not required and absent: neither written nor defaulted
}

TEST_F(FieldChecksTest, LayoutRangesAndItems) {
  struct Case {
    const char* field;
    Variant value;
    bool accepted;
    std::string helpFile;
  };
  const Case cases[] = {
      {"FQty", 1, true, ""},   {"FQty", 5, true, ""},   {"FQty", 8, true, ""},    {"FQty", 10, true, ""},
      {"FQty", 12, true, ""},  {"FQty", "3", true, ""}, {"FQty", 0, false, "数量 ='0'"},
      {"FQty", 6, false, "数量 ='6'"}, {"FQty", 9, false, "数量 ='9'"}, {"FQty", 13, false, "数量 ='13'"},
      {"FName", "a", true, ""}, {"FName", "A", true, ""}, {"FName", "b", true, ""}, {"FName", "C", true, ""},
      {"FName", "d", false, "名称 ='d'"}, {"FName", "ab", false, "名称 ='ab'"},
      // An optional field without a value has nothing to match.
      {"FQty", Variant::Null(), true, ""},  {"FName", Variant(), true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " = " + (c.value.IsEmptyOrNull() ? "(none)" : automation::ToText(c.value)));
    auto b = Bare();
    b->DescribField("FID", 202, 10, true, {}, {}, "", false, true, "", 1);
    b->DescribField("FNo", 3, 0, true, {}, {}, "", false, true, "", 2);
    b->DescribField("FName", 202, 20, false, {}, {}, "a,B,c", false, false, "", 3);
    b->DescribField("FQty", 3, 0, false, {}, {}, "1-5,8,10-12", false, false, "", 4);
    b->SetFields(BuilderDatabase::Record({{"FID", "k"}, {"FNo", 1}, {c.field, c.value}}));
    if (c.accepted) {
      EXPECT_NO_THROW(b->CheckFields(true, true));
      continue;
    }
    const automation::Error e = ErrorOf([&] { b->CheckFields(true, true); });
    EXPECT_EQ(e.Number(), 10009);
    EXPECT_EQ(e.Source(), "E10009 chs");
    EXPECT_EQ(e.HelpFile(), c.helpFile);
  }
}

TEST_F(FieldChecksTest, LayoutItemThatDoesNotConvertRaisesTheValueCheckError) {
  auto b = BuilderOnT(db, testing::TableTOptions::QtyLayout("1-x"));
  b->SetFields(BuilderDatabase::Record({{"FID", "k"}, {"FNo", 1}, {"FQty", 2}}));
  const automation::Error e = ErrorOf([&] { b->CheckFields(true, true); });
  EXPECT_EQ(e.Number(), 10004);
  EXPECT_EQ(e.HelpFile(), "数量 = 'X'");
}

TEST_F(FieldChecksTest, SourceReferences) {
  db.Exec("INSERT INTO CB_BmStandard VALUES ('n', 0)");
  {
    SCOPED_TRACE("a SourceID without a dot causes no check");
    auto b = BuilderOnT(db, testing::TableTOptions::NameSource("CB_BmStandard"));
    b->SetFields(BuilderDatabase::Record({{"FID", "k"}, {"FNo", 1}, {"FName", "zz"}}));
    db.Recorder().ClearLog();
    b->CheckFields(true, true);
    EXPECT_EQ(db.Recorder().Texts(), std::vector<std::string>{"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? "});
  }
  {
    SCOPED_TRACE("a referenced value that exists");
    auto b = BuilderOnT(db, testing::TableTOptions::NameSource("CB_BmStandard.FCode"));
    b->SetFields(BuilderDatabase::Record({{"FID", "k"}, {"FNo", 1}, {"FName", "n"}}));
    EXPECT_NO_THROW(b->CheckFields(true, true));
  }
  {
    SCOPED_TRACE("a referenced value that does not exist");
    auto b = BuilderOnT(db, testing::TableTOptions::NameSource("CB_BmStandard.FCode"));
    b->SetFields(BuilderDatabase::Record({{"FID", "k"}, {"FNo", 1}, {"FName", "zz"}}));
    const automation::Error e = ErrorOf([&] { b->CheckFields(true, true); });
    EXPECT_EQ(e.Number(), 10010);
    EXPECT_EQ(e.Source(), "E10010 chs");
    EXPECT_EQ(e.Description(), "3");
    EXPECT_EQ(e.HelpFile(), "名称 ='zz'");
  }
  {
    SCOPED_TRACE("an optional field without a value is not looked up");
    auto b = BuilderOnT(db, testing::TableTOptions::NameSource("CB_BmStandard.FCode"));
    b->SetFields(BuilderDatabase::Record({{"FID", "k"}, {"FNo", 1}}));
    EXPECT_NO_THROW(b->CheckFields(true, true));
  }
}

TEST_F(FieldChecksTest, UniqueValues) {
  db.Exec("INSERT INTO T VALUES ('a', 1, 'n', NULL)");
  auto b = BuilderOnT(db, testing::TableTOptions::NameIndex());
  b->SetFields(BuilderDatabase::Record({{"FID", "b"}, {"FNo", 1}, {"FName", "n"}}));
  db.Recorder().ClearLog();
  EXPECT_NO_THROW(b->CheckFields(true, false));
  EXPECT_TRUE(db.Recorder().StatementsStartingWith("SELECT FName").empty());  // not tested when not asked

  const automation::Error e = ErrorOf([&] { b->CheckFields(true, true); });
  EXPECT_EQ(e.Number(), 10006);
  EXPECT_EQ(e.Source(), "E10006 chs");
  EXPECT_EQ(e.Description(), "3");
  EXPECT_EQ(e.HelpFile(), "名称 ='n'");
}

TEST_F(FieldChecksTest, ExistingKeyIsReportedOnlyAfterEveryFieldIsConverted) {
  db.Exec("INSERT INTO T VALUES ('a', 1, NULL, NULL)");
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", "1"}, {"FQty", "12"}}));
  const automation::Error e = ErrorOf([&] { b->CheckFields(true, true); });
  EXPECT_EQ(e.Number(), 10007);
  EXPECT_EQ(e.Source(), "E10007 chs");
  EXPECT_EQ(e.Description(), automation::StandardErrorText(10007));  // a record error names no field
  EXPECT_EQ(e.HelpFile(), "");
  EXPECT_EQ(Value(*b, "FQty"), Variant(12));

  // A later field that does not convert is reported before the key.
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}, {"FQty", "12abc"}}));
  const automation::Error conversion = ErrorOf([&] { b->CheckFields(true, true); });
  EXPECT_EQ(conversion.Number(), 10004);
  EXPECT_EQ(conversion.HelpFile(), "数量 = '12abc'");
}

TEST_F(FieldChecksTest, MissingKeyWhenNotNewFallsBackToTheUnknownErrorText) {
  // Code 10008 has a NULL text in this database: the fallback text stands in for it.
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}}));
  const automation::Error e = ErrorOf([&] { b->CheckFields(false, true); });
  EXPECT_EQ(e.Number(), 10008);
  EXPECT_EQ(e.Source(), std::string(strings::kUnknownErrorType));
}

TEST_F(FieldChecksTest, TableWithoutKeyHasNoExistenceCheck) {
  db.Exec("INSERT INTO T VALUES ('a', 1, NULL, NULL)");
  auto b = Bare();
  b->DescribField("FID", 202, 10, true, {}, {}, "", false, false, "", 1);
  b->DescribField("FNo", 3, 0, true, {}, {}, "", false, false, "", 2);
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}}));
  db.Recorder().ClearLog();
  EXPECT_NO_THROW(b->CheckFields(true, true));
  EXPECT_NO_THROW(b->CheckFields(false, true));
  EXPECT_TRUE(db.Recorder().Texts().empty());

  DispatchPtr filter = BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}});
  EXPECT_EQ(ErrorOf([&] { b->ExecUpdate(filter); }).Number(), 1);
  EXPECT_EQ(ErrorOf([&] { b->ExecUpdateInsert(filter); }).Number(), 2);
}

TEST_F(FieldChecksTest, EntriesThatNameNoDescribedFieldAreIgnored) {
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}, {"Stray", "not a number"}}));
  EXPECT_NO_THROW(b->CheckFields(true, true));
  EXPECT_EQ(Value(*b, "Stray"), Variant("not a number"));
}

}  // namespace
}  // namespace morvane::commandbuilder
