#include "platform/db/odbc/odbc_values.h"

#include <locale.h>
#include <sql.h>
#include <sqlext.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/ado_constants.h"
#include "platform/db/data_error.h"
#include "platform/db/odbc/odbc_error.h"

namespace morvane::db::odbc {

namespace {

using automation::VarType;


// Beyond these sizes a text or byte parameter is bound as the long type.
constexpr std::size_t kLongWideText = 4000;
constexpr std::size_t kLongText = 8000;
constexpr std::size_t kLongBinary = 8000;

// How the value of a parameter is handed to the driver.
enum class Kind { kShort, kLong, kBigInt, kBit, kReal, kDouble, kCurrency, kTimestamp, kDate, kTime, kText, kBinary };

struct Target {
  VarType vt;  // the automation type the value is converted to
  Kind kind;
  SQLSMALLINT textSqlType = 0;  // for kText: SQL_WVARCHAR or SQL_VARCHAR
};

std::string Context(std::size_t index, std::string_view sql) {
  std::string context = "parameter " + std::to_string(index + 1) + ", statement: ";
  context += sql;
  return context;
}

Target TargetFor(int type, std::size_t index) {
  switch (type) {
    case adSmallInt:
    case adTinyInt:
    case adUnsignedTinyInt:
      return {automation::VT_I2, Kind::kShort};
    case adInteger:
      return {automation::VT_I4, Kind::kLong};
    case adBigInt:
      return {automation::VT_R8, Kind::kBigInt};
    case adBoolean:
      return {automation::VT_BOOL, Kind::kBit};
    case adSingle:
      return {automation::VT_R4, Kind::kReal};
    case adDouble:
    case adDecimal:
    case adNumeric:
      return {automation::VT_R8, Kind::kDouble};
    case adCurrency:
      return {automation::VT_CY, Kind::kCurrency};
    case adDate:
    case adDBTimeStamp:
      return {automation::VT_DATE, Kind::kTimestamp};
    case adDBDate:
      return {automation::VT_DATE, Kind::kDate};
    case adDBTime:
      return {automation::VT_DATE, Kind::kTime};
    case adBSTR:
    case adWChar:
    case adVarWChar:
    case adLongVarWChar:
    case adGUID:
      return {automation::VT_BSTR, Kind::kText, SQL_WVARCHAR};
    case adChar:
    case adVarChar:
    case adLongVarChar:
      return {automation::VT_BSTR, Kind::kText, SQL_VARCHAR};
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
      return {automation::VT_BYTES, Kind::kBinary};
    default:
      RaiseDataError(adErrInvalidArgument, "parameter " + std::to_string(index + 1) + " has the data type " +
                                               std::to_string(type) + ", which the ODBC provider cannot bind");
  }
}

// The binding of a parameter of type adEmpty: by the value's own type.
Target TargetOfValue(const Variant& v) {
  switch (v.vt()) {
    case automation::VT_I2:
    case automation::VT_UI1:
      return {automation::VT_I2, Kind::kShort};
    case automation::VT_I4:
      return {automation::VT_I4, Kind::kLong};
    case automation::VT_BOOL:
      return {automation::VT_BOOL, Kind::kBit};
    case automation::VT_R4:
      return {automation::VT_R4, Kind::kReal};
    case automation::VT_R8:
      return {automation::VT_R8, Kind::kDouble};
    case automation::VT_CY:
      return {automation::VT_CY, Kind::kCurrency};
    case automation::VT_DATE:
      return {automation::VT_DATE, Kind::kTimestamp};
    case automation::VT_BYTES:
      return {automation::VT_BYTES, Kind::kBinary};
    case automation::VT_BSTR:
    case automation::VT_EMPTY:
    case automation::VT_NULL:
      return {automation::VT_BSTR, Kind::kText, SQL_WVARCHAR};
    default:
      automation::Raise(
          automation::errors::kTypeMismatch, std::nullopt,
          "Type mismatch: a value of type " + std::string(automation::VarTypeName(v.vt())) + " cannot be bound");
  }
}

SQLSMALLINT CTypeOf(const Target& t) {
  switch (t.kind) {
    case Kind::kShort:
      return SQL_C_SSHORT;
    case Kind::kLong:
      return SQL_C_SLONG;
    case Kind::kBigInt:
      return SQL_C_SBIGINT;
    case Kind::kBit:
      return SQL_C_BIT;
    case Kind::kReal:
      return SQL_C_FLOAT;
    case Kind::kDouble:
      return SQL_C_DOUBLE;
    case Kind::kTimestamp:
      return SQL_C_TYPE_TIMESTAMP;
    case Kind::kDate:
      return SQL_C_TYPE_DATE;
    case Kind::kTime:
      return SQL_C_TYPE_TIME;
    case Kind::kBinary:
      return SQL_C_BINARY;
    case Kind::kCurrency:
    case Kind::kText:
      return SQL_C_WCHAR;
  }
  return SQL_C_WCHAR;
}

SQLSMALLINT SqlTypeOf(const Target& t, std::size_t length) {
  switch (t.kind) {
    case Kind::kShort:
      return SQL_SMALLINT;
    case Kind::kLong:
      return SQL_INTEGER;
    case Kind::kBigInt:
      return SQL_BIGINT;
    case Kind::kBit:
      return SQL_BIT;
    case Kind::kReal:
      return SQL_REAL;
    case Kind::kDouble:
      return SQL_DOUBLE;
    case Kind::kCurrency:
      return SQL_DECIMAL;
    case Kind::kTimestamp:
      return SQL_TYPE_TIMESTAMP;
    case Kind::kDate:
      return SQL_TYPE_DATE;
    case Kind::kTime:
      return SQL_TYPE_TIME;
    case Kind::kBinary:
      return length > kLongBinary ? SQL_LONGVARBINARY : SQL_VARBINARY;
    case Kind::kText:
      if (t.textSqlType == SQL_WVARCHAR) return length > kLongWideText ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
      return length > kLongText ? SQL_LONGVARCHAR : SQL_VARCHAR;
  }
  return SQL_WVARCHAR;
}

SQL_TIMESTAMP_STRUCT TimestampOf(automation::Date date) {
  const automation::DateParts p = automation::SplitDate(date);
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(p.year);
  ts.month = static_cast<SQLUSMALLINT>(p.month);
  ts.day = static_cast<SQLUSMALLINT>(p.day);
  ts.hour = static_cast<SQLUSMALLINT>(p.hour);
  ts.minute = static_cast<SQLUSMALLINT>(p.minute);
  ts.second = static_cast<SQLUSMALLINT>(p.second);
  return ts;
}

[[noreturn]] void RaiseStatement(SQLHSTMT stmt, std::string_view context) {
  RaiseOdbc(Diagnostics(SQL_HANDLE_STMT, stmt), context);
}

bool Failed(SQLRETURN rc) { return rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO; }

// Reads a text or binary column in pieces. Returns false for NULL.
bool ReadPieces(SQLHSTMT stmt, int column, SQLSMALLINT cType, std::string_view sql, std::vector<char>& out) {
  constexpr std::size_t kPiece = 8192;
  const std::size_t terminator = cType == SQL_C_WCHAR ? sizeof(char16_t) : cType == SQL_C_CHAR ? 1 : 0;
  out.clear();
  std::vector<char> piece(kPiece);
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(column), cType, piece.data(),
                                    static_cast<SQLLEN>(piece.size()), &indicator);
    if (rc == SQL_NO_DATA) return true;
    if (Failed(rc)) RaiseStatement(stmt, "column " + std::to_string(column) + ", statement: " + std::string(sql));
    if (indicator == SQL_NULL_DATA) return false;
    const std::size_t room = piece.size() - terminator;
    // Truncated (more to come) when the remaining length is unknown or exceeds the buffer.
    const bool more = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > room;
    std::size_t got = more ? room : static_cast<std::size_t>(indicator);
    if (terminator == sizeof(char16_t)) got -= got % sizeof(char16_t);
    out.insert(out.end(), piece.data(), piece.data() + got);
    if (!more) return true;
  }
}

}  // namespace

