// The exact texts the builder runs and the parameters it binds with them, one case per
// statement shape, recorded beneath the data-access layer.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "commandbuilder/command_builder.h"
#include "commandbuilder/table_t.h"
#include "support/err_info.h"

namespace morvane::commandbuilder {
namespace {

using testing::BuilderDatabase;
using testing::BuilderOnT;

// A parameter as "name=value/type/size" (an unnamed one as "=value/type/size"; Null as NULL).
std::string Describe(const db::BoundParameter& p) {
  const std::string value = p.value.IsNull() ? "NULL" : support::ErrorValueText(p.value);
  return p.name + "=" + value + "/" + std::to_string(p.type) + "/" + std::to_string(p.size);
}

// A client's own record, reached by name only, that keeps a Null it is given as the text
// "(none)": an INSERT must bind what the record holds after the checks, not what they computed.
class NoNullRecord : public automation::DispatchObject<NoNullRecord> {
 public:
  static const automation::DispatchTable<NoNullRecord>& Table() {
    using namespace automation;
    static const DispatchTable<NoNullRecord> table =
        DispatchTable<NoNullRecord>(TypeInfo{})
            .Get("Value", 0, {{"Key", VT_BSTR}}, VT_VARIANT,
                 [](NoNullRecord& self, std::span<Variant> a) {
                   auto it = self.entries.find(a[0].text());
                   return it == self.entries.end() ? Variant() : it->second;
                 })
            .Put("Value", 0, {{"Key", VT_BSTR}, {"V", VT_VARIANT}},
                 [](NoNullRecord& self, std::span<Variant> a) {
                   self.entries[a[0].text()] = a[1].IsNull() ? Variant("(none)") : a[1];
                   return Variant();
                 })
            .Get("Count", 1, {}, VT_I4,
                 [](NoNullRecord& self, std::span<Variant>) {
                   return Variant(static_cast<std::int32_t>(self.entries.size()));
                 })
            .Method("Lookup", 2, {{"Key", VT_BSTR}, ParamInfo{"Out", VT_VARIANT, true, true}}, VT_BOOL,
                    [](NoNullRecord& self, std::span<Variant> a) {
                      auto it = self.entries.find(a[0].text());
                      if (it == self.entries.end()) return Variant(false);
                      if (!a[1].IsMissing()) a[1] = it->second;
                      return Variant(true);
                    })
            .Method("Clone", 3, {}, VT_DISPATCH, [](NoNullRecord& self, std::span<Variant>) {
              auto copy = std::make_shared<NoNullRecord>();
              copy->entries = self.entries;
              return Variant(DispatchPtr(copy));
            });
    return table;
  }
  std::map<std::string, Variant> entries;
};

struct Statement {
  std::string text;
  std::vector<std::string> params;
};

struct Case {
  const char* name;
  // Builds the builder it needs, clears the log right before the operation and runs it.
  std::function<void(BuilderDatabase&)> act;
  std::vector<Statement> expected;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"insert lists the present fields; no blank before VALUES",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         b->SetFields(BuilderDatabase::Record({{"FName", "n"}, {"FID", "a"}, {"FNo", 1}, {"Other", 9}}));
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecInsert());
       },
       {{"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}},
        {"INSERT INTO T (FID,FNo,FName)VALUES (?,?,?)", {"FID=a/202/10", "FNo=1/3/4", "FName=n/202/20"}}}},
      {"insert binds the checked values: a converted key, defaults of absent required fields",
       [](BuilderDatabase& db) {
         auto b = std::make_unique<CommandBuilder>();
         b->InitClassDataEnv(db.Dsn("chs"));
         b->Create("T");
         b->DescribField("FID", 202, 10, true, {}, {}, "", false, true, "", 1);
         b->DescribField("FNo", 3, 0, true, {}, {}, "", false, true, "", 2);
         b->DescribField("FName", 202, 20, true, {}, Variant("dflt"), "", false, false, "", 3);
         b->DescribField("FQty", 3, 0, true, {}, Variant(std::int32_t{0}), "", false, false, "", 4);
         b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", "7"}}));
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecInsert());
       },
       {{"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=7/3/4"}},
        {"INSERT INTO T (FID,FNo,FName,FQty)VALUES (?,?,?,?)",
         {"FID=a/202/10", "FNo=7/3/4", "FName=dflt/202/20", "FQty=0/3/4"}}}},
      {"insert of a client's record binds what the record holds after the checks",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         auto record = std::make_shared<NoNullRecord>();
         record->entries = {{"FID", Variant("a")}, {"FNo", Variant(std::int32_t{1})}, {"FName", Variant()}};
         b->SetFields(record);
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecInsert());
       },
       {{"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}},
        {"INSERT INTO T (FID,FNo,FName)VALUES (?,?,?)", {"FID=a/202/10", "FNo=1/3/4", "FName=(none)/202/20"}}}},
      {"update reads the stored row, checks the key and writes every described column",
       [](BuilderDatabase& db) {
         db.Exec("INSERT INTO T VALUES ('a', 1, 'n', 5)");
         auto b = BuilderOnT(db);
         b->SetFields(BuilderDatabase::Record({{"FName", "m"}}));
         DispatchPtr filter = BuilderDatabase::Record({{"FQty", 5}, {"FNo", 1}, {"FID", "a"}});
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecUpdate(filter));
       },
       {{"SELECT * FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}},
        {"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}},
        {"UPDATE T SET  FID=? , FNo=? , FName=? , FQty=?  WHERE  FID=? AND FNo=? ",
         {"FID=a/202/10", "FNo=1/3/4", "FName=m/202/20", "FQty=5/3/4", "FID=a/202/10", "FNo=1/3/4"}}}},
      {"delete with a complete filter uses the key only",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         DispatchPtr filter = BuilderDatabase::Record({{"FName", "x"}, {"FNo", 2}, {"FID", "b"}});
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecDelete(filter));
       },
       {{"DELETE FROM T WHERE  FID=? AND FNo=? ", {"FID=b/202/10", "FNo=2/3/4"}}}},
      {"delete with an incomplete filter uses its described fields",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         DispatchPtr filter = BuilderDatabase::Record({{"Other", 1}, {"FQty", 3}, {"FName", "x"}});
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecDelete(filter));
       },
       {{"DELETE FROM T WHERE  FName=? AND FQty=? ", {"FName=x/202/20", "FQty=3/3/4"}}}},
      {"update-insert of a new key inserts",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}}));
         DispatchPtr filter = BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}});
         db.Recorder().ClearLog();
         EXPECT_TRUE(b->ExecUpdateInsert(filter));
       },
       {{"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}},
        {"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}},
        {"INSERT INTO T (FID,FNo)VALUES (?,?)", {"FID=a/202/10", "FNo=1/3/4"}}}},
      {"a unique field is looked up with one unnamed parameter",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db, testing::TableTOptions::NameIndex());
         b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}, {"FName", "n"}}));
         db.Recorder().ClearLog();
         b->CheckFields(true, true);
       },
       {{"SELECT FName FROM T WHERE FName=?", {"=n/202/20"}},
        {"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}}}},
      {"a referenced value is looked up with the field's type and size",
       [](BuilderDatabase& db) {
         db.Exec("INSERT INTO CB_BmStandard VALUES ('n', 0)");
         auto b = BuilderOnT(db, testing::TableTOptions::NameSource("CB_BmStandard.FCode"));
         b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}, {"FName", "n"}}));
         db.Recorder().ClearLog();
         b->CheckFields(true, true);
       },
       {{"SELECT FCode FROM CB_BmStandard WHERE FCode=?", {"=n/202/20"}},
        {"SELECT FID,FNo FROM T WHERE  FID=? AND FNo=? ", {"FID=a/202/10", "FNo=1/3/4"}}}},
      {"code-in-use check binds the code",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         db.Recorder().ClearLog();
         EXPECT_FALSE(b->BmIDUsed("CB_BmStandard", "FCode", "01"));
       },
       {{"SELECT FCode FROM CB_BmStandard WHERE FCode=?", {"=01/202/2"}}}},
      {"code-in-use check with a condition; numbered standard table",
       [](BuilderDatabase& db) {
         auto b = BuilderOnT(db);
         db.Recorder().ClearLog();
         EXPECT_FALSE(b->BmIDUsed("CB_BmStandard7", "FCode", "01", "FUsed=1"));
       },
       {{"SELECT FCode FROM CB_BmStandard WHERE FCode=? AND (FUsed=1)", {"=01/202/2"}}}},
  };
  return cases;
}

