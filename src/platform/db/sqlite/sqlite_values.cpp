#include "platform/db/sqlite/sqlite_values.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/text.h"
#include "platform/db/ado_constants.h"
#include "platform/db/data_error.h"
#include "platform/db/sqlite/sqlite_error.h"

namespace morvane::db::sqlite {

namespace {

using automation::VarType;

// How a converted value is written beyond what its automation type says.
enum class Form { kPlain, kInt64, kDateOnly, kTimeOnly };

struct BindTarget {
  VarType vt;  // VT_EMPTY: the value's own type
  Form form = Form::kPlain;
};

std::string Context(std::size_t index, std::string_view sql) {
  std::string context = "parameter " + std::to_string(index + 1) + ", statement: ";
  context += sql;
  return context;
}

BindTarget TargetFor(int type, std::size_t index) {
  switch (type) {
    case adEmpty:
      return {automation::VT_EMPTY};
    case adSmallInt:
    case adTinyInt:
      return {automation::VT_I2};
    case adInteger:
      return {automation::VT_I4};
    case adUnsignedTinyInt:
      return {automation::VT_UI1};
    case adBoolean:
      return {automation::VT_BOOL};
    case adBigInt:
      return {automation::VT_R8, Form::kInt64};
    case adSingle:
      return {automation::VT_R4};
    case adDouble:
    case adDecimal:
    case adNumeric:
      return {automation::VT_R8};
    case adCurrency:
      return {automation::VT_CY};
    case adDate:
    case adDBTimeStamp:
      return {automation::VT_DATE};
    case adDBDate:
      return {automation::VT_DATE, Form::kDateOnly};
    case adDBTime:
      return {automation::VT_DATE, Form::kTimeOnly};
    case adBSTR:
    case adChar:
    case adWChar:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
    case adGUID:
      return {automation::VT_BSTR};
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
      return {automation::VT_BYTES};
    default:
      RaiseDataError(adErrInvalidArgument, "parameter " + std::to_string(index + 1) + " has the data type " +
                                               std::to_string(type) + ", which the SQLite provider cannot bind");
  }
}

std::string DateText(automation::Date date, Form form) {
  const automation::DateParts p = automation::SplitDate(date);
  char buffer[32];
  if (form == Form::kDateOnly)
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.year, p.month, p.day);
  else if (form == Form::kTimeOnly)
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  else
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
  return buffer;
}

// Binds a value already of its target type. `stable`: the value outlives the statement's run,
// so SQLite may use its text or bytes without copying them.
int BindValue(sqlite3_stmt* stmt, int marker, const Variant& v, Form form, bool stable) {
  switch (v.vt()) {
    case automation::VT_I2:
      return sqlite3_bind_int(stmt, marker, v.i2());
    case automation::VT_I4:
      return sqlite3_bind_int(stmt, marker, v.i4());
    case automation::VT_UI1:
      return sqlite3_bind_int(stmt, marker, v.ui1());
    case automation::VT_BOOL:
      return sqlite3_bind_int(stmt, marker, v.boolean() ? 1 : 0);
    case automation::VT_R4:
      return sqlite3_bind_double(stmt, marker, v.r4());
    case automation::VT_R8: {
      if (form != Form::kInt64) return sqlite3_bind_double(stmt, marker, v.r8());
      const double whole = std::nearbyint(v.r8());  // the default rounding: half to even
      if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0))
        automation::Raise(automation::errors::kOverflow);
      return sqlite3_bind_int64(stmt, marker, static_cast<sqlite3_int64>(whole));
    }
    case automation::VT_CY: {
      const std::string text = automation::ToText(v);
      return sqlite3_bind_text64(stmt, marker, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    case automation::VT_DATE: {
      const std::string text = DateText(v.date(), form);
      return sqlite3_bind_text64(stmt, marker, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    case automation::VT_BSTR:
      return sqlite3_bind_text64(stmt, marker, v.text().data(), v.text().size(),
                                 stable ? SQLITE_STATIC : SQLITE_TRANSIENT, SQLITE_UTF8);
    case automation::VT_BYTES:
      // A null pointer would bind NULL, so an empty array is bound as an empty blob.
      if (v.bytes().empty()) return sqlite3_bind_zeroblob(stmt, marker, 0);
      return sqlite3_bind_blob64(stmt, marker, v.bytes().data(), v.bytes().size(),
                                 stable ? SQLITE_STATIC : SQLITE_TRANSIENT);
    default:
      automation::Raise(automation::errors::kTypeMismatch, std::nullopt,
                        "Type mismatch: a value of type " + std::string(automation::VarTypeName(v.vt())) +
                            " cannot be bound");
  }
}

bool Has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

bool IsDateColumn(int columnType) {
  return columnType == adDBDate || columnType == adDBTime || columnType == adDBTimeStamp || columnType == adDate;
}

}  // namespace

void BindParameters(sqlite3_stmt* stmt, std::span<const BoundParameter> params, std::string_view sql) {
  const int markers = sqlite3_bind_parameter_count(stmt);
  if (static_cast<std::size_t>(markers) != params.size())
    RaiseSqliteMessage(SQLITE_RANGE,
                       "the statement has " + std::to_string(markers) + " parameter markers but " +
                           std::to_string(params.size()) + " parameters were given",
                       "statement: " + std::string(sql));

  for (std::size_t i = 0; i < params.size(); ++i) {
    const BoundParameter& p = params[i];
    const int marker = static_cast<int>(i + 1);
    if (p.direction != adParamInput)
      RaiseDataError(adErrInvalidArgument,
                     "parameter " + std::to_string(i + 1) + ": the SQLite provider binds input parameters only");
    const BindTarget target = TargetFor(p.type, i);
    int rc;
    if (p.value.IsEmptyOrNull()) {
      rc = sqlite3_bind_null(stmt, marker);
    } else {
      try {
        if (target.vt == automation::VT_EMPTY || p.value.vt() == target.vt)
          rc = BindValue(stmt, marker, p.value, target.form, true);
        else
          rc = BindValue(stmt, marker, automation::Converted(p.value, target.vt), target.form, false);
      } catch (const automation::Error& e) {
        throw automation::Error(e.Number(), e.Source(), e.Description() + " [" + Context(i, sql) + "]",
                                e.HelpFile());
      }
    }
    if (rc != SQLITE_OK) RaiseSqlite(sqlite3_db_handle(stmt), rc, Context(i, sql));
  }
}

int ColumnTypeOfDeclared(std::string_view declared) {
  if (declared.empty()) return 0;
  const std::string t = automation::AsciiUpper(declared);
  // The order follows SQLite's own affinity rules: "INT" anywhere makes an integer column.
  if (Has(t, "BIGINT") || Has(t, "INT8")) return adBigInt;
  if (Has(t, "SMALLINT") || Has(t, "INT2")) return adSmallInt;
  if (Has(t, "TINYINT")) return adUnsignedTinyInt;
  if (Has(t, "INT")) return adInteger;
  if (Has(t, "BOOL") || t == "BIT") return adBoolean;
  if (Has(t, "UNIQUEIDENTIFIER") || Has(t, "GUID")) return adGUID;
  if (Has(t, "CHAR") || Has(t, "CLOB") || Has(t, "TEXT") || Has(t, "STRING")) return adVarWChar;
  if (Has(t, "BLOB") || Has(t, "IMAGE")) return adLongVarBinary;
  if (Has(t, "BINARY")) return adVarBinary;
  if (Has(t, "REAL") || Has(t, "FLOA") || Has(t, "DOUB")) return adDouble;
  if (Has(t, "MONEY") || Has(t, "CURRENCY")) return adCurrency;
  if (Has(t, "DEC") || Has(t, "NUMERIC")) return adNumeric;
  if (Has(t, "DATETIME") || Has(t, "TIMESTAMP")) return adDBTimeStamp;
  if (Has(t, "DATE")) return adDBDate;
  if (Has(t, "TIME")) return adDBTime;
  return 0;
}

int ColumnTypeOfValue(const Variant& value) {
  switch (value.vt()) {
    case automation::VT_I4:
      return adInteger;
    case automation::VT_R8:
      return adDouble;
    case automation::VT_BYTES:
      return adLongVarBinary;
    case automation::VT_BOOL:
      return adBoolean;
    case automation::VT_DATE:
      return adDBTimeStamp;
    default:
      return adVarWChar;
  }
}

Variant ReadValue(sqlite3_stmt* stmt, int column, int columnType) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
      const sqlite3_int64 v = sqlite3_column_int64(stmt, column);
      if (columnType == adBoolean) return Variant(v != 0);
      if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      const int size = sqlite3_column_bytes(stmt, column);
      Variant value(std::string(text != nullptr ? text : "", text != nullptr ? static_cast<std::size_t>(size) : 0));
      if (IsDateColumn(columnType)) {
        try {
          return automation::Converted(value, automation::VT_DATE);
        } catch (const automation::Error&) {
          // Not a date after all: the text itself is the value.
        }
      }
      return value;
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, column));
      const int size = sqlite3_column_bytes(stmt, column);
      if (bytes == nullptr) return Variant(automation::Bytes{});
      return Variant(automation::Bytes(bytes, bytes + size));
    }
    default:
      return Variant::Null();
  }
}

}  // namespace morvane::db::sqlite