ScopedUtf8Locale::ScopedUtf8Locale() {
  static const locale_t utf8 = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (l == static_cast<locale_t>(nullptr)) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;  // kept until the process ends
  }();
  if (utf8 != static_cast<locale_t>(nullptr)) previous_ = uselocale(utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale() {
  if (previous_ != nullptr) uselocale(static_cast<locale_t>(previous_));
}

struct ParameterBinding::Buffers {
  struct Slot {
    SQLLEN indicator = 0;
    union {
      SQLSMALLINT i2;
      SQLINTEGER i4;
      SQLBIGINT i8;
      SQLCHAR bit;
      SQLREAL r4;
      SQLDOUBLE r8;
      SQL_TIMESTAMP_STRUCT timestamp;
      SQL_DATE_STRUCT date;
      SQL_TIME_STRUCT time;
    } scalar{};
    WideString text;
    automation::Bytes bytes;
  };
  std::vector<Slot> slots;  // sized once per Bind, so the addresses handed out stay put
};

ParameterBinding::ParameterBinding() : buffers_(std::make_unique<Buffers>()) {}
ParameterBinding::~ParameterBinding() = default;

void ParameterBinding::Bind(void* statement, std::span<const BoundParameter> params, std::string_view sql) {
  auto* stmt = static_cast<SQLHSTMT>(statement);
  buffers_->slots.clear();
  buffers_->slots.resize(params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    const BoundParameter& p = params[i];
    Buffers::Slot& slot = buffers_->slots[i];
    if (p.direction != adParamInput)
      RaiseDataError(adErrInvalidArgument,
                     "parameter " + std::to_string(i + 1) + ": the ODBC provider binds input parameters only");
    const Target target = p.type == adEmpty ? TargetOfValue(p.value) : TargetFor(p.type, i);

    SQLULEN columnSize = 0;
    SQLSMALLINT digits = 0;
    SQLPOINTER value = &slot.scalar;
    SQLLEN bufferLength = 0;
    std::size_t length = 0;
    if (p.value.IsEmptyOrNull()) {
      slot.indicator = SQL_NULL_DATA;
      columnSize = 1;
      if (target.kind == Kind::kCurrency) columnSize = 19, digits = 4;
    } else {
      try {
        const Variant converted = p.value.vt() == target.vt ? p.value : automation::Converted(p.value, target.vt);
        switch (target.kind) {
          case Kind::kShort:
            slot.scalar.i2 = converted.i2();
            break;
          case Kind::kLong:
            slot.scalar.i4 = converted.i4();
            break;
          case Kind::kBigInt: {
            const double whole = std::nearbyint(converted.r8());  // the default rounding: half to even
            if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0))
              automation::Raise(automation::errors::kOverflow);
            slot.scalar.i8 = static_cast<SQLBIGINT>(whole);
            break;
          }
          case Kind::kBit:
            slot.scalar.bit = converted.boolean() ? 1 : 0;
            break;
          case Kind::kReal:
            slot.scalar.r4 = converted.r4();
            break;
          case Kind::kDouble:
            slot.scalar.r8 = converted.r8();
            break;
          case Kind::kCurrency:
            slot.text = ToWide(automation::ToText(converted));
            columnSize = 19, digits = 4;
            break;
          case Kind::kTimestamp:
            slot.scalar.timestamp = TimestampOf(converted.date());
            columnSize = 19;
            break;
          case Kind::kDate: {
            const SQL_TIMESTAMP_STRUCT ts = TimestampOf(converted.date());
            slot.scalar.date = SQL_DATE_STRUCT{ts.year, ts.month, ts.day};
            columnSize = 10;
            break;
          }
          case Kind::kTime: {
            const SQL_TIMESTAMP_STRUCT ts = TimestampOf(converted.date());
            slot.scalar.time = SQL_TIME_STRUCT{ts.hour, ts.minute, ts.second};
            columnSize = 8;
            break;
          }
          case Kind::kText:
            slot.text = ToWide(converted.text());
            break;
          case Kind::kBinary:
            slot.bytes = converted.bytes();
            break;
        }
      } catch (const automation::Error& e) {
        throw automation::Error(e.Number(), e.Source(), e.Description() + " [" + Context(i, sql) + "]", e.HelpFile());
      }
      if (target.kind == Kind::kText || target.kind == Kind::kCurrency) {
        length = slot.text.size();
        value = slot.text.data();
        bufferLength = static_cast<SQLLEN>(slot.text.size() * sizeof(char16_t));
        slot.indicator = bufferLength;
        if (target.kind == Kind::kText) columnSize = std::max<std::size_t>(length, 1);
      } else if (target.kind == Kind::kBinary) {
        length = slot.bytes.size();
        value = slot.bytes.data();
        bufferLength = static_cast<SQLLEN>(slot.bytes.size());
        slot.indicator = bufferLength;
        columnSize = std::max<std::size_t>(length, 1);
      } else {
        slot.indicator = 0;  // fixed-length C types ignore it
      }
    }
    const SQLRETURN rc =
        SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, CTypeOf(target),
                         SqlTypeOf(target, length), columnSize, digits, value, bufferLength, &slot.indicator);
    if (Failed(rc)) RaiseStatement(stmt, Context(i, sql));
  }
}

