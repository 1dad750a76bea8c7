// The checks that make a row fit its description before it is written: conversion and size of
// each value, defaults, unique values (Index), allowed values (Layout), references (SourceID)
// and the existence of the row's key.
#include "commandbuilder/command_builder.h"
#include "commandbuilder/value_rules.h"
#include "platform/automation/convert.h"
#include "platform/automation/type_info.h"
#include "platform/db/recordset.h"
#include "support/err_info.h"
#include "support/globals.h"

namespace morvane::commandbuilder {

namespace errors = automation::errors;

namespace {


}  // namespace

void CommandBuilder::CheckFields(bool CreateNew, bool aCheckIndex) { CheckRow(CreateNew, aCheckIndex, nullptr); }

void CommandBuilder::CheckRow(bool CreateNew, bool aCheckIndex, PresentFields* present) {
  const datasource::CDataSource& ds = DataSource();
  objlib::RecordRef& fields = FieldsRef();
  // Our own record stores exactly what is written, and with every name described once the value
  // a field ends with below is the value the record holds for it afterwards.
  if (present != nullptr) {
    present->clear();
    if (fields.native() == nullptr || HasRepeatedNames()) present = nullptr;
  }
  if (present != nullptr) present->reserve(static_cast<std::size_t>(m_Count));
  // The key record: the values of the key fields, by description index.
  std::vector<Variant> keyValues(static_cast<std::size_t>(m_Count) + 1);
  for (std::int32_t i = 1; i <= m_Count; ++i) {
    const FieldDesc& f = Description(i);
    Variant v;  // a key field that is absent and gets no default enters the key as Empty
    bool listed = true;  // the field holds a value in Fields when the iteration ends
    if (fields.Lookup(f.Name, &v)) {
      const auto given = v.vt();
      support::CheckFieldValue(ds, ErrItemText(i), v, support::GetVarType(f.DataType), f.Size, f.Required);
      // The value goes back into Fields only when the check changed it (a conversion, or Empty
      // made Null, always changes its type) or a default stands in for it.
      bool changed = v.vt() != given;
      if (v.IsEmptyOrNull() && !f.Default.IsEmpty()) {
        v = f.Default;
        changed = true;
      }
      if (changed) fields.SetValue(f.Name, v);
    } else if (CreateNew && f.Required) {
      if (f.Default.IsEmpty()) support::RaiseFieldError(ds, errors::kRequiredValueMissing, std::to_string(f.ErrItem));
      fields.SetValue(f.Name, f.Default);
      v = f.Default;
    } else {
      listed = false;
    }
    // A field without a value (absent, or empty and not required) has nothing to compare with
    // other rows, an allowed-value list or a referenced column.
    if (!v.IsEmptyOrNull()) {
      if (aCheckIndex && f.Index && IndexValueExists(f)) RaiseValueError(f, errors::kIndexValueStored);
      if (!f.Layout.empty()) CheckLayout(f);
      if (!f.SourceID.empty()) CheckSource(f);
    }
    if (present != nullptr && listed) {
      if (f.Pkey) keyValues[static_cast<std::size_t>(i)] = v;
      present->push_back(PresentField{i, std::move(v)});
    } else if (f.Pkey) {
      keyValues[static_cast<std::size_t>(i)] = std::move(v);
    }
  }
  const auto& listing = KeyListing();
  if (listing.empty()) return;  // a table without key fields has no existence check
  PresentFields key;
  key.reserve(listing.size());
  for (const auto& [listed, source] : listing) key.push_back(PresentField{listed, keyValues[static_cast<std::size_t>(source)]});
  const bool exists = RecordExists(std::move(key));
  if (exists && CreateNew) support::RaiseRecordError(ds, errors::kKeyStored);
  if (!exists && !CreateNew) support::RaiseRecordError(ds, errors::kKeyNotStored);
}

const std::string& CommandBuilder::ErrItemText(std::int32_t index) {
  if (m_ErrItemTexts.size() != static_cast<std::size_t>(m_Count)) {
    m_ErrItemTexts.clear();
    for (std::int32_t i = 1; i <= m_Count; ++i) m_ErrItemTexts.push_back(std::to_string(Description(i).ErrItem));
  }
  return m_ErrItemTexts[static_cast<std::size_t>(index - 1)];
}

bool CommandBuilder::HasRepeatedNames() {
  if (!m_RepeatedNames) {
    bool repeated = false;
    for (std::int32_t i = 1; i <= m_Count && !repeated; ++i)
      for (std::int32_t j = i + 1; j <= m_Count && !repeated; ++j)
        repeated = automation::EqualsIgnoreCase(Description(i).Name, Description(j).Name);
    m_RepeatedNames = repeated;
  }
  return *m_RepeatedNames;
}

const std::vector<std::pair<std::int32_t, std::int32_t>>& CommandBuilder::KeyListing() {
  if (!m_KeyListing) {
    // A record keyed by the key fields' names lists every described field of such a name, with
    // the value of the last key field of that name (names compare without regard to case).
    std::vector<std::pair<std::int32_t, std::int32_t>> listing;
    for (std::int32_t i = 1; i <= m_Count; ++i) {
      std::int32_t source = 0;
      for (std::int32_t j = 1; j <= m_Count; ++j) {
        if (Description(j).Pkey && automation::EqualsIgnoreCase(Description(j).Name, Description(i).Name)) source = j;
      }
      if (source != 0) listing.emplace_back(i, source);
    }
    m_KeyListing = std::move(listing);
  }
  return *m_KeyListing;
}

bool CommandBuilder::IndexValueExists(const FieldDesc& f) {
  PrepareCommand();
  BindValue(f, std::string(), FieldsRef().Value(f.Name));
  return !RunQuery("SELECT " + f.Name + " FROM " + m_TableName + " WHERE " + f.Name + "=?")->IsEOF();
}

bool CommandBuilder::RecordExists(PresentFields&& r) {
  PrepareCommand();
  const std::string& text = BuildStatement(StatementKind::Exists, {}, std::move(r));
  return !RunQuery(text)->IsEOF();
}

void CommandBuilder::CheckLayout(const FieldDesc& f) {
  // Items are tried from the last to the first; the first that matches ends the check.
  std::string_view rest = f.Layout;
  while (true) {
    const std::size_t comma = rest.rfind(',');
    const std::string_view item = comma == std::string_view::npos ? rest : rest.substr(comma + 1);
    if (MatchLayoutItem(f, item)) return;
    if (comma == std::string_view::npos) break;
    rest = rest.substr(0, comma);
  }
  RaiseValueError(f, errors::kLayoutMismatch);
}

bool CommandBuilder::MatchLayoutItem(const FieldDesc& f, std::string_view item) {
  const datasource::CDataSource& ds = DataSource();
  const std::string errItem = std::to_string(f.ErrItem);
  const auto varType = support::GetVarType(f.DataType);
  const std::size_t dash = item.rfind('-');
  Variant lo(automation::AsciiUpper(dash == std::string_view::npos ? item : item.substr(0, dash)));
  support::CheckFieldValue(ds, errItem, lo, varType, f.Size, f.Required);
  const Variant value = FieldsRef().Value(f.Name);
  if (value.IsNull()) return false;
  if (dash == std::string_view::npos) {
    // A single value matches the field's value in upper case.
    const Variant upper = value.IsText() ? Variant(automation::AsciiUpper(value.text())) : value;
    return SameValue(lo, upper);
  }
  Variant hi(automation::AsciiUpper(item.substr(dash + 1)));
  support::CheckFieldValue(ds, errItem, hi, varType, f.Size, f.Required);
  if (lo.IsNull() || hi.IsNull()) return false;
  return automation::CompareValues(lo, value) <= 0 && automation::CompareValues(value, hi) <= 0;
}

void CommandBuilder::CheckSource(const FieldDesc& f) {
  const std::size_t dot = f.SourceID.rfind('.');
  if (dot == std::string::npos) return;
  const std::string table = f.SourceID.substr(0, dot);
  const std::string column = f.SourceID.substr(dot + 1);
  PrepareCommand();
  // Type and size come from the described field, also against another table's column.
  BindValue(f, std::string(), FieldsRef().Value(f.Name));
  if (RunQuery("SELECT " + column + " FROM " + table + " WHERE " + column + "=?")->IsEOF()) {
    RaiseValueError(f, errors::kRowNotFound);
  }
}

void CommandBuilder::RaiseValueError(const FieldDesc& f, std::int32_t code) {
  support::RaiseFieldError(DataSource(), code, std::to_string(f.ErrItem),
                           " ='" + support::ErrorValueText(FieldsRef().Value(f.Name)) + "'");
}

}  // namespace morvane::commandbuilder
