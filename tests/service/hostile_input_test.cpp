// Hostile texts in every place a caller controls: the field values of the four changes, the
// filter values that select rows, the entries of the connection description, the names read
// from the database and the translations put into the list queries. Each value is either kept
// byte for byte or refused with a numbered error that writes nothing; and the statements a call
// runs never change shape because of a value: the texts and parameter shapes recorded beneath
// the data-access layer are those of the same call with a plain value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "commandbuilder/command_builder.h"
#include "commandbuilder/recording_provider.h"
#include "platform/db/ado_constants.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "testing/provider_override.h"
#include "testing/service_fixture.h"

namespace morvane::testing {
namespace {

using objlib::KeyedRecord;
using objlib::RecordList;

struct Hostile {
  const char* name;
  std::string value;
  // Longer than every text column of the settings table: refused by the size check, so it is
  // compared with a plain text that is too long as well.
  bool oversize = false;
};

const std::vector<Hostile>& HostileTexts() {
  static const std::vector<Hostile> values = {
      {"single quotes", "O'Brien's"},
      {"double quotes", "say \"hi\""},
      {"statement break", "'; DROP TABLE x; --"},
      {"semicolon", ";"},
      {"line comment", "--"},
      {"block comment", "/* */"},
      {"percent", "%"},
      {"underscore", "_"},
      {"NUL inside", std::string("a\0b", 3)},
      {"1 MB", std::string(std::size_t{1} << 20, 'x'), true},
      {"outside the BMP", "\xF0\x9F\x98\x80\xF0\xA0\x80\x80"},  // U+1F600 U+20000
      // As many characters as the text columns hold (1,000 bytes): sizes count characters.
      {"250 characters outside the BMP", [] {
         std::string s;
         for (int i = 0; i < 250; ++i) s += "\xF0\x9F\x98\x80";
         return s;
       }()},
      // A stray byte, an overlong "/", a stray continuation, a surrogate, a cut sequence.
      {"invalid UTF-8", "\xFF" "\xC0\xAF" "\x80" "\xED\xA0\x80" "\xE6\x88"},
  };
  return values;
}

// The plain value a hostile one is compared with.
std::string PlainFor(const Hostile& h) { return h.oversize ? std::string(300, 'a') : "abc"; }

// Single quotes doubled, as a text literal holds them.
std::string Doubled(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

// What a call did: its statements (text and parameter shape, in order) and the error it raised.
struct Outcome {
  std::vector<std::string> statements;
  std::vector<std::vector<Variant>> values;  // the bound values of each statement
  std::int32_t number = 0;
  std::string source;
  std::string description;
  std::string helpFile;
};

struct Column {
  const char* name;
  bool text;
  bool key;
  bool listed;  // GetBaseList returns the stored value of the column
};

// The columns of the settings table as the changes describe them.
const std::vector<Column>& SettingColumns() {
  static const std::vector<Column> columns = {
      {"FVchClass", true, true, false},      {"FTypeID", true, true, false},
      {"FTypeName", true, false, false},     {"FExpDeptID", true, true, true},
      {"FExpDeptName", true, false, false},  {"FExpenseID", true, true, true},
      {"FExpenseName", true, false, true},   {"FAcctID", false, false, true},
      {"FAcctName", true, false, true},      {"FItemClassID", false, false, true},
      {"FItemClassName", true, false, true}, {"FItemID", false, false, true},
      {"FItemName", true, false, true},      {"FRemark", true, false, true},
      {"FGroupID", false, false, true},      {"FGroupName", true, false, true},
  };
  return columns;
}

const char* const kKeyColumns[] = {"FVchClass", "FTypeID", "FExpDeptID", "FExpenseID"};
const char* const kListQueries[] = {"GetBaseList", "GetAssList", "GetBLendList", "GetALendList"};

// Sets an environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
  ~ScopedEnv() { ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
};

class HostileInputTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    update_ = Create("Morvane.VchTempSetUpdate");
    info_ = Create("Morvane.VchTempSetInfo");
    ResetData();
    WarmUp(Dsn());
  }

  // Loads what is read once per process (the data type catalogue of the description's product
  // and version), so that a traced call runs only its own statements.
  void WarmUp(const std::string& dsn) {
    try {
      automation::Call(*update_, "Append", dsn, DispatchPtr(RecordList::New()), true);
    } catch (const automation::Error&) {
      // A description that the call refuses loads nothing either.
    }
  }

