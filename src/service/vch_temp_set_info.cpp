#include "service/vch_temp_set_info.h"

#include "components/objlib/record_access.h"
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

// Null group columns of the listed rows become the integer 0 (the name too).
void ReplaceNullGroups(const objlib::ListRef& list) {
  const std::int32_t n = list.UBound();
  for (std::int32_t i = 1; i <= n; ++i) {
    objlib::RecordRef row = objlib::RecordRef::From(list.Item(i));
    for (const char* column : {"FGroupID", "FGroupName"}) {
      Variant value = row.Value(column);
      row.SetValue(column, value.IsNull() ? Variant(std::int32_t{0}) : value);
    }
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
  auto list = support::RecordsetToList(*rs);
  ReplaceNullGroups(objlib::ListRef(list));
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
