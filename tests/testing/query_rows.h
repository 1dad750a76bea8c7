// Reads a query's result back as text, for tests that compare what a database holds.
#pragma once

#include <string>
#include <vector>

#include "platform/automation/convert.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"

namespace morvane::testing {

// The rows of a query on its own connection, as text lines "v1|v2|..." (Null as "NULL").
inline std::vector<std::string> RowsOf(const std::string& connectString, const std::string& sql) {
  auto c = db::Connection::New();
  c->Open(connectString);
  auto rs = c->Execute(sql);
  std::vector<std::string> out;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    std::string line;
    for (std::size_t i = 0; i < rs->CurrentRow().size(); ++i) {
      const automation::Variant& v = rs->CurrentRow()[i];
      if (i) line += "|";
      line += v.IsNull() ? "NULL" : automation::ToText(v);
    }
    out.push_back(line);
  }
  return out;
}

}  // namespace morvane::testing