  // One department of each type and one expense; no settings.
  void ResetData() {
    Exec("DELETE FROM CB_CostVchTempSet");
    Exec("DELETE FROM CB_BmExpDept");
    Exec("DELETE FROM CB_BmExpense");
    Exec("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES ('D01','Machining',0),('A01','Power',1)");
    Exec("INSERT INTO CB_BmExpense (FID,FName) VALUES ('E01','Wages')");
  }

  // Runs a statement with bound values, past the code under test.
  void ExecBound(const std::string& sql, const std::vector<Variant>& values) const {
    std::vector<db::BoundParameter> params;
    for (const Variant& v : values)
      params.push_back({"", v.IsText() ? db::adVarWChar : db::adInteger, db::adParamInput, 0, v});
    auto c = db::Connection::New();
    c->Open(ConnectString());
    c->ExecuteWith(sql, params);
    c->Close();
  }
  // The values of one column of the settings table, NUL-safe, in key order.
  std::vector<Variant> Stored(const std::string& column) const {
    auto c = db::Connection::New();
    c->Open(ConnectString());
    const db::ResultSet result = c->ExecuteWith(
        "SELECT " + column + " FROM CB_CostVchTempSet ORDER BY FVchClass,FTypeID,FExpDeptID,FExpenseID", {});
    c->Close();
    std::vector<Variant> out;
    for (const auto& row : result.rows) out.push_back(row.at(0));
    return out;
  }

  template <class F>
  Outcome Traced(F&& f) {
    recorder_.ClearLog();
    Outcome o;
    if (const std::optional<automation::Error> e = Raised(f)) {
      o.number = e->Number();
      o.source = e->Source();
      o.description = e->Description();
      o.helpFile = e->HelpFile();
    }
    for (const RecordedStatement& s : recorder_.Statements()) {
      if (s.sql.starts_with("SET TRANSACTION")) continue;
      std::string line = s.sql + "  [";
      std::vector<Variant> values;
      for (const db::BoundParameter& p : s.params) {
        line += p.name + ":" + std::to_string(p.type) + ":" + std::to_string(p.size) + " ";
        values.push_back(p.value);
      }
      o.statements.push_back(line + "]");
      o.values.push_back(std::move(values));
    }
    return o;
  }

  // The hostile call ran the statements of the plain one and ended the same way.
  static void ExpectSameShape(const Outcome& plain, const Outcome& hostile) {
    EXPECT_EQ(hostile.statements, plain.statements) << "a value changed the statements";
    EXPECT_EQ(hostile.number, plain.number) << "hostile: " << hostile.source << " / " << hostile.helpFile.substr(0, 200)
                                            << "; plain: " << plain.source;
    EXPECT_EQ(hostile.source, plain.source);
  }
  // Some statement bound `value` exactly.
  static bool Bound(const Outcome& o, const std::string& value) {
    for (const auto& values : o.values)
      for (const Variant& v : values)
        if (v.IsText() && v.text() == value) return true;
    return false;
  }
  // A refusal: a numbered error with its readable text, naming the offending value literally.
  static void ExpectRefusal(const Outcome& o, const std::string& value) {
    EXPECT_NE(o.number, 0);
    EXPECT_FALSE(o.source.empty()) << "the error carries no text";
    const std::string tail = " = '" + value + "'";
    EXPECT_TRUE(o.helpFile.size() >= tail.size() && o.helpFile.compare(o.helpFile.size() - tail.size(), tail.size(), tail) == 0)
        << "the help file does not end with the value as given: " << o.helpFile.substr(0, 200);
  }

  void Append(const std::string& dsn, const DispatchPtr& rows) { automation::Call(*update_, "Append", dsn, rows, true); }

  std::shared_ptr<RecordList> ListOf(const char* method, const std::string& dsn) {
    Variant v = automation::Call(*info_, method, dsn);
    return std::dynamic_pointer_cast<RecordList>(v.object());
  }
  static std::shared_ptr<KeyedRecord> Row(const std::shared_ptr<RecordList>& list, int i) {
    return std::dynamic_pointer_cast<KeyedRecord>(list->Item(i).object());
  }
  // The element of a list for the department and expense, or nullptr.
  static std::shared_ptr<KeyedRecord> Find(const std::shared_ptr<RecordList>& list, const std::string& dept,
                                           const std::string& expense) {
    for (int i = 1; list && i <= list->UBound(); ++i) {
      auto r = Row(list, i);
      const Variant d = r->Value("FExpDeptID");
      const Variant e = r->Value("FExpenseID");
      if (d.IsText() && d.text() == dept && e.IsText() && e.text() == expense) return r;
    }
    return nullptr;
  }