TEST(StatementTextTest, TextsAndParameters) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    BuilderDatabase db;
    c.act(db);
    std::vector<Statement> actual;
    for (const auto& s : db.Recorder().Statements()) {
      if (s.sql.starts_with("SET TRANSACTION")) continue;
      Statement st{s.sql, {}};
      for (const auto& p : s.params) {
        EXPECT_EQ(p.direction, db::adParamInput) << s.sql;
        st.params.push_back(Describe(p));
      }
      actual.push_back(std::move(st));
    }
    ASSERT_EQ(actual.size(), c.expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
      EXPECT_EQ(actual[i].text, c.expected[i].text) << "statement " << i;
      EXPECT_EQ(actual[i].params, c.expected[i].params) << "statement " << i << ": " << actual[i].text;
    }
  }
}

// Each text is joined once per builder and shape: a second row of the same shape runs the same
// text with its own values, and a row of another shape gets its own text.
TEST(StatementTextTest, RepeatedRowsReuseTheirShape) {
  BuilderDatabase db;
  auto b = BuilderOnT(db);
  db.Recorder().ClearLog();
  b->SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}}));
  b->ExecInsert();
  b->SetFields(BuilderDatabase::Record({{"FID", "b"}, {"FNo", 2}}));
  b->ExecInsert();
  b->SetFields(BuilderDatabase::Record({{"FID", "c"}, {"FNo", 3}, {"FQty", 4}}));
  b->ExecInsert();
  const auto inserts = db.Recorder().StatementsStartingWith("INSERT");
  ASSERT_EQ(inserts.size(), 3u);
  EXPECT_EQ(inserts[0].sql, "INSERT INTO T (FID,FNo)VALUES (?,?)");
  EXPECT_EQ(inserts[1].sql, inserts[0].sql);
  EXPECT_EQ(Describe(inserts[1].params[0]), "FID=b/202/10");
  EXPECT_EQ(inserts[2].sql, "INSERT INTO T (FID,FNo,FQty)VALUES (?,?,?)");
  EXPECT_EQ(db.Rows("SELECT FID, FNo, FQty FROM T ORDER BY FID"),
            (std::vector<std::string>{"a|1|NULL", "b|2|NULL", "c|3|4"}));
}

}  // namespace
}  // namespace morvane::commandbuilder
