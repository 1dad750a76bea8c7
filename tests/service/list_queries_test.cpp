// The four list queries on a small fixture database, through the runtime.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "components/objlib/record_access.h"
#include "service/list_queries.h"
#include "testing/service_fixture.h"

namespace morvane::testing {
namespace {

using objlib::KeyedRecord;
using objlib::RecordList;

class ListQueriesTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    Exec("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES ('D01','Machining',0),('D02','Assembly',0),"
         "('A01','Power',1),('A02','Repair',1)");
    Exec("INSERT INTO CB_BmExpense (FID,FName) VALUES ('E01','Wages'),('E02','Depreciation')");
    // Category 301: two voucher classes on D01.
    Exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID,FExpenseName,FAcctID,FRemark,"
         "FGroupID,FGroupName) VALUES ('V1','301','D01','X1','Exp X1',1001,'base',7,'G7'),"
         "('V2','301','D01','X2','Exp X2',1002,'base2',NULL,NULL)");
    // Category 302 on the pseudo expense; 201 and 202 on one pair each.
    Exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID,FAcctID,FRemark,FGroupID) VALUES "
         "('V1','302','D02','AssistExpenseID',3002,'assist',3),('V1','201','A01','D02',2001,'ass',1),"
         "('V1','202','A02','E01',4001,'alend',2)");
    info_ = Create("Morvane.VchTempSetInfo");
  }

  std::shared_ptr<RecordList> List(const char* method, const std::string& language = "chs") {
    Variant v = automation::Call(*info_, method, Dsn(language));
    auto list = std::dynamic_pointer_cast<RecordList>(v.object());
    EXPECT_TRUE(list) << method << " did not return a RecordList";
    return list;
  }
  static std::shared_ptr<KeyedRecord> Row(const std::shared_ptr<RecordList>& list, int i) {
    return std::dynamic_pointer_cast<KeyedRecord>(list->Item(i).object());
  }
  // "dept/expense" of every row, in list order.
  static std::vector<std::string> Pairs(const std::shared_ptr<RecordList>& list) {
    std::vector<std::string> out;
    for (int i = 1; i <= list->UBound(); ++i) {
      auto r = Row(list, i);
      Variant e = r->Value("FExpenseID");
      out.push_back(r->Value("FExpDeptID").text() + "/" + (e.IsNull() ? "NULL" : e.text()));
    }
    return out;
  }

  DispatchPtr info_;
};

TEST_F(ListQueriesTest, KeysAreSpelledAsEachQueryNamesThem) {
  const std::vector<std::string> tail = {"FTypeName",  "FExpDeptID",   "FExpDeptName",   "FExpenseID",
                                         "FExpenseName", "FAcctID",    "FAcctName",      "FItemClassID",
                                         "FItemClassName", "FItemID",  "FItemName",      "FRemark",
                                         "FGroupID",   "FGroupName"};
  const struct {
    const char* method;
    const char* first;
  } cases[] = {{"GetBaseList", "FTypeID"}, {"GetAssList", "FTYPEID"}, {"GetBLendList", "FTypeID"},
               {"GetALendList", "FTYPEID"}};
  for (const auto& c : cases) {
    auto list = List(c.method);
    ASSERT_GT(list->UBound(), 0) << c.method;
    auto row = Row(list, 1);
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < row->size(); ++i) keys.push_back(row->KeyAt(i));
    std::vector<std::string> expected = {c.first};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(keys, expected) << c.method;
  }
}

TEST_F(ListQueriesTest, RowsAndOrderOfEachCategory) {
  auto base = List("GetBaseList");
  // D01 has a setting in each of two voucher classes: one row each; D02 has none.
  EXPECT_EQ(base->UBound(), 3);
  std::vector<std::string> basePairs = Pairs(base);
  std::sort(basePairs.begin(), basePairs.begin() + 2);
  EXPECT_EQ(basePairs, (std::vector<std::string>{"D01/X1", "D01/X2", "D02/NULL"}));

  EXPECT_EQ(Pairs(List("GetAssList")), (std::vector<std::string>{"A01/D01", "A01/D02", "A02/D01", "A02/D02"}));
  EXPECT_EQ(Pairs(List("GetBLendList")),
            (std::vector<std::string>{"D01/AssistExpenseID", "D01/E01", "D01/E02", "D02/AssistExpenseID",
                                      "D02/E01", "D02/E02"}));
  EXPECT_EQ(Pairs(List("GetALendList")), (std::vector<std::string>{"A01/E01", "A01/E02", "A02/E01", "A02/E02"}));
}