  // A description of the test database with one entry replaced; a value holding ";" is braced.
  std::string DsnWith(const std::string& entry, const std::string& value) const {
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"UserName", "tester"}, {"UserID", "1"},      {"DBMS Name", "SQLite"},
        {"DBMS Version", "test"}, {"LANGUAGE", "chs"}, {"AcctType", "GY"}};
    std::string dsn = "ConnectString={" + ConnectString() + "}";
    for (const auto& [name, plain] : entries) {
      const std::string& v = name == entry ? value : plain;
      dsn += ";" + name + "=" + (v.find(';') != std::string::npos ? "{" + v + "}" : v);
    }
    return dsn;
  }

  RecordingProvider recorder_{db::sqlite::SqliteProvider::Instance()};
  ProviderOverride override_{recorder_};
  DispatchPtr update_;
  DispatchPtr info_;
};

// Every field value of Append: stored as given (read back through GetBaseList where the list
// carries the column, from the table otherwise) or refused with a numbered error, nothing written.
TEST_F(HostileInputTest, AppendFieldValuesAreStoredLiterallyOrRefused) {
  for (const Column& column : SettingColumns()) {
    for (const Hostile& h : HostileTexts()) {
      SCOPED_TRACE(std::string("Append ") + column.name + " = " + h.name);
      const auto run = [&](const std::string& value) {
        ResetData();
        const std::string dept = std::string(column.name) == "FExpDeptID" ? value : "D01";
        if (dept != "D01") ExecBound("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES (?,?,0)", {dept, Variant("x")});
        auto row = Setting("V1", "301", "D01", "E01");
        row->SetValue(column.name, value);
        return Traced([&] { Append(Dsn(), List({row})); });
      };
      const Outcome plain = run(PlainFor(h));
      const Outcome hostile = run(h.value);
      ExpectSameShape(plain, hostile);

      if (hostile.number != 0) {
        ExpectRefusal(hostile, h.value);
        EXPECT_TRUE(Settings().empty()) << "a refused row was written";
        continue;
      }
      EXPECT_TRUE(column.text) << "a text was accepted for an integer column";
      EXPECT_TRUE(Bound(hostile, h.value)) << "the value did not travel as a parameter";
      const std::vector<Variant> stored = Stored(column.name);
      ASSERT_EQ(stored.size(), 1u);
      EXPECT_TRUE(stored[0].IsText() && stored[0].text() == h.value) << "stored differently from what was given";
      if (column.listed) {
        const bool isDept = std::string(column.name) == "FExpDeptID";
        const bool isExpense = std::string(column.name) == "FExpenseID";
        auto listed = Find(ListOf("GetBaseList", Dsn()), isDept ? h.value : "D01", isExpense ? h.value : "E01");
        ASSERT_TRUE(listed) << "the stored row is not in the list";
        const Variant v = listed->Value(column.name);
        EXPECT_TRUE(v.IsText() && v.text() == h.value) << "listed differently from what was stored";
      }
    }
  }
}