int ColumnTypeOfSqlType(int sqlType, bool isUnsigned) {
  switch (sqlType) {
    case SQL_CHAR:
      return adChar;
    case SQL_VARCHAR:
      return adVarChar;
    case SQL_LONGVARCHAR:
      return adLongVarChar;
    case SQL_WCHAR:
      return adWChar;
    case SQL_WVARCHAR:
      return adVarWChar;
    case SQL_WLONGVARCHAR:
      return adLongVarWChar;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return adNumeric;
    case SQL_SMALLINT:
      return adSmallInt;
    case SQL_INTEGER:
      return adInteger;
    case SQL_REAL:
      return adSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return adDouble;
    case SQL_BIT:
      return adBoolean;
    case SQL_TINYINT:
      return isUnsigned ? adUnsignedTinyInt : adTinyInt;
    case SQL_BIGINT:
      return adBigInt;
    case SQL_BINARY:
      return adBinary;
    case SQL_VARBINARY:
      return adVarBinary;
    case SQL_LONGVARBINARY:
      return adLongVarBinary;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return adDBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return adDBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return adDBTimeStamp;
    case SQL_GUID:
      return adGUID;
    default:
      return adVarWChar;  // anything else is read as its text
  }
}

Variant ReadValue(void* statement, int column, int columnType, std::string_view sql) {
  auto* stmt = static_cast<SQLHSTMT>(statement);
  const auto col = static_cast<SQLUSMALLINT>(column);
  SQLLEN indicator = 0;
  auto fail = [&] { RaiseStatement(stmt, "column " + std::to_string(column) + ", statement: " + std::string(sql)); };

  switch (columnType) {
    case adSmallInt:
    case adInteger:
    case adTinyInt:
    case adUnsignedTinyInt:
    case adBigInt: {
      SQLBIGINT v = 0;
      if (Failed(SQLGetData(stmt, col, SQL_C_SBIGINT, &v, 0, &indicator))) fail();
      if (indicator == SQL_NULL_DATA) return Variant::Null();
      if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case adBoolean: {
      SQLCHAR v = 0;
      if (Failed(SQLGetData(stmt, col, SQL_C_BIT, &v, 0, &indicator))) fail();
      if (indicator == SQL_NULL_DATA) return Variant::Null();
      return Variant(v != 0);
    }
    case adSingle:
    case adDouble: {
      SQLDOUBLE v = 0;
      if (Failed(SQLGetData(stmt, col, SQL_C_DOUBLE, &v, 0, &indicator))) fail();
      if (indicator == SQL_NULL_DATA) return Variant::Null();
      return Variant(static_cast<double>(v));
    }
    case adNumeric: {
      // Read as text so that no digit is lost on the way; then the number rule of the SQLite
      // provider: a whole value in 32 bits is I4, anything else R8.
      std::vector<char> text;
      if (!ReadPieces(stmt, column, SQL_C_CHAR, sql, text)) return Variant::Null();
      text.push_back('\0');
      char* end = nullptr;
      const double v = std::strtod(text.data(), &end);
      if (end == text.data()) return Variant(std::string(text.data()));
      if (v == std::trunc(v) && v >= std::numeric_limits<std::int32_t>::min() &&
          v <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(v));
      return Variant(v);
    }
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp: {
      SQL_TIMESTAMP_STRUCT ts{};
      if (columnType == adDBTime) {
        SQL_TIME_STRUCT t{};
        if (Failed(SQLGetData(stmt, col, SQL_C_TYPE_TIME, &t, sizeof t, &indicator))) fail();
        ts = SQL_TIMESTAMP_STRUCT{1899, 12, 30, t.hour, t.minute, t.second, 0};
      } else if (Failed(SQLGetData(stmt, col, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &indicator))) {
        fail();
      }
      if (indicator == SQL_NULL_DATA) return Variant::Null();
      return Variant(automation::MakeDate({ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second}));
    }
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: {
      std::vector<char> bytes;
      if (!ReadPieces(stmt, column, SQL_C_BINARY, sql, bytes)) return Variant::Null();
      return Variant(automation::Bytes(bytes.begin(), bytes.end()));
    }
    default: {
      std::vector<char> text;
      if (!ReadPieces(stmt, column, SQL_C_WCHAR, sql, text)) return Variant::Null();
      return Variant(FromWide(reinterpret_cast<const char16_t*>(text.data()), text.size() / sizeof(char16_t)));
    }
  }
}

}  // namespace morvane::db::odbc
