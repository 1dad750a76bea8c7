// Updates, deletes and update-inserts against stored rows: what the database holds afterwards,
// what the caller's filter and Fields hold, and the errors for incomplete keys and missing rows.
#include <gtest/gtest.h>

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

using testing::BuilderDatabase;
using testing::BuilderOnT;
using testing::ErrorOf;

class UpdateDeleteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.Exec("INSERT INTO T VALUES ('a', 1, 'n', 5)");
    db.Exec("INSERT INTO T VALUES ('a', 2, 'm', 6)");
    db.Exec("INSERT INTO T VALUES ('b', 1, 'n', 7)");
  }
  std::vector<std::string> Table() const { return db.Rows("SELECT FID, FNo, FName, FQty FROM T ORDER BY FID, FNo"); }

  BuilderDatabase db;
  const std::vector<std::string> initial{"a|1|n|5", "a|2|m|6", "b|1|n|7"};
};

TEST_F(UpdateDeleteTest, UpdateOfOneColumnKeepsTheStoredColumnsAndNarrowsTheFilter) {
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"FQty", "70"}}));
  DispatchPtr filter = BuilderDatabase::Record({{"FName", "ignored"}, {"FNo", 1}, {"FID", "a"}});
  const DispatchPtr callers = filter;
  EXPECT_TRUE(b->ExecUpdate(filter));
  EXPECT_EQ(Table(), (std::vector<std::string>{"a|1|n|70", "a|2|m|6", "b|1|n|7"}));

  EXPECT_NE(filter, callers);  // replaced by the narrowed record
  const objlib::RecordRef narrowed(filter);
  EXPECT_EQ(narrowed.Count(), 2);
  EXPECT_FALSE(narrowed.Lookup("FName"));
  EXPECT_EQ(objlib::RecordRef(callers).Count(), 3);  // the record the caller gave is untouched

  const objlib::RecordRef fields(b->Fields());
  EXPECT_EQ(fields.Value("FName"), Variant("n"));
  EXPECT_EQ(fields.Value("FQty"), Variant(70));
}

TEST_F(UpdateDeleteTest, UpdateErrors) {
  struct Case {
    const char* name;
    DispatchPtr fields;
    DispatchPtr filter;
    std::int32_t number;
    std::string source;
  };
  const Case cases[] = {
      {"filter without the whole key", BuilderDatabase::Record({{"FQty", 1}}), BuilderDatabase::Record({{"FID", "a"}}),
       1, std::string(strings::kIncompleteKey)},
      {"no stored row", BuilderDatabase::Record({{"FQty", 1}}), BuilderDatabase::Record({{"FID", "z"}, {"FNo", 1}}),
       10010, "E10010 chs"},
      {"key moved onto another row", BuilderDatabase::Record({{"FNo", 2}}),
       BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}}), 10007, "E10007 chs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = BuilderOnT(db);
    b->SetFields(c.fields);
    DispatchPtr filter = c.filter;
    const automation::Error e = ErrorOf([&] { b->ExecUpdate(filter); });
    EXPECT_EQ(e.Number(), c.number);
    EXPECT_EQ(e.Source(), c.source);
    EXPECT_EQ(e.HelpFile(), "");
    EXPECT_EQ(Table(), initial);
  }
}

TEST_F(UpdateDeleteTest, IncompleteKeyMessageFollowsTheLanguage) {
  auto b = BuilderOnT(db, {}, "en");
  b->SetFields(BuilderDatabase::Record({{"FQty", 1}}));
  DispatchPtr filter = BuilderDatabase::Record({{"FNo", 1}});
  EXPECT_EQ(ErrorOf([&] { b->ExecUpdate(filter); }).Source(), support::GetResString(strings::kIncompleteKey, "en"));
  EXPECT_EQ(ErrorOf([&] { b->ExecUpdateInsert(filter); }).Source(),
            support::GetResString(strings::kIncompleteKey, "en"));
}

TEST_F(UpdateDeleteTest, UpdateMovesTheKeyOntoAFreeOne) {
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"FNo", 3}}));
  DispatchPtr filter = BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}});
  EXPECT_TRUE(b->ExecUpdate(filter));
  EXPECT_EQ(Table(), (std::vector<std::string>{"a|2|m|6", "a|3|n|5", "b|1|n|7"}));
}