// Every field value of Update, written over an existing row.
TEST_F(HostileInputTest, UpdateFieldValuesAreStoredLiterallyOrRefused) {
  for (const Column& column : SettingColumns()) {
    for (const Hostile& h : HostileTexts()) {
      SCOPED_TRACE(std::string("Update ") + column.name + " = " + h.name);
      std::vector<std::string> before;
      const auto run = [&](const std::string& value) {
        ResetData();
        Append(Dsn(), List({Setting("V1", "301", "D01", "E01", "old")}));
        before = Settings();
        auto key = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
        auto element = Record({{column.name, value}});
        return Traced([&] { automation::Call(*update_, "Update", Dsn(), key, List({element}), true); });
      };
      const Outcome plain = run(PlainFor(h));
      const Outcome hostile = run(h.value);
      ExpectSameShape(plain, hostile);

      if (hostile.number != 0) {
        ExpectRefusal(hostile, h.value);
        EXPECT_EQ(Settings(), before) << "a refused update changed the row";
        continue;
      }
      EXPECT_TRUE(Bound(hostile, h.value)) << "the value did not travel as a parameter";
      const std::vector<Variant> stored = Stored(column.name);
      ASSERT_EQ(stored.size(), 1u);
      EXPECT_TRUE(stored[0].IsText() && stored[0].text() == h.value) << "stored differently from what was given";
      if (std::string(column.name) != "FRemark") {
        EXPECT_EQ(Stored("FRemark"), std::vector<Variant>{Variant("old")}) << "a column not given changed";
        // A later update of another column writes the stored value back as it is.
        auto key = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
        key->SetValue(column.name, h.value);
        automation::Call(*update_, "Update", Dsn(), key, List({Record({{"FRemark", "later"}})}), true);
        const std::vector<Variant> kept = Stored(column.name);
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_TRUE(kept[0].IsText() && kept[0].text() == h.value) << "rewriting the stored row changed the value";
        EXPECT_EQ(Stored("FRemark"), std::vector<Variant>{Variant("later")});
      }
    }
  }
}

// Filter values select exactly the rows that hold them: no pattern matching ("%", "_"), no
// quoting trouble, nothing cut at a NUL. A decoy row differs from the target in that column only.
TEST_F(HostileInputTest, FilterValuesSelectExactlyTheRowsHoldingThem) {
  for (const char* keyColumn : kKeyColumns) {
    for (const Hostile& h : HostileTexts()) {
      SCOPED_TRACE(std::string("filter ") + keyColumn + " = " + h.name);
      const auto row = [&](const std::string& value, const char* remark) {
        auto r = Setting("V1", "301", "D01", "E01", remark);
        r->SetValue(keyColumn, value);
        return r;
      };
      const auto key = [&](const std::string& value) {
        auto k = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
        k->SetValue(keyColumn, value);
        return k;
      };
      // Target and decoy rows; a value too long to store leaves the decoy alone.
      const auto setUp = [&](const std::string& value) {
        ResetData();
        try {
          Append(Dsn(), List({row(value, "target")}));
        } catch (const automation::Error&) {
          // Too long to store: the filter then selects nothing.
        }
        Append(Dsn(), List({row("Z", "decoy")}));
      };
      const auto remarkOf = [&](const std::string& value) -> std::optional<std::string> {
        auto keys = Stored(keyColumn);
        auto remarks = Stored("FRemark");
        for (std::size_t i = 0; i < keys.size(); ++i)
          if (keys[i].IsText() && keys[i].text() == value) return remarks[i].text();
        return std::nullopt;
      };
      const std::string plainValue = PlainFor(h);

      // Update of the row the complete key selects.
      const auto update = [&](const std::string& value) {
        setUp(value);
        return Traced([&] {
          automation::Call(*update_, "Update", Dsn(), key(value), List({Record({{"FRemark", "changed"}})}), true);
        });
      };
      const Outcome plainUpdate = update(plainValue);
      const Outcome hostileUpdate = update(h.value);
      ExpectSameShape(plainUpdate, hostileUpdate);
      EXPECT_EQ(remarkOf("Z"), std::optional<std::string>("decoy")) << "Update reached the decoy";
      if (!h.oversize) {
        EXPECT_EQ(hostileUpdate.number, 0) << hostileUpdate.source;
        EXPECT_EQ(remarkOf(h.value), std::optional<std::string>("changed")) << "Update missed its row";
      }

      // Delete by the complete key, then by the one column alone.
      for (bool complete : {true, false}) {
        SCOPED_TRACE(complete ? "Delete by the complete key" : "Delete by one key column");
        const auto erase = [&](const std::string& value) {
          setUp(value);
          auto filter = complete ? key(value) : Record({{keyColumn, value}});
          return Traced([&] { automation::Call(*update_, "Delete", Dsn(), filter, true); });
        };
        const Outcome plainDelete = erase(plainValue);
        const Outcome hostileDelete = erase(h.value);
        ExpectSameShape(plainDelete, hostileDelete);
        EXPECT_EQ(hostileDelete.number, 0) << hostileDelete.source;
        EXPECT_TRUE(Bound(hostileDelete, h.value)) << "the filter value did not travel as a parameter";
        EXPECT_EQ(remarkOf("Z"), std::optional<std::string>("decoy")) << "Delete reached the decoy";
        EXPECT_EQ(remarkOf(h.value), std::nullopt) << "Delete missed its row";
      }
    }
  }
}

