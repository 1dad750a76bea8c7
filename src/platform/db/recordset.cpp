#include "platform/db/recordset.h"

#include <string>

#include "platform/automation/type_info.h"
#include "platform/db/data_error.h"

namespace morvane::db {

const std::string& Field::Name() const { return rs_->Columns()[column_].name; }

int Field::Type() const { return rs_->Columns()[column_].type; }

const Variant& Field::Value() const {
  if (!rs_->IsOpen()) RaiseDataError(adErrObjectClosed, "the recordset is closed");
  if (rs_->IsEOF()) RaiseDataError(adErrNoCurrentRecord, "field '" + Name() + "'");
  // A row whose values were handed over (CurrentRow() emptied) reads as Empty.
  static const Variant kEmpty;
  const std::vector<Variant>& row = rs_->CurrentRow();
  return column_ < row.size() ? row[column_] : kEmpty;
}

std::int32_t Fields::Count() const { return static_cast<std::int32_t>(rs_->Columns().size()); }

Field Fields::Item(std::int32_t index) const {
  if (!rs_->IsOpen()) RaiseDataError(adErrObjectClosed, "the recordset is closed");
  if (index < 0 || index >= Count()) RaiseDataError(adErrItemNotFound, "field " + std::to_string(index));
  return Field(rs_, static_cast<std::size_t>(index));
}

Field Fields::Item(std::string_view name) const {
  if (!rs_->IsOpen()) RaiseDataError(adErrObjectClosed, "the recordset is closed");
  const std::vector<ColumnInfo>& columns = rs_->Columns();
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (automation::EqualsIgnoreCase(columns[i].name, name)) return Field(rs_, i);
  RaiseDataError(adErrItemNotFound, "field '" + std::string(name) + "'");
}

std::shared_ptr<Recordset> Recordset::FromResult(ResultSet result) {
  auto rs = New();
  rs->result_ = std::move(result);
  rs->open_ = true;
  return rs;
}

void Recordset::Open(std::string_view source, const ActiveConnectionSource& activeConnection, int cursorType,
                     int lockType, int options) {
  if (open_) RaiseDataError(adErrObjectOpen, "the recordset is already open");
  const std::shared_ptr<Connection> connection = OpenActiveConnection(activeConnection);
  result_ = options == adCmdTable ? connection->ExecuteWith("SELECT * FROM " + std::string(source), {})
                                  : connection->ExecuteWith(source, {});
  position_ = 0;
  open_ = true;
}

void Recordset::Close() {
  result_ = ResultSet{};
  position_ = 0;
  open_ = false;
}

void Recordset::MoveNext() {
  if (!open_) RaiseDataError(adErrObjectClosed, "the recordset is closed");
  if (IsEOF()) RaiseDataError(adErrNoCurrentRecord, "MoveNext at end of file");
  ++position_;
}

}  // namespace morvane::db
