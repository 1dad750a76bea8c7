// The error tables of the database and the raising convention of the system's field and record
// errors: the text of an error code travels in Source, the error item number in Description and
// the item's caption in HelpFile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "datasource/c_data_source.h"

namespace morvane::support {

// The text of an error code in the language of ds (CB_BmErrCode), or the localised fallback
// "未知错误类型" when no row holds it. Raises the database's error when the lookup fails.
std::string GetErrCodeDesc(const datasource::CDataSource& ds, std::int32_t code);
// The caption of an error item (CB_BmErrItem), or the localised fallback "未知错误项目".
std::string GetErrItemDesc(const datasource::CDataSource& ds, std::int32_t item);

// The language used to choose a text: the description's LANGUAGE entry, "chs" when absent.
std::string TextLanguage(const datasource::CDataSource& ds);

// Raises a field error: Source the code's text, Description the item number as text, HelpFile
// the caption followed by `valueSuffix` (" = '12abc'", " ='x'") when given.
[[noreturn]] void RaiseFieldError(const datasource::CDataSource& ds, std::int32_t code, const std::string& item,
                                  std::optional<std::string> valueSuffix = std::nullopt);
// Raises a record error: Source the code's text; Description and HelpFile not given.
[[noreturn]] void RaiseRecordError(const datasource::CDataSource& ds, std::int32_t code);
// Raises an error with a fixed message: Source the message localised for the data source.
[[noreturn]] void RaiseMessageError(const datasource::CDataSource& ds, std::int32_t number, std::string_view message);

// The text of an offending value as error messages show it: the value converted to text; an
// empty text for Empty, Null and values that have no text form. Never raises.
std::string ErrorValueText(const automation::Variant& value);

}  // namespace morvane::support
