// Recordset: the rows of a statement, read in full (client-side). Fields of the current row by
// index or by name, EOF/MoveFirst/MoveNext, an exact RecordCount. Column types are data type
// codes (DataTypeEnum). One Recordset is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/db/command.h"

namespace morvane::db {

class Recordset;

// One column of the current row.
class Field {
 public:
  Field(const Recordset* rs, std::size_t column) : rs_(rs), column_(column) {}
  const std::string& Name() const;
  int Type() const;  // DataTypeEnum
  // The current row's value; raises 3021 "Either BOF or EOF is True, or the current record has
  // been deleted." when there is no current row.
  const Variant& Value() const;

 private:
  const Recordset* rs_;
  std::size_t column_;
};

class Fields {
 public:
  explicit Fields(const Recordset* rs) : rs_(rs) {}
  std::int32_t Count() const;
  // The field at a 0-based index, or by name (letter case ignored). Raises 3265 when there is no
  // such field, 3704 when the recordset is closed.
  Field Item(std::int32_t index) const;
  Field Item(std::string_view name) const;

 private:
  const Recordset* rs_;
};

class Recordset {
 public:
  static std::shared_ptr<Recordset> New() { return std::make_shared<Recordset>(); }
  // A recordset already holding a statement's result (what Execute returns).
  static std::shared_ptr<Recordset> FromResult(ResultSet result);

  int CursorLocation = adUseServer;

  // Runs `source` on the active connection (a Connection, or a connection string from which it
  // opens a connection of its own and gives it back once every row is read) and reads every row;
  // options adCmdTable reads every row of the table `source` names. Raises 3705 when already open,
  // 3709 without an open active connection, and the database's error.
  void Open(std::string_view source, const ActiveConnectionSource& activeConnection,
            int cursorType = adOpenUnspecified, int lockType = adLockUnspecified, int options = adOptionUnspecified);
  // Forgets the rows. No effect when closed.
  void Close();
  bool IsOpen() const { return open_; }

  bool IsEOF() const { return position_ >= result_.rows.size(); }
  bool IsBOF() const { return result_.rows.empty(); }
  void MoveFirst() { position_ = 0; }
  // Raises 3704 when closed, 3021 at end of file.
  void MoveNext();
  std::int32_t RecordCount() const { return static_cast<std::int32_t>(result_.rows.size()); }

  Fields GetFields() const { return Fields(this); }
  const std::vector<ColumnInfo>& Columns() const { return result_.columns; }
  // The current row's values, for converting rows without copying them one field at a time. A
  // converter may take the values away (leaving the vector empty); the row's fields then read
  // as Empty. REQUIRES: !IsEOF().
  std::vector<Variant>& CurrentRow() { return result_.rows[position_]; }
  const std::vector<Variant>& CurrentRow() const { return result_.rows[position_]; }
  std::size_t position() const { return position_; }

 private:
  ResultSet result_;
  std::size_t position_ = 0;
  bool open_ = false;
};

}  // namespace morvane::db