TEST_F(UpdateDeleteTest, UniqueValueChangedOntoAnotherRowIsRefused) {
  auto b = BuilderOnT(db, testing::TableTOptions::NameIndex());
  b->SetFields(BuilderDatabase::Record({{"FName", "m"}}));
  DispatchPtr filter = BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}});
  const automation::Error e = ErrorOf([&] { b->ExecUpdate(filter); });
  EXPECT_EQ(e.Number(), 10006);
  EXPECT_EQ(e.Description(), "3");
  EXPECT_EQ(e.HelpFile(), "名称 ='m'");

  // The unchanged stored value is no conflict with itself.
  b->SetFields(BuilderDatabase::Record({{"FName", "n"}, {"FQty", 1}}));
  EXPECT_TRUE(b->ExecUpdate(filter));
}

TEST_F(UpdateDeleteTest, NothingToWrite) {
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"Stray", 1}}));
  DispatchPtr filter = BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}});
  db.Recorder().ClearLog();
  EXPECT_FALSE(b->ExecInsert());
  EXPECT_FALSE(b->ExecUpdate(filter));
  EXPECT_TRUE(db.Recorder().Texts().empty());
}

TEST(DeleteTest, Deletes) {
  struct Case {
    const char* name;
    DispatchPtr filter;
    std::vector<std::string> remaining;
  };
  const Case cases[] = {
      {"complete key", BuilderDatabase::Record({{"FID", "a"}, {"FNo", 2}, {"FName", "x"}}),
       {"a|1|n|5", "b|1|n|7"}},
      {"incomplete key deletes every row matching the described fields",
       BuilderDatabase::Record({{"FName", "n"}, {"Stray", 1}}), {"a|2|m|6"}},
      {"no row matches", BuilderDatabase::Record({{"FID", "z"}, {"FNo", 9}}), {"a|1|n|5", "a|2|m|6", "b|1|n|7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuilderDatabase fresh;
    fresh.Exec("INSERT INTO T VALUES ('a', 1, 'n', 5)");
    fresh.Exec("INSERT INTO T VALUES ('a', 2, 'm', 6)");
    fresh.Exec("INSERT INTO T VALUES ('b', 1, 'n', 7)");
    auto b = BuilderOnT(fresh);
    DispatchPtr filter = c.filter;
    EXPECT_TRUE(b->ExecDelete(filter));
    EXPECT_EQ(fresh.Rows("SELECT FID, FNo, FName, FQty FROM T ORDER BY FID, FNo"), c.remaining);
  }
}

TEST_F(UpdateDeleteTest, DeleteWithNoDescribedFieldIsRefused) {
  auto b = BuilderOnT(db);
  DispatchPtr filter = BuilderDatabase::Record({{"Stray", 1}});
  db.Recorder().ClearLog();
  EXPECT_EQ(ErrorOf([&] { b->ExecDelete(filter); }).Number(), 5);
  EXPECT_TRUE(db.Recorder().Texts().empty());
  EXPECT_EQ(Table(), initial);
}

TEST_F(UpdateDeleteTest, UpdateInsert) {
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}, {"FQty", 50}}));
  DispatchPtr existing = BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}});
  EXPECT_TRUE(b->ExecUpdateInsert(existing));
  b->SetFields(BuilderDatabase::Record({{"FID", "c"}, {"FNo", 1}, {"FQty", 9}}));
  DispatchPtr fresh = BuilderDatabase::Record({{"FID", "c"}, {"FNo", 1}});
  EXPECT_TRUE(b->ExecUpdateInsert(fresh));
  EXPECT_EQ(Table(), (std::vector<std::string>{"a|1|n|50", "a|2|m|6", "b|1|n|7", "c|1|NULL|9"}));

  b->SetFields(BuilderDatabase::Record({{"FID", "d"}, {"FNo", 1}}));
  DispatchPtr incomplete = BuilderDatabase::Record({{"FID", "d"}});
  const automation::Error e = ErrorOf([&] { b->ExecUpdateInsert(incomplete); });
  EXPECT_EQ(e.Number(), 2);
  EXPECT_EQ(e.Source(), std::string(strings::kIncompleteKey));
  EXPECT_EQ(Table().size(), 4u);
}

}  // namespace
}  // namespace morvane::commandbuilder
