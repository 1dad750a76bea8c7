// The four lists and the four changes through the runtime, the same on every backend: the same
// rows in the same order, keys spelled as the statements name them, the same values and types.
#include <gtest/gtest.h>

#include "backend_fixture.h"

namespace morvane::integration {
namespace {

using objlib::KeyedRecord;
using objlib::RecordList;

class ListsTest : public BackendTest {
 protected:
  std::shared_ptr<RecordList> Query(const char* method, const std::string& language = "chs") {
    auto info = mts::CreateObject("Morvane.VchTempSetInfo");
    const Variant v = automation::Call(*info, method, Dsn(language));
    auto list = std::dynamic_pointer_cast<RecordList>(v.object());
    EXPECT_TRUE(list) << method << " did not return a RecordList";
    return list;
  }
  static std::shared_ptr<KeyedRecord> Row(const std::shared_ptr<RecordList>& list, int i) {
    return std::dynamic_pointer_cast<KeyedRecord>(list->Item(i).object());
  }
  static std::string Text(const Variant& v) { return v.IsNull() ? "NULL" : automation::ToText(v); }
  // "dept/expense/remark/group" of every row, in list order.
  static std::vector<std::string> Lines(const std::shared_ptr<RecordList>& list) {
    std::vector<std::string> out;
    for (int i = 1; i <= list->UBound(); ++i) {
      auto r = Row(list, i);
      out.push_back(Text(r->Value("FExpDeptID")) + "/" + Text(r->Value("FExpenseID")) + "/" +
                    Text(r->Value("FRemark")) + "/" + Text(r->Value("FGroupID")));
    }
    return out;
  }
};

TEST_P(ListsTest, EveryListGivesTheSameRowsKeysAndTypes) {
  const std::vector<std::string> tail = {"FTypeName", "FExpDeptID", "FExpDeptName", "FExpenseID",     "FExpenseName",
                                         "FAcctID",   "FAcctName",  "FItemClassID", "FItemClassName", "FItemID",
                                         "FItemName", "FRemark",    "FGroupID",     "FGroupName"};
  struct Case {
    const char* method;
    const char* firstKey;
    const char* typeName;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"GetBaseList", "FTypeID", "成本项目", {"01/101/一车间耗用材料/1", "02/102/二车间人工/1", "03/101/装配材料/0"}},
      {"GetAssList",
       "FTYPEID",
       "辅助生产费用",
       {"11/01/机修费用分配/2", "11/02/NULL/0", "11/03/NULL/0", "12/01/NULL/0", "12/02/NULL/0", "12/03/NULL/0"}},
      {"GetBLendList",
       "FTypeID",
       "制造费用",
       {"01/501/NULL/0", "01/502/车间折旧/0", "01/503/NULL/0", "01/504/NULL/0", "01/AssistExpenseID/辅助费用转入/0",
        "02/501/二车间管理人员工资/0", "02/502/NULL/0", "02/503/NULL/0", "02/504/NULL/0", "02/AssistExpenseID/NULL/0",
        "03/501/NULL/0", "03/502/NULL/0", "03/503/NULL/0", "03/504/NULL/0", "03/AssistExpenseID/NULL/0"}},
      {"GetALendList",
       "FTYPEID",
       "辅助生产费用",
       {"11/501/NULL/0", "11/502/NULL/0", "11/503/NULL/0", "11/504/机修物料/2", "12/501/NULL/0", "12/502/NULL/0",
        "12/503/供电水电费/2", "12/504/NULL/0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    auto list = Query(c.method);
    ASSERT_TRUE(list);
    EXPECT_EQ(Lines(list), c.lines);
    ASSERT_GE(list->UBound(), 1);
    auto first = Row(list, 1);
    std::vector<std::string> keys;
    for (std::size_t k = 0; k < first->size(); ++k) keys.push_back(first->KeyAt(k));
    std::vector<std::string> expected = {c.firstKey};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(keys, expected) << "keys are spelled as the statement names them";
    EXPECT_EQ(first->Value("FTypeName"), Variant(c.typeName));
    for (int i = 1; i <= list->UBound(); ++i) {
      EXPECT_EQ(Row(list, i)->Value("FGroupID").vt(), automation::VT_I4) << i;
      const Variant acct = Row(list, i)->Value("FAcctID");
      EXPECT_TRUE(acct.IsNull() || acct.vt() == automation::VT_I4) << i;
    }
  }
  // A joined row carries the setting's columns, in their types.
  auto base = Query("GetBaseList");
  EXPECT_EQ(Row(base, 1)->Value("FAcctID"), Variant(std::int32_t{4101}));
  EXPECT_EQ(Row(base, 1)->Value("FExpDeptName"), Variant("一车间"));
  EXPECT_EQ(Row(base, 1)->Value("FGroupName"), Variant("基本生产"));
}

TEST_P(ListsTest, NamesAreTranslatedForTheCallersLanguage) {
  auto blend = Query("GetBLendList", "en");
  ASSERT_TRUE(blend);
  const std::string typeName = Row(blend, 1)->Value("FTypeName").text();
  EXPECT_FALSE(typeName.empty());
  EXPECT_NE(typeName, "制造费用");
  EXPECT_EQ(Lines(blend).size(), 15u);
}

TEST_P(ListsTest, ChangesThroughTheRuntimeWriteWhatTheyShould) {
  auto update = mts::CreateObject("Morvane.VchTempSetUpdate");
  auto first = Setting("V1", "301", "01", "101", "第一条");
  first->SetValue("FAcctID", "4101");  // text converted to the integer column
  automation::Call(*update, "Append", Dsn(), List({first, Setting("V1", "302", "01", "502")}), true);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|01|101|第一条", "V1|302|01|502|r"}));
  EXPECT_EQ(
      Rows("SELECT FAcctID, FGroupID, FGroupName FROM CB_CostVchTempSet WHERE FVchClass = 'V1' AND FTypeID = '301'"),
      (std::vector<std::string>{"4101|0|NULL"}))
      << "the default of an absent required column; absent optional ones stay NULL";

  automation::Call(*update, "Update", Dsn(),
                   Record({{"FVchClass", "V1"}, {"FTypeID", "302"}, {"FExpDeptID", "01"}, {"FExpenseID", "502"}}),
                   List({Record({{"FRemark", "改过"}})}), true);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|01|101|第一条", "V1|302|01|502|改过"}));

  automation::Call(*update, "Delete", Dsn(), Record({{"FVchClass", "V1"}, {"FTypeID", "301"}}), true);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|302|01|502|改过"}));

  automation::Call(*update, "UpdateInsert", Dsn(),
                   List({Setting("V1", "202", "11", "501", "new"), Setting("V1", "202", "12", "501", "new2")}), true);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|202|11|501|new", "V1|202|12|501|new2"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CB_CostVchTempSet").at(0), "11") << "the sample rows are untouched";

  // The list shows the new setting.
  auto alend = std::dynamic_pointer_cast<RecordList>(
      automation::Call(*mts::CreateObject("Morvane.VchTempSetInfo"), "GetALendList", Dsn()).object());
  ASSERT_TRUE(alend);
  EXPECT_EQ(Lines(alend).at(0), "11/501/new/0");
}

INSTANTIATE_TEST_SUITE_P(Integration, ListsTest, ::testing::ValuesIn(kBackends), BackendName);

}  // namespace
}  // namespace morvane::integration
