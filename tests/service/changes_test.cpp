// The four changes through the runtime on SQLite: what each writes, what it refuses, and what
// stays after a failure with and without the transaction vote.
#include <gtest/gtest.h>

#include "testing/service_fixture.h"

namespace morvane::testing {
namespace {

class ChangesTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    update_ = Create("Morvane.VchTempSetUpdate");
  }
  void Append(const DispatchPtr& rows, bool bMts = true, const std::string& dsn = "") {
    automation::Call(*update_, "Append", dsn.empty() ? Dsn() : dsn, rows, bMts);
  }
  void UpdateInsert(const DispatchPtr& rows, bool bMts = true) {
    automation::Call(*update_, "UpdateInsert", Dsn(), rows, bMts);
  }
  void Update(const DispatchPtr& filter, const DispatchPtr& rows) {
    automation::Call(*update_, "Update", Dsn(), filter, rows);
  }
  void Delete(const DispatchPtr& filter) { automation::Call(*update_, "Delete", Dsn(), filter); }
  std::string Column(const char* column, const char* where = "1=1") {
    auto rows = Rows(std::string("SELECT ") + column + " FROM CB_CostVchTempSet WHERE " + where);
    // Named first: GCC 12 warns (-Wrestrict) at -O3 on "<" + std::to_string(...).
    const std::string count = std::to_string(rows.size());
    return rows.size() == 1 ? rows[0] : "<" + count + " rows>";
  }

  DispatchPtr update_;
};

TEST_F(ChangesTest, AppendWritesDefaultsAndConvertsValues) {
  auto row = Setting("V1", "301", "D01", "E01");
  row->SetValue("FAcctID", Variant());             // present but Empty: its default 0
  row->SetValue("FGroupName", Variant::Null());    // present but Null: its default ""
  row->SetValue("FItemID", "12");                  // text converted to the integer column
  Append(List({row}));
  EXPECT_EQ(Column("FAcctID"), "0");
  EXPECT_EQ(Column("FGroupID"), "0") << "an absent FGroupID gets its default";
  EXPECT_EQ(Column("FGroupName"), "");
  EXPECT_EQ(Column("FItemID"), "12");
  EXPECT_EQ(Column("typeof(FItemID)"), "integer");
  EXPECT_EQ(Column("FItemClassID"), "NULL") << "absent and not required: left out";
}

TEST_F(ChangesTest, AppendRefusesRowsThatLackRequiredValues) {
  struct Case {
    const char* what;
    const char* column;
    bool remove;  // absent rather than Null
  };
  const Case cases[] = {{"FGroupID present but Null", "FGroupID", false},
                        {"FRemark absent", "FRemark", true},
                        {"key column absent", "FExpenseID", true},
                        {"key column Null", "FVchClass", false}};
  for (const auto& c : cases) {
    auto row = Setting("V1", "301", "D01", "E01");
    if (c.remove) {
      auto copy = objlib::KeyedRecord::New();
      for (std::size_t i = 0; i < row->size(); ++i)
        if (row->KeyAt(i) != c.column) copy->SetValue(row->KeyAt(i), row->ValueAt(i));
      row = copy;
    } else {
      row->SetValue(c.column, Variant::Null());
    }
    auto e = ErrorOf([&] { Append(List({row})); });
    EXPECT_EQ(e.Number(), 10000) << c.what;
    EXPECT_TRUE(Settings().empty()) << c.what;
  }
}

TEST_F(ChangesTest, AppendOfAnExistingKeyStopsAtThatElement) {
  Append(List({Setting("V1", "301", "D01", "E01")}));
  auto rows = List({Setting("V1", "301", "D02", "E01"), Setting("V1", "301", "D01", "E01")});

  EXPECT_EQ(ErrorOf([&] { Append(rows, true); }).Number(), 10007);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r"})) << "bMts True: nothing of the call stays";

  EXPECT_EQ(ErrorOf([&] { Append(rows, false); }).Number(), 10007);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r", "V1|301|D02|E01|r"}))
      << "bMts False: the elements before the failing one stay";
}

TEST_F(ChangesTest, AppendOfAnElementWithoutDescribedColumnsWritesNothingForIt) {
  auto stranger = Record({{"Unrelated", 1}});
  Append(List({stranger, Setting("V1", "301", "D01", "E01")}));
  EXPECT_EQ(Settings().size(), 1u);
}

