// How the SQLite provider binds parameter values and reads result values.
//
// Binding: a parameter's Type (DataTypeEnum) decides the automation type its value is converted
// to (automation::Converted, the one conversion place), and that type how SQLite stores it:
//
//   adSmallInt adTinyInt -> I2, adInteger -> I4, adUnsignedTinyInt -> UI1,
//   adBoolean -> Bool                                 bound as integers (True as 1)
//   adBigInt -> R8 rounded half to even               bound as a 64-bit integer
//   adSingle -> R4, adDouble adDecimal adNumeric -> R8 bound as doubles
//   adCurrency -> CY                                  bound as its exact decimal text ("12.5")
//   adDate adDBTimeStamp -> DATE                      bound as text "YYYY-MM-DD HH:MM:SS"
//   adDBDate -> DATE / adDBTime -> DATE               bound as "YYYY-MM-DD" / "HH:MM:SS"
//   adBSTR adChar adWChar adVarChar adLongVarChar
//   adVarWChar adLongVarWChar adGUID -> BSTR          bound as UTF-8 text
//   adBinary adVarBinary adLongVarBinary -> bytes     bound as a blob (an empty array too)
//   adEmpty                                           the value's own type, unconverted
//
// An Empty or Null value is bound as NULL whatever the type. Dates are text so that SQLite's
// date functions and comparisons work on them; they keep whole seconds.
//
// Reading: a column's type comes from its declared type (INTEGER -> adInteger, TEXT/VARCHAR/
// NVARCHAR -> adVarWChar, REAL/FLOAT/DOUBLE -> adDouble, BLOB -> adLongVarBinary, and the like);
// a column without a usable declared type (an expression) takes the type of its first non-Null
// value, adVarWChar when every value is Null. A value follows its storage class: an integer that
// fits 32 bits is I4, a larger one R8; REAL is R8, TEXT is BSTR, BLOB a byte array, NULL Null.
// Two declared types refine that: in a date or time column a text that reads as a date is DATE,
// and in a BOOLEAN/BIT column an integer is Bool. Stateless.
#pragma once

#include <span>
#include <string_view>

#include "platform/db/provider.h"

struct sqlite3_stmt;

namespace morvane::db::sqlite {

// Binds params[i] to marker i + 1. Raises an SQLite error when their number differs from the
// statement's markers, 3001 for a type the provider cannot bind or a direction other than
// input, and the conversion's error (13, 6) with the parameter and statement as context.
void BindParameters(sqlite3_stmt* stmt, std::span<const BoundParameter> params, std::string_view sql);

// The data type code of a declared column type; 0 when the declaration says nothing usable.
int ColumnTypeOfDeclared(std::string_view declared);

// The data type code that a column without a declared type takes from a value of it.
int ColumnTypeOfValue(const Variant& value);

// The value of column `column` of the statement's current row, for a column of the given type
// (0 when the declaration said nothing usable).
Variant ReadValue(sqlite3_stmt* stmt, int column, int columnType);

}  // namespace morvane::db::sqlite