// UpdateInsert clears the voucher class its first element names, and only that class.
TEST_F(HostileInputTest, UpdateInsertReplacesOnlyTheNamedVoucherClass) {
  for (const Hostile& h : HostileTexts()) {
    SCOPED_TRACE(std::string("UpdateInsert FVchClass = ") + h.name);
    const auto run = [&](const std::string& value) {
      ResetData();
      auto stored = Setting("V1", "301", "D01", "E01", "old");
      stored->SetValue("FVchClass", value);
      try {
        Append(Dsn(), List({stored}));
      } catch (const automation::Error&) {
        // A class too long to store: only the decoy class is there.
      }
      Append(Dsn(), List({Setting("Z", "301", "D01", "E01", "decoy")}));
      auto element = Setting("V1", "302", "D01", "E01", "new");
      element->SetValue("FVchClass", value);
      return Traced([&] { automation::Call(*update_, "UpdateInsert", Dsn(), List({element}), true); });
    };
    const Outcome plain = run(PlainFor(h));
    const Outcome hostile = run(h.value);
    ExpectSameShape(plain, hostile);

    const std::vector<Variant> classes = Stored("FVchClass");
    const std::vector<Variant> types = Stored("FTypeID");
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < classes.size(); ++i)
      rows.push_back((classes[i].text() == h.value ? std::string("<value>") : classes[i].text()) + "|" + types[i].text());
    std::sort(rows.begin(), rows.end());
    if (hostile.number != 0) {
      ExpectRefusal(hostile, h.value);
      EXPECT_TRUE(h.oversize);
      EXPECT_EQ(rows, (std::vector<std::string>{"Z|301"})) << "a refused element changed the table";
      continue;
    }
    EXPECT_TRUE(Bound(hostile, h.value)) << "the class did not travel as a parameter";
    EXPECT_EQ(rows, (std::vector<std::string>{"<value>|302", "Z|301"}))
        << "the class was not replaced exactly (the decoy class must stay)";
  }
}

// Each entry of the description: the calls run the statements they run with a plain entry and
// end the same way (UserID must be a number: error 13 either way).
TEST_F(HostileInputTest, DescriptionEntriesNeverReachTheStatements) {
  const char* const entryNames[] = {"UserName", "UserID", "LANGUAGE", "DBMS Name", "DBMS Version", "AcctType"};
  // A department code one character too long: the refusal reads the error texts in the
  // description's language.
  const std::string tooLong(251, 'd');
  for (const char* entry : entryNames) {
    for (const Hostile& h : HostileTexts()) {
      SCOPED_TRACE(std::string("sDsn ") + entry + " = " + h.name);
      const std::string plainDsn = DsnWith(entry, "abc");
      const std::string hostileDsn = DsnWith(entry, h.value);
      WarmUp(plainDsn);
      WarmUp(hostileDsn);

      const auto append = [&](const std::string& dsn, const char* dept) {
        ResetData();
        return Traced([&] { Append(dsn, List({Setting("V1", "301", dept, "E01")})); });
      };
      const Outcome plainAppend = append(plainDsn, "D01");
      const Outcome hostileAppend = append(hostileDsn, "D01");
      ExpectSameShape(plainAppend, hostileAppend);
      if (std::string(entry) == "UserID") {
        EXPECT_EQ(hostileAppend.number, automation::errors::kTypeMismatch);
      } else {
        EXPECT_EQ(hostileAppend.number, 0) << hostileAppend.source << " " << hostileAppend.description;
        EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r"}));
      }
      ExpectSameShape(append(plainDsn, tooLong.c_str()), append(hostileDsn, tooLong.c_str()));

      for (const char* method : kListQueries) {
        SCOPED_TRACE(method);
        std::shared_ptr<RecordList> plainList;
        std::shared_ptr<RecordList> hostileList;
        const Outcome plainQuery = Traced([&] { plainList = ListOf(method, plainDsn); });
        const Outcome hostileQuery = Traced([&] { hostileList = ListOf(method, hostileDsn); });
        ExpectSameShape(plainQuery, hostileQuery);
        ASSERT_TRUE(plainList && hostileList);
        ASSERT_EQ(hostileList->UBound(), plainList->UBound());
        for (int i = 1; i <= plainList->UBound(); ++i)
          EXPECT_EQ(Row(hostileList, i)->Value("FTypeName"), Row(plainList, i)->Value("FTypeName"));
      }
    }
  }
}