TEST_F(ChangesTest, UpdateKeepsStoredColumnsAndChecksTheKey) {
  auto first = Setting("V1", "301", "D01", "E01", "old");
  first->SetValue("FAcctID", 1001);
  first->SetValue("FAcctName", "Cash");
  Append(List({first, Setting("V1", "301", "D02", "E01")}));

  // Only the remark is given: every other stored column stays.
  Update(Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"},
                 {"FRemark", "ignored filter column"}}),
         List({Record({{"FRemark", "new"}}), Record({{"FRemark", "second element is not read"}})}));
  EXPECT_EQ(Column("FRemark || '/' || FAcctID || '/' || FAcctName", "FExpDeptID='D01'"), "new/1001/Cash");

  auto incomplete = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}});
  EXPECT_EQ(ErrorOf([&] { Update(incomplete, List({Record({{"FRemark", "x"}})})); }).Number(), 1);

  auto missing = Record({{"FVchClass", "V9"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
  EXPECT_EQ(ErrorOf([&] { Update(missing, List({Record({{"FRemark", "x"}})})); }).Number(), 10010);

  auto key = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
  EXPECT_EQ(ErrorOf([&] { Update(key, List({Record({{"FExpDeptID", "D02"}})})); }).Number(), 10007)
      << "moving the key onto another row";
  EXPECT_EQ(Column("FRemark", "FExpDeptID='D01'"), "new");
}

TEST_F(ChangesTest, DeleteByPartOfTheKeyOrRefusesAFilterWithoutDescribedColumns) {
  Append(List({Setting("V1", "301", "D01", "E01"), Setting("V2", "301", "D01", "E01"),
               Setting("V1", "302", "D01", "E01")}));
  Delete(Record({{"FTypeID", "301"}}));
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|302|D01|E01|r"}));

  EXPECT_EQ(ErrorOf([&] { Delete(Record({{"Unrelated", 1}})); }).Number(), 5);
  EXPECT_EQ(Settings().size(), 1u);
}

TEST_F(ChangesTest, UpdateInsertReplacesTheVoucherClassOfTheFirstElement) {
  Append(List({Setting("V1", "301", "D01", "E01"), Setting("V1", "202", "A01", "E02"),
               Setting("V2", "301", "D01", "E01")}));
  UpdateInsert(List({Setting("V1", "302", "D09", "E09", "new")}));
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|302|D09|E09|new", "V2|301|D01|E01|r"}));
}

TEST_F(ChangesTest, UpdateInsertThatFailsLeavesTheClassOnlyWhenItVotes) {
  Append(List({Setting("V1", "301", "D01", "E01")}));
  const std::vector<std::string> before = Settings();
  // The second element repeats the first one's key: its insert fails.
  auto rows = List({Setting("V1", "302", "D01", "E01", "first"), Setting("V1", "302", "D01", "E01", "dup")});

  EXPECT_EQ(ErrorOf([&] { UpdateInsert(rows, true); }).Number(), 10007);
  EXPECT_EQ(Settings(), before) << "bMts True: the class is as it was";

  EXPECT_EQ(ErrorOf([&] { UpdateInsert(rows, false); }).Number(), 10007);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|302|D01|E01|first"}))
      << "bMts False: the class is gone and the first element written";
}

TEST_F(ChangesTest, ClientRecordsAndListsAreNeverModified) {
  auto row = Setting("V1", "301", "D01", "E01");
  row->SetValue("FAcctID", "12");
  auto rows = List({row});
  Append(rows);
  EXPECT_EQ(row->Value("FAcctID"), Variant("12"));
  EXPECT_FALSE(row->Lookup("FGroupID")) << "the default went into the builder's clone only";

  auto filter = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"},
                        {"FRemark", "extra"}});
  Update(filter, List({Record({{"FRemark", "changed"}})}));
  EXPECT_EQ(filter->Count(), 5) << "the filter keeps its extra entry";
  EXPECT_EQ(rows->UBound(), 1);
}

TEST_F(ChangesTest, RightsAreCheckedForAppendAndUpdateInsertOnly) {
  const std::string stranger = Dsn("en", 42);
  auto rows = List({Setting("V1", "301", "D01", "E01")});
  auto denied = ErrorOf([&] { automation::Call(*update_, "Append", stranger, rows, true); });
  EXPECT_EQ(denied.Number(), 70);
  EXPECT_NE(denied.Description().find("42"), std::string::npos) << denied.Description();
  EXPECT_EQ(ErrorOf([&] { automation::Call(*update_, "UpdateInsert", stranger, rows, true); }).Number(), 70);
  EXPECT_TRUE(Settings().empty());

  Append(rows);
  auto key = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
  automation::Call(*update_, "Update", stranger, key, List({Record({{"FRemark", "by stranger"}})}), true);
  EXPECT_EQ(Column("FRemark"), "by stranger");
  automation::Call(*update_, "Delete", stranger, key, true);
  EXPECT_TRUE(Settings().empty());
}

}  // namespace
}  // namespace morvane::testing
