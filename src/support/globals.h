// The shared procedures of the component: localised texts, the entry lookup of a description
// text, the conversion of rows into records and lists, the access-rights check and the field value
// check. Module-level procedures; the only state is per thread (the resource loader, the text
// meter), so nothing here is shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "datasource/c_data_source.h"
#include "platform/db/recordset.h"

namespace morvane::support {

using automation::Variant;

// The text for `text` (a simplified-Chinese built-in text, also the resource key) in `language`:
// the text itself for "chs" and whenever the resource loader fails; otherwise what the thread's
// resource loader gives for the trimmed text. Never raises.
std::string GetResString(std::string_view text, std::string_view language);

// The value of the first "key=" (letter case ignored, plain substring match) in a text of
// name=value pairs, up to the next ";"; an empty text when absent. Never raises.
std::string GetKeyValue(std::string_view source, std::string_view key);

// A new record of the recordset's current row: column names to values, in field order. Raises
// the recordset's error (3021 when there is no current row).
std::shared_ptr<objlib::KeyedRecord> RowToKeyedRecord(db::Recordset& rs);
// A new list with one record per row, from the first row to the last (empty for no rows). The
// records share one table of key names. The recordset is left at its end and stays open; the
// values are moved out of its rows into the list (a row's whole vector of values when the columns
// map one to one onto keys), so reading its fields again gives Empty values.
std::shared_ptr<objlib::RecordList> RecordsetToList(db::Recordset& rs);

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

// Ends the current thread's resource loader (its "Unload" is called and it is released), so that
// the next text creates a new one. Called when a CParse ends.
void UnloadResLoader() noexcept;

}  // namespace morvane::support