// Entries of rows and filters named with hostile texts are not described columns: they are
// ignored, and the statements are those of the same row or filter with a plainly named extra entry.
TEST_F(HostileInputTest, EntriesNamedWithHostileTextsAreIgnored) {
  for (const Hostile& h : HostileTexts()) {
    SCOPED_TRACE(std::string("entry name = ") + h.name);
    const auto append = [&](const std::string& name) {
      ResetData();
      auto row = Setting("V1", "301", "D01", "E01");
      row->SetValue(name, "x");
      return Traced([&] { Append(Dsn(), List({row})); });
    };
    const Outcome plainAppend = append("abc");
    const Outcome hostileAppend = append(h.value);
    ExpectSameShape(plainAppend, hostileAppend);
    EXPECT_EQ(hostileAppend.number, 0) << hostileAppend.source;
    EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r"}));

    // A filter holding only such an entry holds no described column: error 5, nothing deleted.
    const auto erase = [&](const std::string& name) {
      ResetData();
      Append(Dsn(), List({Setting("V1", "301", "D01", "E01")}));
      auto filter = KeyedRecord::New();
      filter->SetValue(name, "V1");
      return Traced([&] { automation::Call(*update_, "Delete", Dsn(), DispatchPtr(filter), true); });
    };
    const Outcome plainDelete = erase("abc");
    const Outcome hostileDelete = erase(h.value);
    ExpectSameShape(plainDelete, hostileDelete);
    EXPECT_EQ(hostileDelete.number, 5);
    EXPECT_EQ(Settings().size(), 1u);
  }
}

// The user's name is quoted literally in the refusal of a user without rights.
TEST_F(HostileInputTest, RefusalNamesTheUserLiterally) {
  for (const Hostile& h : HostileTexts()) {
    SCOPED_TRACE(std::string("UserName = ") + h.name);
    std::string dsn = DsnWith("UserName", h.value);
    dsn.replace(dsn.find(";UserID=1;"), 10, ";UserID=42;");
    const Outcome o = Traced([&] { Append(dsn, List({Setting("V1", "301", "D01", "E01")})); });
    EXPECT_NE(o.number, 0);
    EXPECT_NE(o.description.find("user 42 (" + h.value + ")"), std::string::npos)
        << o.description.substr(0, 200);
    EXPECT_TRUE(Settings().empty());
  }
}

// Codes and names read from the database come back in the lists as stored, and a setting keyed
// on such codes joins its pair. Every list runs the statement it runs on plain data.
TEST_F(HostileInputTest, NamesReadFromTheDatabaseComeBackLiterally) {
  struct Expect {
    const char* method;
    std::string dept;  // the department of the element that carries the setting
    const char* type;
  };
  for (const Hostile& h : HostileTexts()) {
    SCOPED_TRACE(std::string("stored codes and names = ") + h.name);
    const auto fill = [&](const std::string& v) {
      Exec("DELETE FROM CB_CostVchTempSet");
      Exec("DELETE FROM CB_BmExpDept");
      Exec("DELETE FROM CB_BmExpense");
      const std::string auxiliary = v + "#1";
      ExecBound("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES (?,?,0),(?,?,1)", {v, v, auxiliary, v});
      ExecBound("INSERT INTO CB_BmExpense (FID,FName) VALUES (?,?)", {v, v});
      for (const auto& [type, dept] : {std::pair<const char*, std::string>{"301", v}, {"302", v}, {"201", auxiliary},
                                       {"202", auxiliary}}) {
        ExecBound("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID,FExpenseName,FAcctID,"
                  "FAcctName,FRemark,FGroupID,FGroupName) VALUES (?,?,?,?,?,?,?,?,?,?)",
                  {v, Variant(type), dept, v, v, Variant(std::int32_t{7}), v, v, Variant(std::int32_t{3}), v});
      }
    };
    const std::vector<Expect> expectations = {{"GetBaseList", h.value, "301"},
                                              {"GetAssList", h.value + "#1", "201"},
                                              {"GetBLendList", h.value, "302"},
                                              {"GetALendList", h.value + "#1", "202"}};
    std::vector<Outcome> plain;
    fill(PlainFor(h));
    for (const Expect& e : expectations) plain.push_back(Traced([&] { ListOf(e.method, Dsn()); }));
    fill(h.value);
    for (std::size_t i = 0; i < expectations.size(); ++i) {
      const Expect& e = expectations[i];
      SCOPED_TRACE(e.method);
      std::shared_ptr<RecordList> list;
      const Outcome hostile = Traced([&] { list = ListOf(e.method, Dsn()); });
      ExpectSameShape(plain[i], hostile);
      ASSERT_EQ(hostile.number, 0) << hostile.source;
      auto row = Find(list, e.dept, h.value);
      ASSERT_TRUE(row) << "the setting did not join its department and expense";
      EXPECT_EQ(row->Value("FAcctID"), Variant(std::int32_t{7}));
      EXPECT_EQ(row->Value("FGroupID"), Variant(std::int32_t{3}));
      for (const char* column : {"FExpDeptName", "FExpenseName", "FAcctName", "FRemark", "FGroupName"}) {
        const Variant v = row->Value(column);
        EXPECT_TRUE(v.IsText() && v.text() == h.value) << column << " came back changed";
      }
    }
  }
}

