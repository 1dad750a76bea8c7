#include "components/objlib/record_conversion.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/automation/dispatch.h"

namespace morvane::objlib {

namespace {

// The key names of a recordset's columns and, for each column, the key it writes. Two columns
// whose names differ only in letter case write one key (the first spelling, at the first
// position) and the later column's value wins, as writing Value twice under one key does.
struct RowShape {
  std::shared_ptr<const KeyTable> keys;
  std::vector<std::size_t> keyOfColumn;
};

RowShape ShapeOf(const db::Recordset& rs) {
  auto keys = std::make_shared<KeyTable>();
  RowShape shape;
  shape.keyOfColumn.reserve(rs.Columns().size());
  for (const db::ColumnInfo& column : rs.Columns()) {
    const std::ptrdiff_t found = keys->Find(column.name);
    shape.keyOfColumn.push_back(found >= 0 ? static_cast<std::size_t>(found) : keys->Add(column.name));
  }
  shape.keys = std::move(keys);
  return shape;
}

}  // namespace

std::shared_ptr<KeyedRecord> RowToKeyedRecord(db::Recordset& rs) {
  const RowShape shape = ShapeOf(rs);
  std::vector<Variant> values(shape.keys->size());
  const db::Fields fields = rs.GetFields();
  for (std::size_t column = 0; column < shape.keyOfColumn.size(); ++column)
    values[shape.keyOfColumn[column]] = fields.Item(static_cast<std::int32_t>(column)).Value();
  return std::make_shared<KeyedRecord>(shape.keys, std::move(values));
}

// The values are moved out of the recordset's rows rather than copied: the recordset is left at
// its end, and a list of many rows then holds its values once, not twice. When every column
// writes its own key in column order (no two names differ only in letter case), a row's vector
// of values becomes the record's as it stands, so no row is ever held twice.
std::shared_ptr<RecordList> RecordsetToList(db::Recordset& rs) {
  auto list = RecordList::New();
  const std::int32_t count = rs.RecordCount();
  if (count != 0) rs.MoveFirst();
  if (count > 0) list->Reserve(static_cast<std::size_t>(count));

  const RowShape shape = ShapeOf(rs);
  bool inColumnOrder = shape.keys->size() == shape.keyOfColumn.size();
  for (std::size_t column = 0; inColumnOrder && column < shape.keyOfColumn.size(); ++column)
    inColumnOrder = shape.keyOfColumn[column] == column;

  while (!rs.IsEOF()) {
    std::vector<Variant>& row = rs.CurrentRow();
    std::vector<Variant> values;
    if (inColumnOrder && row.size() == shape.keys->size()) {
      values = std::exchange(row, std::vector<Variant>());
    } else {
      values.resize(shape.keys->size());
      const std::size_t columns = std::min(row.size(), shape.keyOfColumn.size());
      for (std::size_t column = 0; column < columns; ++column)
        values[shape.keyOfColumn[column]] = std::exchange(row[column], Variant());
    }
    list->Add(Variant(automation::DispatchPtr(std::make_shared<KeyedRecord>(shape.keys, std::move(values)))));
    rs.MoveNext();
  }
  return list;
}

}  // namespace morvane::objlib
