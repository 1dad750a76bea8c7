// The language entry of a description, whatever the letter case of its key, chooses the language
// of the error texts the changes raise and of the names the lists translate.
#include <gtest/gtest.h>

#include <string>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "testing/service_fixture.h"

namespace morvane::testing {
namespace {

class DescriptionLanguageTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    Exec("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES ('D01','Machining',0),('A01','Power',1)");
    Exec("INSERT INTO CB_BmExpense (FID,FName) VALUES ('E01','Wages')");
    update_ = Create("Morvane.VchTempSetUpdate");
    info_ = Create("Morvane.VchTempSetInfo");
  }

  // The fixture's description in `language`, its language entry keyed `key`.
  std::string DsnKeyed(const std::string& key, const std::string& language) const {
    std::string dsn = Dsn(language);
    const std::string entry = ";LANGUAGE=";
    dsn.replace(dsn.find(entry), entry.size(), ";" + key + "=");
    return dsn;
  }

  // The records of a list query.
  std::shared_ptr<objlib::RecordList> Query(const char* method, const std::string& dsn) {
    auto list = std::dynamic_pointer_cast<objlib::RecordList>(automation::Call(*info_, method, dsn).object());
    EXPECT_TRUE(list && list->UBound() > 0) << method << " gave no rows";
    return list;
  }
  static std::shared_ptr<objlib::KeyedRecord> Row(const std::shared_ptr<objlib::RecordList>& list, int i) {
    return std::dynamic_pointer_cast<objlib::KeyedRecord>(list->Item(i).object());
  }
  // A text column of the list's first row ("" when the list is empty).
  std::string FirstText(const char* method, const std::string& dsn, const char* column) {
    auto list = Query(method, dsn);
    return list && list->UBound() > 0 ? Row(list, 1)->Value(column).text() : "";
  }

  DispatchPtr update_;
  DispatchPtr info_;
};

TEST_F(DescriptionLanguageTest, ErrorTextsAndListNamesFollowTheLanguageEntryWhateverItsLetterCase) {
  struct Language {
    const char* id;
    // CB_BmErrCode's texts of 10000 (a value is required) and 10007 (the record exists).
    const char* valueRequired;
    const char* recordExists;
    // The message of an update whose filter does not hold the whole key (number 1).
    const char* incompleteKey;
    // The names the lists give: categories 301, 302 and 201/202, and the pseudo expense.
    const char* costItem;
    const char* manufacturing;
    const char* auxiliaryProduction;
    const char* auxiliaryExpense;
  };
  const Language languages[] = {
      {"chs", "必须输入", "记录已经存在", "条件关键字不全", "成本项目", "制造费用", "辅助生产费用", "辅助费用"},
      {"cht", "必須輸入", "記錄已經存在", "條件關鍵字不全", "成本項目", "製造費用", "輔助生產費用", "輔助費用"},
      {"en", "A value is required", "The record already exists", "The condition does not hold every key field",
       "Cost item", "Manufacturing expense", "Auxiliary production expense", "Auxiliary expense"},
  };
  for (const char* key : {"LANGUAGE", "Language", "language"}) {
    for (const Language& l : languages) {
      SCOPED_TRACE(std::string(key) + "=" + l.id);
      const std::string dsn = DsnKeyed(key, l.id);

      auto unset = Setting("V1", "301", "D01", "E01");
      unset->SetValue("FGroupID", Variant::Null());
      const automation::Error required =
          ErrorOf([&] { automation::Call(*update_, "Append", dsn, DispatchPtr(List({unset})), true); });
      EXPECT_EQ(required.Number(), 10000);
      EXPECT_EQ(required.Source(), l.valueRequired);

      const auto row = List({Setting("V1", "301", "D01", "E01")});
      automation::Call(*update_, "Append", dsn, DispatchPtr(row), true);
      const automation::Error exists =
          ErrorOf([&] { automation::Call(*update_, "Append", dsn, DispatchPtr(row), true); });
      EXPECT_EQ(exists.Number(), 10007);
      EXPECT_EQ(exists.Source(), l.recordExists);

      const auto partKey = Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}});
      const auto values = List({Record({{"FRemark", "x"}})});
      const automation::Error incomplete = ErrorOf(
          [&] { automation::Call(*update_, "Update", dsn, DispatchPtr(partKey), DispatchPtr(values)); });
      EXPECT_EQ(incomplete.Number(), 1);
      EXPECT_EQ(incomplete.Source(), l.incompleteKey);
      Exec("DELETE FROM CB_CostVchTempSet");

      EXPECT_EQ(FirstText("GetBaseList", dsn, "FTypeName"), l.costItem);
      EXPECT_EQ(FirstText("GetAssList", dsn, "FTypeName"), l.auxiliaryProduction);
      EXPECT_EQ(FirstText("GetALendList", dsn, "FTypeName"), l.auxiliaryProduction);
      auto blend = Query("GetBLendList", dsn);
      int pseudo = 0;
      for (int i = 1; blend && i <= blend->UBound(); ++i) {
        EXPECT_EQ(Row(blend, i)->Value("FTypeName").text(), l.manufacturing);
        if (Row(blend, i)->Value("FExpenseID").text() != "AssistExpenseID") continue;
        ++pseudo;
        EXPECT_EQ(Row(blend, i)->Value("FExpenseName").text(), l.auxiliaryExpense);
      }
      EXPECT_EQ(pseudo, 1) << "one department, so one row of the pseudo expense";
    }
  }
}

}  // namespace
}  // namespace morvane::testing