// The error texts and item captions read from the database are handed on literally, and the
// help file joins the caption and the offending value as they are.
TEST_F(HostileInputTest, ErrorTextsFromTheDatabaseAreHandedOnLiterally) {
  const std::string tooLong(251, 'd');
  for (const Hostile& h : HostileTexts()) {
    SCOPED_TRACE(std::string("error text and caption = ") + h.name);
    ExecBound("UPDATE CB_BmErrCode SET FDescriptive = ? WHERE FCode = 10005", {h.value});
    ExecBound("UPDATE CB_BmErrItem SET FDescriptive = ? WHERE FItem = 10036", {h.value});
    const Outcome o = Traced([&] { Append(Dsn(), List({Setting("V1", "301", tooLong.c_str(), "E01")})); });
    EXPECT_EQ(o.number, 10005);
    EXPECT_TRUE(o.source == h.value) << "the code text came back changed: " << o.source.substr(0, 200);
    EXPECT_EQ(o.description, "10036");
    EXPECT_TRUE(o.helpFile == h.value + " = '" + tooLong + "'") << o.helpFile.substr(0, 200);
    EXPECT_TRUE(Settings().empty());
  }
}

// Translations of the category and pseudo-expense names are the one place where a text enters a
// statement by design: as a literal with its single quotes doubled. The statement is the plain
// one with exactly that literal in place, and the list gives the translation back as it is. A
// catalogue that is not UTF-8 is not used: the names then stay the built-in Chinese ones.
TEST_F(HostileInputTest, TranslatedNamesEnterTheListQueriesOnlyAsQuotedLiterals) {
  const char* const keys[] = {"成本项目", "辅助生产费用", "制造费用", "辅助费用"};
  const struct {
    const char* method;
    const char* typeKey;
    const char* pseudoKey;  // the pseudo expense's name, where the list has one
  } queries[] = {{"GetBaseList", "成本项目", nullptr},
                 {"GetAssList", "辅助生产费用", nullptr},
                 {"GetBLendList", "制造费用", "辅助费用"},
                 {"GetALendList", "辅助生产费用", nullptr}};
  int folderNumber = 0;
  // A catalogue that translates every name into `translation`, in a folder of its own (a
  // catalogue file is read once per process).
  const auto catalogue = [&](const std::string& translation) {
    const std::filesystem::path folder = dir_ / ("resources-" + std::to_string(folderNumber++));
    std::filesystem::create_directories(folder / "TorCost");
    std::string escaped;
    for (char c : translation) {
      if (c == '"' || c == '\\') escaped += '\\';
      escaped += c;
    }
    std::ofstream po(folder / "TorCost" / "en.po", std::ios::binary);
    po << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
    for (const char* key : keys) po << "msgid \"" << key << "\"\nmsgstr \"" << escaped << "\"\n\n";
    return folder;
  };
  Exec("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES ('D02','Assembly',0),('A02','Repair',1)");

  for (const Hostile& h : HostileTexts()) {
    if (h.value.find('\0') != std::string::npos) continue;  // a catalogue text cannot hold a NUL
    SCOPED_TRACE(std::string("translation = ") + h.name);
    const bool usable = h.name != std::string("invalid UTF-8");
    const std::filesystem::path plainFolder = catalogue("abc");
    const std::filesystem::path hostileFolder = catalogue(h.value);
    for (const auto& q : queries) {
      SCOPED_TRACE(q.method);
      const auto run = [&](const std::filesystem::path& folder, std::shared_ptr<RecordList>& list) {
        ScopedEnv env("MORVANE_RESOURCES", folder.string());
        return Traced([&] { list = ListOf(q.method, Dsn("en")); });
      };
      std::shared_ptr<RecordList> plainList;
      std::shared_ptr<RecordList> hostileList;
      const Outcome plain = run(plainFolder, plainList);
      const Outcome hostile = run(hostileFolder, hostileList);
      ASSERT_EQ(hostile.number, 0) << hostile.source;
      ASSERT_EQ(plain.statements.size(), 1u);
      ASSERT_EQ(hostile.statements.size(), 1u);

      // The plain statement with the expected literals in place of 'abc'.
      std::string expected = plain.statements[0];
      const auto put = [&](const std::string& before, const std::string& after) {
        const auto at = expected.find(before);
        ASSERT_NE(at, std::string::npos) << before;
        expected.replace(at, before.size(), after);
      };
      const std::string typeName = usable ? h.value : q.typeKey;
      // Doubled texts named first: GCC 12 warns (-Wrestrict) at -O3 on "'" + Doubled(...).
      const std::string doubledType = Doubled(typeName);
      put("'abc' AS FTypeName", "'" + doubledType + "' AS FTypeName");
      if (q.pseudoKey) {
        const std::string doubledName = Doubled(usable ? h.value : q.pseudoKey);
        put("'abc' AS FName", "'" + doubledName + "' AS FName");
      }
      EXPECT_TRUE(hostile.statements[0] == expected) << hostile.statements[0].substr(0, 400);

      ASSERT_GT(hostileList->UBound(), 0);
      ASSERT_EQ(hostileList->UBound(), plainList->UBound());
      const Variant listed = Row(hostileList, 1)->Value("FTypeName");
      EXPECT_TRUE(listed.IsText() && listed.text() == typeName) << "the name came back changed";
      if (q.pseudoKey) {
        auto pseudo = Find(hostileList, "D01", "AssistExpenseID");
        ASSERT_TRUE(pseudo);
        const Variant name = pseudo->Value("FExpenseName");
        EXPECT_TRUE(name.IsText() && name.text() == (usable ? h.value : q.pseudoKey));
      }
    }
  }
}

