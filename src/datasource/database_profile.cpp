// The database profile of CDataSource: the provider's capability properties and the stored
// procedures of t_SupportedProc, loaded once per process and product version into the shared
// property group "<DBMS Name><DBMS Version>DataSource" and read from there afterwards.
//
// The group is shared by every thread and object of the process that names it. Its property
// "Connected" marks a complete load and is written last, after every item, so a reader that finds
// it True also finds the items in place. The test of "Connected" and the load are not one step:
// threads that come together may each load, and each writes the same kinds of values. A load that
// fails leaves "Connected" as it was, so the next reader tries again. The "SupportedProc" record
// is never changed once it is stored, so every thread may look names up in it.
#include <array>
#include <optional>
#include <string_view>

#include "datasource/c_data_source.h"
#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/late_binding.h"
#include "platform/db/recordset.h"
#include "platform/mts/shared_property.h"

namespace morvane::datasource {

namespace {

using automation::Variant;

constexpr std::string_view kConnected = "Connected";
constexpr std::string_view kSupportedProc = "SupportedProc";
constexpr std::string_view kConnectString = "ConnectString";
constexpr std::string_view kProcQuery = "SELECT FProcName FROM t_SupportedProc";

// How an item of the provider is stored.
enum class ItemKind {
  Text,        // the value; an empty text when missing
  Flag,        // the value; False when missing
  YesNo,       // a Boolean: True when the text is exactly "Y"; a missing value counts as "N"
  BitMask,     // the value (Null included); not written when absent or unreadable
};

struct ProfileItem {
  std::string_view property;  // the group's property
  std::string_view provider;  // the connection's property
  ItemKind kind;
};

// In the order in which a load writes them.
constexpr std::array<ProfileItem, 9> kItems{{
    {"DBMSName", "DBMS Name", ItemKind::Text},
    {"DBMSVersion", "DBMS Version", ItemKind::Text},
    {"MultipleResults", "Multiple Results", ItemKind::Flag},
    {"LikeEscapeClause", "Like Escape Clause", ItemKind::YesNo},
    {"IEF", "Integrity Enhancement Facility", ItemKind::Flag},
    {"NumericFunctions", "Numeric Functions", ItemKind::BitMask},
    {"StringFunctions", "String Functions", ItemKind::BitMask},
    {"SystemFunctions", "System Functions", ItemKind::BitMask},
    {"DateTimeFunctions", "Time/Date Functions", ItemKind::BitMask},
}};

// The profile group of the description: its product name and version directly followed by
// "DataSource", created for the life of the process. Raises the parser's 5 when the description
// lacks either entry.
std::shared_ptr<mts::SharedPropertyGroup> OpenProfileGroup(const CParse& parse) {
  const std::string name = parse.ConDBMSName() + parse.ConDBMSVersion() + "DataSource";
  auto manager = std::make_shared<mts::SharedPropertyGroupManager>();
  std::int32_t isolation = mts::LockSetGet;
  std::int32_t release = mts::Process;
  return manager->CreatePropertyGroup(name, isolation, release);
}

// Only a Boolean True marks a loaded profile; anything else (a new property's Empty included)
// means not loaded.
bool IsTrue(const Variant& value) { return value.vt() == automation::VT_BOOL && value.boolean(); }

// The connection's property of that name, or nothing when the collection has none or reading it
// fails.
std::optional<Variant> ReadProviderProperty(db::Connection& cn, std::string_view name) {
  try {
    if (const db::Property* p = cn.GetProperties().Find(name)) return p->Value;
  } catch (const automation::Error&) {
  }
  return std::nullopt;
}

// What a load stores for one item, or nothing when the item stays unwritten.
std::optional<Variant> StoredValue(const ProfileItem& item, const std::optional<Variant>& read) {
  const bool missing = !read || read->IsEmptyOrNull();
  switch (item.kind) {
    case ItemKind::Text: return missing ? Variant(std::string()) : *read;
    case ItemKind::Flag: return missing ? Variant(false) : *read;
    case ItemKind::YesNo: {
      if (missing) return Variant(false);
      try {
        return Variant(automation::ToText(*read) == "Y");
      } catch (const automation::Error&) {
        return Variant(false);  // a value that is no text at all counts as missing
      }
    }
    case ItemKind::BitMask:
      // A Null mask is stored as it is; its reader then refuses it.
      if (!read || read->IsEmpty()) return std::nullopt;
      return *read;
  }
  return std::nullopt;
}

// A profile value handed to a typed result: Null is refused with 94 "Invalid use of Null", as an
// assignment of Null to a text, Boolean or number is.
const Variant& NotNull(const Variant& value) {
  if (value.IsNull()) automation::Raise(automation::errors::kInvalidUseOfNull);
  return value;
}

}  // namespace

std::string CDataSource::DBMSVersion() const {
  return automation::ToText(NotNull(GetProfileValue("DBMSVersion", false)));
}

bool CDataSource::MultipleResults() const {
  return automation::ToBool(NotNull(GetProfileValue("MultipleResults", false)));
}

bool CDataSource::LikeEscapeClause() const {
  return automation::ToBool(NotNull(GetProfileValue("LikeEscapeClause", false)));
}

bool CDataSource::IEF() const { return automation::ToBool(NotNull(GetProfileValue("IEF", false))); }

std::int32_t CDataSource::NumericFunctions() const {
  return automation::ToLong(NotNull(GetProfileValue("NumericFunctions", false)));
}

std::int32_t CDataSource::StringFunctions() const {
  return automation::ToLong(NotNull(GetProfileValue("StringFunctions", false)));
}

std::int32_t CDataSource::SystemFunctions() const {
  return automation::ToLong(NotNull(GetProfileValue("SystemFunctions", false)));
}

std::int32_t CDataSource::DateTimeFunctions() const {
  return automation::ToLong(NotNull(GetProfileValue("DateTimeFunctions", false)));
}

bool CDataSource::ProcSupported(const std::string& ProcName) const {
  const Variant procs = GetProfileValue(std::string(kSupportedProc), true);
  if (!procs.IsObject() || !procs.object()) automation::Raise(automation::errors::kObjectNotSet);
  // The record this loader stores is only read from now on, so any thread may look it up; a
  // record that some other component stored there is called by name.
  if (const auto* record = dynamic_cast<const objlib::KeyedRecord*>(procs.object().get()))
    return record->Lookup(ProcName);
  return automation::ToBool(automation::Call(*procs.object(), "Lookup", ProcName));
}

Variant CDataSource::GetProfileValue(const std::string& name, const bool& RaiseErrors) const {
  if (!ParseObject) automation::Raise(automation::errors::kObjectNotSet);
  const auto group = OpenProfileGroup(*ParseObject);
  if (!IsTrue(group->CreateProperty(kConnected)->Value()) && !LoadProfile(Variant(RaiseErrors))) return {};
  // After a complete load every item's property exists (the bit masks perhaps unwritten).
  return group->Property(name)->Value();
}

bool CDataSource::LoadProfile(const Variant& RaiseErrors) const {
  try {
    // Stage 1: a connection of the load's own, without the isolation statement of Connection,
    // and the group. Any error ends the load.
    if (!ParseObject) automation::Raise(automation::errors::kObjectNotSet);
    const std::string connectString = ParseObject->ConStr();
    auto cn = db::Connection::New();
    cn->Open(connectString, "", "", db::adOptionUnspecified);
    const auto group = OpenProfileGroup(*ParseObject);

    // Stage 2: the provider's items. Each is written on its own; an item that cannot be read
    // takes its default (or stays unwritten), and the load goes on.
    try {
      cn->RefreshProperties();
    } catch (const automation::Error&) {
    }
    for (const ProfileItem& item : kItems) {
      const auto property = group->CreateProperty(item.property);
      if (auto value = StoredValue(item, ReadProviderProperty(*cn, item.provider))) property->SetValue(std::move(*value));
    }

    // Stage 3: the stored procedures, then the mark of a complete load, last. Any error ends the
    // load before the mark is written.
    auto procs = objlib::KeyedRecord::New();
    {
      auto rs = db::Recordset::New();
      rs->Open(kProcQuery, db::ActiveConnectionSource(cn), db::adOpenForwardOnly, db::adLockReadOnly, db::adCmdText);
      while (!rs->IsEOF()) {
        procs->SetValue(automation::ToText(rs->GetFields().Item("FProcName").Value()), Variant(true));
        rs->MoveNext();
      }
      rs->Close();
    }
    group->CreateProperty(kSupportedProc)->SetValue(Variant(automation::DispatchPtr(procs)));
    group->CreateProperty(kConnectString)->SetValue(Variant(connectString));
    group->CreateProperty(kConnected)->SetValue(Variant(true));
    cn->Close();
    return true;
  } catch (const automation::Error& e) {
    // The connection, if it was opened, goes back as it goes out of scope. The error is passed
    // on with its number, source and description only.
    const bool raise = !RaiseErrors.IsEmptyOrNull() && automation::ToBool(RaiseErrors);
    if (raise) automation::Raise(e.Number(), e.Source(), e.Description());
    return false;
  }
}

}  // namespace morvane::datasource