TEST_F(ListQueriesTest, SettingsJoinTheirPairAndNullGroupsBecomeZero) {
  auto ass = List("GetAssList");
  auto joined = Row(ass, 2);  // A01/D02
  EXPECT_EQ(joined->Value("FAcctID"), Variant(std::int32_t{2001}));
  EXPECT_EQ(joined->Value("FGroupID"), Variant(std::int32_t{1}));
  auto empty = Row(ass, 1);  // A01/D01: no setting
  EXPECT_TRUE(empty->Value("FAcctID").IsNull());
  EXPECT_TRUE(empty->Value("FRemark").IsNull());
  EXPECT_EQ(empty->Value("FGroupID"), Variant(std::int32_t{0}));
  EXPECT_EQ(empty->Value("FGroupName"), Variant(std::int32_t{0})) << "the name becomes the number 0 too";

  auto blend = List("GetBLendList");
  auto assist = Row(blend, 4);  // D02/AssistExpenseID holds a setting
  EXPECT_EQ(assist->Value("FAcctID"), Variant(std::int32_t{3002}));
  EXPECT_EQ(assist->Value("FGroupName"), Variant(std::int32_t{0}));

  auto base = List("GetBaseList");
  for (int i = 1; i <= base->UBound(); ++i) {
    EXPECT_FALSE(Row(base, i)->Value("FGroupID").IsNull());
    EXPECT_FALSE(Row(base, i)->Value("FGroupName").IsNull());
  }
}

TEST_F(ListQueriesTest, CategoryAndPseudoExpenseNamesAreLocalised) {
  const struct {
    const char* language;
    const char* typeName;
    const char* assistName;
  } cases[] = {{"chs", "制造费用", "辅助费用"}};
  for (const auto& c : cases) {
    auto blend = List("GetBLendList", c.language);
    EXPECT_EQ(Row(blend, 1)->Value("FTypeName").text(), c.typeName) << c.language;
    EXPECT_EQ(Row(blend, 1)->Value("FExpenseName").text(), c.assistName) << c.language;
  }
  for (const char* language : {"cht", "en"}) {
    auto blend = List("GetBLendList", language);
    const std::string typeName = Row(blend, 1)->Value("FTypeName").text();
    const std::string assistName = Row(blend, 1)->Value("FExpenseName").text();
    EXPECT_FALSE(typeName.empty()) << language;
    EXPECT_NE(typeName, "制造费用") << language << ": the category name is translated";
    EXPECT_NE(assistName, "辅助费用") << language << ": the pseudo expense is translated";
  }
}

TEST_F(ListQueriesTest, CategoryWithoutDepartmentsGivesAnEmptyList) {
  Exec("DELETE FROM CB_BmExpDept WHERE FType = 1");
  EXPECT_EQ(List("GetAssList")->UBound(), 0);
  EXPECT_EQ(List("GetALendList")->UBound(), 0);
  EXPECT_GT(List("GetBaseList")->UBound(), 0);
}

TEST_F(ListQueriesTest, TranslationsHoldingAnApostropheWork) {
  const std::filesystem::path folder = dir_ / "resources";
  std::filesystem::create_directories(folder / "TorCost");
  std::ofstream(folder / "TorCost" / "en.po")
      << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
      << "msgid \"制造费用\"\nmsgstr \"Maker's expense\"\n\n"
      << "msgid \"辅助费用\"\nmsgstr \"Assistant's expense\"\n";
  ::setenv("MORVANE_RESOURCES", folder.c_str(), 1);
  auto blend = List("GetBLendList", "en");
  ::unsetenv("MORVANE_RESOURCES");
  ASSERT_EQ(blend->UBound(), 6);
  EXPECT_EQ(Row(blend, 1)->Value("FTypeName").text(), "Maker's expense");
  EXPECT_EQ(Row(blend, 1)->Value("FExpenseName").text(), "Assistant's expense");
  EXPECT_EQ(Row(blend, 4)->Value("FAcctID"), Variant(std::int32_t{3002})) << "the pseudo expense still joins";
}

TEST(ListQuerySql, QuotesInLocalisedNamesAreDoubled) {
  EXPECT_EQ(service::QuoteLiteral("Assistant's"), "Assistant''s");
  const std::string sql = service::BLendListSql("Manufacturer's", "x' OR '1'='1");
  EXPECT_NE(sql.find("'Manufacturer''s' AS FTypeName"), std::string::npos);
  EXPECT_NE(sql.find("'x'' OR ''1''=''1' AS FName"), std::string::npos);
}

}  // namespace
}  // namespace morvane::testing
