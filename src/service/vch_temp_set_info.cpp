#include "service/vch_temp_set_info.h"

#include "components/objlib/record_access.h"
#include "components/objlib/record_conversion.h"
#include "platform/automation/type_info.h"
#include "platform/db/recordset.h"
#include "platform/mts/object_context.h"
#include "service/list_queries.h"
#include "service/type_library.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::service {

using automation::DispatchPtr;
using automation::Variant;

namespace {

constexpr const char* kGroupColumns[] = {"FGroupID", "FGroupName"};

// Null group columns of the rows become the integer 0 (the name too). Done on the recordset by
// column position, before the rows become records, so that no record is looked into by name.
// Returns false when a group column is not in the result (the records then need the entry).
bool ReplaceNullGroups(db::Recordset& rs) {
  std::vector<std::size_t> positions;
  std::size_t found = 0;
  for (const char* name : kGroupColumns) {
    bool present = false;
    for (std::size_t c = 0; c < rs.Columns().size(); ++c) {
      if (!automation::EqualsIgnoreCase(rs.Columns()[c].name, name)) continue;
      positions.push_back(c);
      present = true;
    }
    found += present ? 1 : 0;
  }
  if (rs.RecordCount() > 0) {
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      std::vector<Variant>& row = rs.CurrentRow();
      for (std::size_t c : positions)
        if (c < row.size() && row[c].IsNull()) row[c] = Variant(std::int32_t{0});
    }
  }
  return found == std::size(kGroupColumns);
}

// A group column that the query did not select is written as an Empty entry of every record.
void AddMissingGroups(const objlib::ListRef& list) {
  const std::int32_t n = list.UBound();
  for (std::int32_t i = 1; i <= n; ++i) {
    objlib::RecordRef row = objlib::RecordRef::From(list.Item(i));
    for (const char* column : kGroupColumns)
      if (!row.Lookup(column)) row.SetValue(column, Variant());
  }
}

}  // namespace

template <class BuildSql>
DispatchPtr VchTempSetInfo::RunListQuery(const std::string& sDsn, BuildSql sql) {
  mts::RequireObjectContext().SetComplete();
  InitDataEnv(sDsn);
  const std::string language = support::GetKeyValue(sDsn, "Language");
  auto rs = db::Recordset::New();
  rs->CursorLocation = db::adUseClient;
  rs->Open(sql(language), m_DataSource->Connection());
  const bool complete = ReplaceNullGroups(*rs);
  auto list = objlib::RecordsetToList(*rs);
  if (!complete) AddMissingGroups(objlib::ListRef(list));
  return list;
}

DispatchPtr VchTempSetInfo::GetBaseList(const std::string& sDsn) {
  return RunListQuery(sDsn, [](const std::string& language) {
    return BaseListSql(support::GetResString(strings::kCostItem, language));
  });
}

DispatchPtr VchTempSetInfo::GetAssList(const std::string& sDsn) {
  return RunListQuery(sDsn, [](const std::string& language) {
    return AssListSql(support::GetResString(strings::kAuxiliaryProductionExpense, language));
  });
}

DispatchPtr VchTempSetInfo::GetBLendList(const std::string& sDsn) {
  return RunListQuery(sDsn, [](const std::string& language) {
    return BLendListSql(support::GetResString(strings::kManufacturingExpense, language),
                        support::GetResString(strings::kAuxiliaryExpense, language));
  });
}

DispatchPtr VchTempSetInfo::GetALendList(const std::string& sDsn) {
  return RunListQuery(sDsn, [](const std::string& language) {
    return ALendListSql(support::GetResString(strings::kAuxiliaryProductionExpense, language));
  });
}

const automation::DispatchTable<VchTempSetInfo>& VchTempSetInfo::Table() {
  using automation::ParamInfo;
  using Self = VchTempSetInfo;
  using Query = DispatchPtr (Self::*)(const std::string&);
  auto list = [](Query query) {
    return [query](Self& self, std::span<Variant> a) { return Variant((self.*query)(a[0].text())); };
  };
  const std::vector<ParamInfo> dsn = {{"sDsn", automation::VT_BSTR}};
  static const auto table =
      automation::DispatchTable<Self>(ClassIdentity("VchTempSetInfo", "{6E1D2A41-5C0B-4B8E-9F31-2D7A1C0E5B01}",
                                                    "{6E1D2A42-5C0B-4B8E-9F31-2D7A1C0E5B01}",
                                                    automation::TransactionAttribute::Supported))
          .Method("GetBaseList", 0x60030002, dsn, automation::VT_DISPATCH, list(&Self::GetBaseList))
          .Method("GetAssList", 0x60030003, dsn, automation::VT_DISPATCH, list(&Self::GetAssList))
          .Method("GetBLendList", 0x60030004, dsn, automation::VT_DISPATCH, list(&Self::GetBLendList))
          .Method("GetALendList", 0x60030005, dsn, automation::VT_DISPATCH, list(&Self::GetALendList));
  return table;
}

}  // namespace morvane::service
