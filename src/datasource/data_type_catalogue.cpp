// The data type catalogue of CDataSource: the rows of t_DataTypeInfo, loaded once per process and
// product version into the shared property group "<DBMS Name><DBMS Version>DataTypeInfo", one
// KeyedRecord per ADO data type code at the property of that position.
//
// The group is shared by every thread. A property named kLoadedMarker is set once the load has
// read every row; loads are serialised by a process-wide mutex, so a thread that comes while
// another loads waits for it instead of finding half a catalogue, and a load that failed is tried
// again by the next question rather than leaving the process with a partial catalogue.
#include <mutex>
#include <optional>
#include <string_view>

#include "components/objlib/record_conversion.h"
#include "datasource/c_data_source.h"
#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/recordset.h"
#include "platform/mts/shared_property.h"

namespace morvane::datasource {

namespace {

using automation::Variant;

constexpr std::string_view kLoadedMarker = "$Loaded";
constexpr std::string_view kOracle = "Oracle";

std::mutex& LoadMutex() {
  static std::mutex mutex;
  return mutex;
}

// A column that may be Null (no limit, or no size of its own): nullopt then.
std::optional<std::int32_t> OptionalLong(const objlib::KeyedRecord& row, std::string_view column) {
  const Variant value = row.Value(column);
  if (value.IsEmptyOrNull()) return std::nullopt;
  return automation::ToLong(value);
}

// A column that must hold a value: raises 94 "Invalid use of Null" when it is Null.
std::int32_t RequiredLong(const objlib::KeyedRecord& row, std::string_view column) {
  const Variant value = row.Value(column);
  if (value.IsNull()) automation::Raise(automation::errors::kInvalidUseOfNull);
  return automation::ToLong(value);
}

// The precision and scale rules shared by GetTypeName and GetActualType. False when the precision
// is above the type's limit; otherwise `scale` is brought within the type's bounds (the minimum
// wins when the bounds cross).
bool ApplyLimits(const objlib::KeyedRecord& row, std::int32_t precision, std::int32_t& scale) {
  const auto maxPrecision = OptionalLong(row, "FMaxPrecision");
  if (maxPrecision && *maxPrecision < precision) return false;
  if (const auto maxScale = OptionalLong(row, "FMaxScale"); maxScale && scale > *maxScale) scale = *maxScale;
  if (const auto minScale = OptionalLong(row, "FMinScale"); minScale && scale < *minScale) scale = *minScale;
  return true;
}

}  // namespace

std::shared_ptr<objlib::KeyedRecord> CDataSource::GetTypeInfo(std::int32_t DataType) const {
  if (!ParseObject) automation::Raise(automation::errors::kObjectNotSet);
  const std::string groupName = ParseObject->ConDBMSName() + ParseObject->ConDBMSVersion() + "DataTypeInfo";
  auto manager = std::make_shared<mts::SharedPropertyGroupManager>();
  std::int32_t isolation = mts::LockSetGet;
  std::int32_t release = mts::Process;
  auto group = manager->CreatePropertyGroup(groupName, isolation, release);
  auto loaded = group->CreateProperty(kLoadedMarker);
  if (loaded->Value().IsEmpty()) {
    std::lock_guard lock(LoadMutex());
    if (loaded->Value().IsEmpty()) {
      LoadDataTypeInfo(*group);
      loaded->SetValue(Variant(true));
    }
  }
  const Variant value = group->PropertyByPosition(DataType)->Value();
  auto record = value.IsObject() ? std::dynamic_pointer_cast<objlib::KeyedRecord>(value.object()) : nullptr;
  if (!record) automation::Raise(automation::errors::kTypeMismatch);
  return record;
}

void CDataSource::LoadDataTypeInfo(mts::SharedPropertyGroup& spmGroup) const {
  auto rs = db::Recordset::New();
  rs->CursorLocation = db::adUseClient;
  rs->Open("select * from t_DataTypeInfo", db::ActiveConnectionSource(ConnectString()));
  while (!rs->IsEOF()) {
    const Variant& dataType = rs->GetFields().Item("FDataType").Value();
    if (dataType.IsNull()) automation::Raise(automation::errors::kInvalidUseOfNull);
    // A later row with the same type code replaces the earlier one.
    spmGroup.CreatePropertyByPosition(automation::ToLong(dataType))
        ->SetValue(Variant(automation::DispatchPtr(objlib::RowToKeyedRecord(*rs))));
    rs->MoveNext();
  }
}

std::string CDataSource::GetTypeName(std::int32_t DataType, std::int32_t& Precision, std::int32_t& nScale,
                                     std::int32_t& ActualType, std::int32_t& ActualSize,
                                     std::int32_t& BindType) const {
  const auto row = GetTypeInfo(DataType);
  std::int32_t precision = Precision;
  std::int32_t scale = nScale;
  if (!ApplyLimits(*row, precision, scale)) return {};

  const Variant typeNameValue = row->Value("FTypeName");
  if (typeNameValue.IsNull()) automation::Raise(automation::errors::kInvalidUseOfNull);
  const std::string typeName = automation::ToText(typeNameValue);

  std::string name;
  if (!OptionalLong(*row, "FMaxPrecision")) {
    // A type without precision: the name as stored, no precision or scale.
    name = typeName;
    precision = 0;
    scale = 0;
  } else {
    // Built step by step: GCC 12 warns (-Wrestrict) on "," + std::string at -O3.
    std::string sizePart = std::to_string(precision);
    if (OptionalLong(*row, "FMaxScale")) {
      sizePart += ',';
      sizePart += std::to_string(scale);
    }
    sizePart += ')';
    const std::size_t open = typeName.find('(');
    if (open == std::string::npos) {
      name = typeName + "(" + sizePart;
    } else {
      // Whatever stands between the first "(" and the first ")" is replaced.
      std::size_t close = typeName.find(')');
      if (close == std::string::npos) close = open;
      name = typeName.substr(0, open + 1) + sizePart + typeName.substr(close + 1);
    }
  }

  const std::int32_t actualType = RequiredLong(*row, "FActualType");
  const std::int32_t bindType = RequiredLong(*row, "FBindType");
  const std::int32_t actualSize = OptionalLong(*row, "FActualSize").value_or(precision);
  Precision = precision;
  nScale = scale;
  ActualType = actualType;
  ActualSize = actualSize;
  BindType = bindType;
  return name;
}

std::int32_t CDataSource::GetActualType(std::int32_t DataType, const std::int32_t& Precision, std::int32_t& nScale,
                                        std::int32_t& ActualSize, std::int32_t& BindType) const {
  const auto row = GetTypeInfo(DataType);
  std::int32_t scale = nScale;
  if (!ApplyLimits(*row, Precision, scale)) return 0;
  const std::int32_t actualType = RequiredLong(*row, "FActualType");
  const std::int32_t bindType = RequiredLong(*row, "FBindType");
  const std::int32_t actualSize = OptionalLong(*row, "FActualSize").value_or(Precision);
  nScale = scale;
  ActualSize = actualSize;
  BindType = bindType;
  return actualType;
}

std::int32_t CDataSource::GetBindType(std::int32_t DataType) const {
  return RequiredLong(*GetTypeInfo(DataType), "FBindType");
}

bool CDataSource::IsOracle() const { return DBMSName() == kOracle; }

}  // namespace morvane::datasource
