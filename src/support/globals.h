// The shared procedures of the component: localised texts, the entry lookup of a description
// text, the access-rights check and the field value check (the conversion of rows into records
// and lists is components/objlib/record_conversion.h). Module-level procedures; the only state is
// per thread (the resource loader, the text meter), so nothing here is shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "datasource/c_data_source.h"

namespace morvane::support {

using automation::Variant;

// The text for `text` (a simplified-Chinese built-in text, also the resource key) in `language`:
// the text itself for "chs" and whenever the resource loader fails; otherwise what the thread's
// resource loader gives for the trimmed text. Never raises.
std::string GetResString(std::string_view text, std::string_view language);

// The value of the first "key=" (letter case ignored, plain substring match) in a text of
// name=value pairs, up to the next ";"; an empty text when absent. Never raises.
std::string GetKeyValue(std::string_view source, std::string_view key);

// Asks the security service (created through the current object context) whether the caller of
// `ds` may make the change; raises what the service raises, 91 without an object context.
void CheckUserAccess(const datasource::CDataSource& ds, std::int32_t first, std::int32_t second,
                     std::int32_t third, const std::string& componentName);

// The variant type code for an ADO data type code (0 for codes the table does not map).
std::int32_t GetVarType(std::int32_t dataType);

// Converts `value` in place to `varType`, enforces `required` and `size`, raising 10000, 10004 and
// 10005 with the texts of the error tables (see err_info.h).
void CheckFieldValue(const datasource::CDataSource& ds, const std::string& item, Variant& value,
                     std::int32_t varType, std::int32_t size, bool required);

}  // namespace morvane::support
