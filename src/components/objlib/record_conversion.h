// Rows of a recordset as the suite's record objects. The records made from one recordset share
// one table of key names, so a long list keeps its column names once. No shared state; the
// recordset and the new objects belong to the calling thread.
#pragma once

#include <memory>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "platform/db/recordset.h"

namespace morvane::objlib {

// A new record of the recordset's current row: column names to values, in field order. Raises
// the recordset's error (3021 when there is no current row).
std::shared_ptr<KeyedRecord> RowToKeyedRecord(db::Recordset& rs);

// A new list with one record per row, from the first row to the last (empty for no rows). The
// records share one table of key names. The recordset is left at its end and stays open; the
// values are moved out of its rows into the list (a row's whole vector of values when the columns
// map one to one onto keys), so reading its fields again gives Empty values.
std::shared_ptr<RecordList> RecordsetToList(db::Recordset& rs);

}  // namespace morvane::objlib