// The code-in-use check binds the code, so a code is found exactly; the caller's extra condition
// is SQL of the caller's and is joined as " AND (" condition ")".
TEST_F(HostileInputTest, CodeInUseCheckBindsTheCode) {
  for (const Hostile& h : HostileTexts()) {
    SCOPED_TRACE(std::string("code = ") + h.name);
    const auto run = [&](const std::string& code, bool stored) {
      ResetData();
      if (stored) ExecBound("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES (?,'x',0)", {code});
      commandbuilder::CommandBuilder builder;
      builder.InitClassDataEnv(Dsn());
      builder.Create("CB_BmExpDept");
      return Traced([&] { builder.BmIDUsed("CB_BmExpDept", "FID", code, "FType = 0"); });
    };
    const std::string plainCode = PlainFor(h);
    const Outcome absentPlain = run(plainCode, false);
    const Outcome absent = run(h.value, false);
    EXPECT_EQ(absent.statements.size(), 1u);
    // The parameter's size follows the code's length: compare the texts alone.
    ASSERT_EQ(absent.statements.size(), absentPlain.statements.size());
    for (std::size_t i = 0; i < absent.statements.size(); ++i)
      EXPECT_EQ(absent.statements[i].substr(0, absent.statements[i].find("  [")),
                absentPlain.statements[i].substr(0, absentPlain.statements[i].find("  [")));
    EXPECT_NE(absent.statements[0].find("SELECT FID FROM CB_BmExpDept WHERE FID=? AND (FType = 0)  ["),
              std::string::npos)
        << absent.statements[0];
    EXPECT_EQ(absent.number, 0) << "a code no row holds (only D01 and A01 are stored) was found in use";
    EXPECT_TRUE(Bound(absent, h.value));

    const Outcome used = run(h.value, true);
    EXPECT_EQ(used.number, 12222) << "a stored code was not found";
  }
}

}  // namespace
}  // namespace morvane::testing
