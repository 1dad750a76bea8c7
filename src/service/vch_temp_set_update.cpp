#include "service/vch_temp_set_update.h"

#include "commandbuilder/command_builder.h"
#include "components/objlib/record_access.h"
#include "platform/automation/convert.h"
#include "platform/db/ado_constants.h"
#include "platform/mts/object_context.h"
#include "service/type_library.h"
#include "support/globals.h"

namespace morvane::service {

using automation::DispatchPtr;
using automation::Variant;
using commandbuilder::CommandBuilder;

namespace {

constexpr const char* kTableName = "CB_CostVchTempSet";

// The rights the security service is asked for before Append and UpdateInsert.
constexpr std::int32_t kRightObjectType = 155;
constexpr std::int32_t kRightObjectId = 1;
constexpr std::int32_t kRightAccess = 0x200000;

struct ColumnDescription {
  const char* name;
  std::int32_t dataType;
  std::int32_t size;
  bool required;
  bool key;
  std::optional<Variant> defaultValue;
  std::int32_t errItem;
};

// The sixteen columns of CB_CostVchTempSet, in description order.
const std::vector<ColumnDescription>& Columns() {
  using db::adInteger;
  using db::adVarWChar;
  const Variant zero(std::int32_t{0});
  static const std::vector<ColumnDescription> columns = {
      {"FVchClass", adVarWChar, 250, true, true, std::nullopt, 0},
      {"FTypeID", adVarWChar, 250, true, true, std::nullopt, 0},
      {"FTypeName", adVarWChar, 250, false, false, std::nullopt, 0},
      {"FExpDeptID", adVarWChar, 250, true, true, std::nullopt, 10036},
      {"FExpDeptName", adVarWChar, 250, false, false, std::nullopt, 0},
      {"FExpenseID", adVarWChar, 250, true, true, std::nullopt, 0},
      {"FExpenseName", adVarWChar, 250, false, false, std::nullopt, 0},
      {"FAcctID", adInteger, 0, false, false, zero, 0},
      {"FAcctName", adVarWChar, 250, false, false, std::nullopt, 0},
      {"FItemClassID", adInteger, 0, false, false, std::nullopt, 0},
      {"FItemClassName", adVarWChar, 250, false, false, std::nullopt, 0},
      {"FItemID", adInteger, 0, false, false, std::nullopt, 0},
      {"FItemName", adVarWChar, 250, false, false, std::nullopt, 0},
      {"FRemark", adVarWChar, 255, true, false, std::nullopt, 0},
      {"FGroupID", adInteger, 0, true, false, zero, 0},
      {"FGroupName", adVarWChar, 250, false, false, Variant(std::string()), 0},
  };
  return columns;
}

}  // namespace

std::unique_ptr<CommandBuilder> VchTempSetUpdate::DescribTable(const DispatchPtr& aFields) {
  auto builder = std::make_unique<CommandBuilder>();
  builder->InitClassDataEnv(m_Parse->PropsString());
  builder->Create(kTableName, aFields);
  for (const auto& c : Columns())
    builder->DescribField(c.name, c.dataType, c.size, c.required, std::nullopt, c.defaultValue, "", false, c.key,
                          "", c.errItem);
  return builder;
}

void VchTempSetUpdate::BeginChange(const std::string& sDsn, bool bMts, bool checkRights) {
  // Without the runtime there is no context to vote on or to create the security service in:
  // refuse before anything is read or written.
  mts::ObjectContext& context = mts::RequireObjectContext();
  if (bMts) context.SetAbort();
  InitDataEnv(sDsn);
  if (checkRights)
    support::CheckUserAccess(*m_DataSource, kRightObjectType, kRightObjectId, kRightAccess, std::string(kUpdateProgId));
}

void VchTempSetUpdate::EndChange(bool bMts) {
  if (bMts) mts::RequireObjectContext().SetComplete();
}

void VchTempSetUpdate::InsertAll(CommandBuilder& builder, const DispatchPtr& Properties) {
  const objlib::ListRef list(Properties);
  const std::int32_t n = list.UBound();
  for (std::int32_t i = 1; i <= n; ++i) {
    builder.SetFields(objlib::RecordRef::From(list.Item(i)).Clone());
    builder.ExecInsert();
  }
}

std::int32_t VchTempSetUpdate::Append(const std::string& sDsn, const DispatchPtr& Properties, bool bMts) {
  BeginChange(sDsn, bMts, true);
  auto builder = DescribTable(nullptr);
  InsertAll(*builder, Properties);
  EndChange(bMts);
  return 0;
}

void VchTempSetUpdate::Update(const std::string& sDsn, const DispatchPtr& aFilter, const DispatchPtr& Properties,
                              bool bMts) {
  BeginChange(sDsn, bMts, false);
  const Variant first = objlib::ListRef(Properties).Item(1);
  auto builder = DescribTable(objlib::RecordRef::From(first).object());
  // The builder narrows its own reference to the filter; the client's record stays as it was.
  DispatchPtr filter = aFilter;
  builder->ExecUpdate(filter);
  EndChange(bMts);
}

void VchTempSetUpdate::Delete(const std::string& sDsn, const DispatchPtr& aFilter, bool bMts) {
  BeginChange(sDsn, bMts, false);
  auto builder = DescribTable(nullptr);
  DispatchPtr filter = aFilter;
  builder->ExecDelete(filter);
  EndChange(bMts);
}

std::int32_t VchTempSetUpdate::UpdateInsert(const std::string& sDsn, const DispatchPtr& Properties, bool bMts) {
  const objlib::ListRef list(Properties);
  if (list.UBound() == 0) return 0;
  BeginChange(sDsn, bMts, true);
  auto builder = DescribTable(nullptr);
  auto classFilter = objlib::KeyedRecord::New();
  classFilter->SetValue("FVchClass", objlib::RecordRef::From(list.Item(1)).Value("FVchClass"));
  DispatchPtr filter = classFilter;
  builder->ExecDelete(filter);
  InsertAll(*builder, Properties);
  EndChange(bMts);
  return 0;
}

const automation::DispatchTable<VchTempSetUpdate>& VchTempSetUpdate::Table() {
  using automation::ParamInfo;
  using automation::VT_BOOL;
  using automation::VT_BSTR;
  using automation::VT_DISPATCH;
  using Self = VchTempSetUpdate;
  const ParamInfo dsn{"sDsn", VT_BSTR};
  const ParamInfo properties{"Properties", VT_DISPATCH};
  const ParamInfo filter{"aFilter", VT_DISPATCH};
  const ParamInfo mts{"bMts", VT_BOOL, false, true, Variant(true)};
  auto object = [](const Variant& v) { return v.IsObject() ? v.object() : DispatchPtr(); };
  static const auto table =
      automation::DispatchTable<Self>(ClassIdentity("VchTempSetUpdate", "{6E1D2A43-5C0B-4B8E-9F31-2D7A1C0E5B01}",
                                                    "{6E1D2A44-5C0B-4B8E-9F31-2D7A1C0E5B01}",
                                                    automation::TransactionAttribute::Required))
          .Method("Append", 0x60030003, {dsn, properties, mts}, automation::VT_I4,
                  [object](Self& self, std::span<Variant> a) {
                    return Variant(self.Append(a[0].text(), object(a[1]), a[2].boolean()));
                  })
          .Method("Update", 0x60030004, {dsn, filter, properties, mts}, automation::VT_EMPTY,
                  [object](Self& self, std::span<Variant> a) {
                    self.Update(a[0].text(), object(a[1]), object(a[2]), a[3].boolean());
                    return Variant();
                  })
          .Method("Delete", 0x60030005, {dsn, filter, mts}, automation::VT_EMPTY,
                  [object](Self& self, std::span<Variant> a) {
                    self.Delete(a[0].text(), object(a[1]), a[2].boolean());
                    return Variant();
                  })
          .Method("UpdateInsert", 0x60030006, {dsn, properties, mts}, automation::VT_I4,
                  [object](Self& self, std::span<Variant> a) {
                    return Variant(self.UpdateInsert(a[0].text(), object(a[1]), a[2].boolean()));
                  });
  return table;
}

}  // namespace morvane::service
