#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/automation/error.h"
#include "components/objlib/record_conversion.h"
#include "platform/db/ado_constants.h"

namespace morvane::objlib {
namespace {

using automation::Variant;

std::shared_ptr<db::Recordset> RecordsetOf(std::vector<std::string> names, std::vector<std::vector<Variant>> rows) {
  db::ResultSet result;
  for (auto& name : names) result.columns.push_back(db::ColumnInfo{std::move(name), db::adVarWChar});
  result.rows = std::move(rows);
  return db::Recordset::FromResult(std::move(result));
}

const objlib::KeyedRecord& RecordAt(const objlib::RecordList& list, std::int32_t index) {
  return dynamic_cast<const objlib::KeyedRecord&>(*list.Item(index).object());
}

TEST(RecordsetToList, NoRowsGiveAnEmptyList) {
  const auto rs = RecordsetOf({"FExpDeptID", "FExpenseID"}, {});
  const auto list = RecordsetToList(*rs);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->UBound(), 0);
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_TRUE(rs->IsOpen());
}

TEST(RecordsetToList, OneRecordPerRowFromTheFirstRow) {
  const auto rs = RecordsetOf({"FExpDeptID", "FName", "FGroup"},
                              {{Variant(std::int32_t{1}), Variant("生产部"), Variant::Null()},
                               {Variant(std::int32_t{2}), Variant("辅助车间"), Variant(std::int32_t{7})},
                               {Variant(std::int32_t{3}), Variant(""), Variant::Null()}});
  rs->MoveNext();  // the list still starts at the first row
  const auto list = RecordsetToList(*rs);
  EXPECT_TRUE(rs->IsEOF());
  ASSERT_EQ(list->UBound(), 3);

  const std::vector<std::vector<Variant>> expected = {
      {Variant(std::int32_t{1}), Variant("生产部"), Variant::Null()},
      {Variant(std::int32_t{2}), Variant("辅助车间"), Variant(std::int32_t{7})},
      {Variant(std::int32_t{3}), Variant(""), Variant::Null()}};
  for (std::int32_t i = 1; i <= 3; ++i) {
    const auto& record = RecordAt(*list, i);
    ASSERT_EQ(record.size(), 3u) << "row " << i;
    EXPECT_EQ(record.KeyAt(0), "FExpDeptID");
    EXPECT_EQ(record.KeyAt(1), "FName");
    EXPECT_EQ(record.KeyAt(2), "FGroup");
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(record.ValueAt(k), expected[i - 1][k]) << "row " << i << " key " << k;
    EXPECT_EQ(record.Value("fname"), expected[i - 1][1]) << "row " << i;
  }
  // The records of one recordset share their key names rather than copying them per row.
  EXPECT_EQ(&RecordAt(*list, 1).KeyAt(1), &RecordAt(*list, 3).KeyAt(1));
}

TEST(RecordsetToList, RecordsStayIndependentDespiteSharedKeys) {
  const auto rs = RecordsetOf({"FID", "FGroup"}, {{Variant(std::int32_t{1}), Variant::Null()},
                                                  {Variant(std::int32_t{2}), Variant::Null()}});
  const auto list = RecordsetToList(*rs);
  auto& first = dynamic_cast<objlib::KeyedRecord&>(*list->Item(1).object());
  first.SetValue("FGroup", Variant(std::int32_t{0}));
  first.SetValue("FExtra", Variant("x"));
  const auto& second = RecordAt(*list, 2);
  EXPECT_TRUE(second.Value("FGroup").IsNull());
  EXPECT_FALSE(second.Lookup("FExtra"));
  EXPECT_EQ(second.size(), 2u);
}

TEST(RecordsetToList, ColumnsOfOneNameWriteOneKey) {
  // As writing Value twice under one key: the first spelling and position, the later value.
  const auto rs = RecordsetOf({"FID", "FName", "fid"}, {{Variant(std::int32_t{1}), Variant("a"), Variant(std::int32_t{9})}});
  const auto list = RecordsetToList(*rs);
  const auto& record = RecordAt(*list, 1);
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record.KeyAt(0), "FID");
  EXPECT_EQ(record.ValueAt(0), Variant(std::int32_t{9}));
  EXPECT_EQ(record.ValueAt(1), Variant("a"));

  const auto again = RecordsetOf({"FID", "FName", "fid"}, {{Variant(std::int32_t{1}), Variant("a"), Variant(std::int32_t{9})}});
  const auto single = RowToKeyedRecord(*again);
  ASSERT_EQ(single->size(), 2u);
  EXPECT_EQ(single->Value("FID"), Variant(std::int32_t{9}));
}

TEST(RecordsetToList, TheRecordsetsFieldsReadEmptyAfterwards) {
  // The values move into the records (a row's whole vector when the columns map one to one onto
  // keys, value by value otherwise); reading the recordset again gives Empty, never stale data.
  const std::vector<std::vector<std::string>> shapes = {{"FID", "FName"}, {"FID", "FName", "fid"}};
  for (const auto& names : shapes) {
    std::vector<Variant> row;
    for (std::size_t c = 0; c < names.size(); ++c) {
      // Named first: GCC 12 warns (-Wrestrict) at -O3 on "v" + std::to_string(...).
      const std::string number = std::to_string(c);
      row.push_back(Variant("v" + number));
    }
    const auto rs = RecordsetOf(names, {row, row});
    const auto list = RecordsetToList(*rs);
    ASSERT_EQ(list->UBound(), 2) << names.size() << " columns";
    EXPECT_EQ(RecordAt(*list, 2).Value("FName"), Variant("v1")) << names.size() << " columns";
    rs->MoveFirst();
    for (std::int32_t c = 0; c < rs->GetFields().Count(); ++c)
      EXPECT_TRUE(rs->GetFields().Item(c).Value().IsEmpty()) << names.size() << " columns, column " << c;
  }
}

TEST(RowToKeyedRecord, CopiesTheCurrentRowAndLeavesTheRecordsetWhereItIs) {
  const auto rs = RecordsetOf({"FTypeID", "FSize"}, {{Variant("301"), Variant(std::int32_t{10})},
                                                     {Variant("302"), Variant(std::int32_t{20})}});
  rs->MoveNext();
  const auto record = RowToKeyedRecord(*rs);
  EXPECT_EQ(record->Value("FTypeID"), Variant("302"));
  EXPECT_EQ(record->Value("FSize"), Variant(std::int32_t{20}));
  EXPECT_EQ(rs->position(), 1u);
  EXPECT_EQ(rs->GetFields().Item("FTypeID").Value(), Variant("302"));

  rs->MoveNext();
  try {
    RowToKeyedRecord(*rs);
    ADD_FAILURE() << "no error at end of file";
  } catch (const automation::Error& e) {
    EXPECT_EQ(e.Number(), 3021);
  }
}

}  // namespace
}  // namespace morvane::objlib
