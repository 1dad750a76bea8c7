// How the ODBC provider binds parameter values, reads result values and carries texts.
//
// Texts cross the ODBC interface as UTF-16 (SQLWCHAR, the wide functions and SQL_C_WCHAR): the
// Unicode drivers (psqlODBC's "PostgreSQL Unicode", "MariaDB Unicode", the SQLite and FreeTDS
// drivers) convert UTF-16 to the database's encoding themselves, while narrow SQL_C_CHAR data is
// read in the client's locale by some of them and would garble Chinese text under the C locale.
// Invalid UTF-8 becomes U+FFFD on the way in; unpaired surrogates become U+FFFD on the way out.
//
// Binding: a parameter's Type (DataTypeEnum) decides the automation type its value is converted
// to (automation::Converted, the one conversion place), and the C and SQL types of the binding:
//
//   adSmallInt adTinyInt adUnsignedTinyInt -> I2      SQL_C_SSHORT    SQL_SMALLINT
//   adInteger -> I4                                   SQL_C_SLONG     SQL_INTEGER
//   adBigInt -> R8 rounded half to even               SQL_C_SBIGINT   SQL_BIGINT
//   adBoolean -> Bool                                 SQL_C_BIT       SQL_BIT
//   adSingle -> R4                                    SQL_C_FLOAT     SQL_REAL
//   adDouble adDecimal adNumeric -> R8                SQL_C_DOUBLE    SQL_DOUBLE
//   adCurrency -> CY, as its exact decimal text       SQL_C_WCHAR     SQL_DECIMAL(19,4)
//   adDate adDBTimeStamp -> DATE                      SQL_C_TYPE_TIMESTAMP SQL_TYPE_TIMESTAMP
//   adDBDate / adDBTime -> DATE                       SQL_C_TYPE_DATE / _TIME, SQL_TYPE_DATE / _TIME
//   adBSTR adWChar adVarWChar adLongVarWChar adGUID   SQL_C_WCHAR     SQL_WVARCHAR (SQL_WLONGVARCHAR
//                                                                     beyond 4000 characters)
//   adChar adVarChar adLongVarChar -> BSTR            SQL_C_WCHAR     SQL_VARCHAR (SQL_LONGVARCHAR
//                                                                     beyond 8000 characters)
//   adBinary adVarBinary adLongVarBinary -> bytes     SQL_C_BINARY    SQL_VARBINARY (SQL_LONGVARBINARY
//                                                                     beyond 8000 bytes)
//   adEmpty                                           the value's own type, bound as above
//
// An Empty or Null value is bound as SQL_NULL_DATA with the type's C and SQL types. Dates keep
// whole seconds.
//
// Reading: a column's type comes from its SQL type (SQL_INTEGER -> adInteger, SQL_WVARCHAR ->
// adVarWChar, SQL_DECIMAL -> adNumeric, SQL_TYPE_TIMESTAMP -> adDBTimeStamp ...; an unsigned
// SQL_TINYINT is adUnsignedTinyInt). A value follows the SQLite provider's rules: an integer (of
// an integer column, or a decimal column's value without a fraction) that fits 32 bits is I4,
// any other number R8; a text is BSTR, binary data a byte array, a date or time DATE, SQL_BIT
// Bool, NULL Null. Stateless.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/automation/utf16.h"
#include "platform/db/provider.h"

namespace morvane::db::odbc {

// UTF-16 as ODBC's wide functions take it (SQLWCHAR is 16 bits wide on unixODBC).
using WideString = std::u16string;

// The automation layer's conversions (utf16.h), for the driver's buffers.
inline WideString ToWide(std::string_view utf8) { return automation::ToUtf16(utf8); }
inline std::string FromWide(const char16_t* text, std::size_t length) { return automation::FromUtf16({text, length}); }
inline std::string FromWide(const WideString& text) { return automation::FromUtf16(text); }

// For its lifetime, the calling thread's character-type locale (LC_CTYPE) is UTF-8 ("C.UTF-8"),
// then the thread's earlier locale again. Some drivers convert wide texts with the C library's
// multibyte functions, which follow the locale: the SQLite driver turns Chinese text into garbage
// under the "C" locale that a program has unless it calls setlocale. The switch is per thread
// (uselocale), so the host process's own locale is never changed. No effect where the C library
// lacks the locale.
class ScopedUtf8Locale {
 public:
  ScopedUtf8Locale();
  ~ScopedUtf8Locale();
  ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
  ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

 private:
  void* previous_ = nullptr;  // the thread's locale_t before, or nullptr when unchanged
};

// The parameters of one execution, bound to a statement handle. The object owns the buffers the
// driver reads when the statement runs: keep it alive until the execution has finished.
class ParameterBinding {
 public:
  ParameterBinding();
  ~ParameterBinding();
  ParameterBinding(const ParameterBinding&) = delete;
  ParameterBinding& operator=(const ParameterBinding&) = delete;

  // Binds params[i] to marker i + 1 of the statement handle. Raises 3001 (data_error.h) for a
  // type the provider cannot bind or a direction other than input, the conversion's error (13, 6)
  // with the parameter and statement as context, and the driver's error when a bind fails.
  void Bind(void* statement, std::span<const BoundParameter> params, std::string_view sql);

 private:
  struct Buffers;
  std::unique_ptr<Buffers> buffers_;
};

// The data type code of a column of the given ODBC SQL type.
int ColumnTypeOfSqlType(int sqlType, bool isUnsigned);

// The value of `column` (1-based) of the statement's current row, read with SQLGetData for a
// column of the given data type code (ColumnTypeOfSqlType). Raises the driver's error.
Variant ReadValue(void* statement, int column, int columnType, std::string_view sql);

}  // namespace morvane::db::odbc
