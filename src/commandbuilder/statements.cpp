// The writing operations of the builder: INSERT, UPDATE and DELETE joined from the field
// descriptions, the key narrowing of filters, and the update's merge with the stored row.
#include <cstring>

#include "commandbuilder/command_builder.h"
#include "commandbuilder/value_rules.h"
#include "platform/automation/error.h"
#include "platform/db/recordset.h"
#include "support/err_info.h"
#include "support/strings.h"

namespace morvane::commandbuilder {

namespace errors = automation::errors;

namespace {


// Appends the description indexes of the fields to a statement's cache key.
void AppendIndexes(std::string& key, const auto& present) {
  for (const auto& p : present) {
    char bytes[sizeof p.index];
    std::memcpy(bytes, &p.index, sizeof bytes);
    key.append(bytes, sizeof bytes);
  }
  key += '|';
}

}  // namespace

bool CommandBuilder::ExecInsert() {
  DispatchPtr noFilter;
  return ExecStatement(StatementKind::Insert, noFilter);
}

bool CommandBuilder::ExecUpdate(DispatchPtr& aFilter) { return ExecStatement(StatementKind::Update, aFilter); }

bool CommandBuilder::ExecDelete(DispatchPtr& aFilter) { return ExecStatement(StatementKind::Delete, aFilter); }

bool CommandBuilder::ExecUpdateInsert(DispatchPtr& aFilter) {
  if (!NarrowToKey(aFilter)) {
    support::RaiseMessageError(DataSource(), errors::kUpdateInsertKeyIncomplete, strings::kIncompleteKey);
  }
  const StatementKind kind =
      RecordExists(Present(objlib::RecordRef(aFilter))) ? StatementKind::Update : StatementKind::Insert;
  return ExecStatement(kind, aFilter);
}

bool CommandBuilder::ExecStatement(StatementKind kind, DispatchPtr& aFilter) {
  PresentFields checked;  // the fields of an inserted row, as its checks left them
  switch (kind) {
    case StatementKind::Insert:
      if (!IsFieldsDirty()) return false;
      CheckRow(true, true, &checked);
      break;
    case StatementKind::Update:
      if (!IsFieldsDirty()) return false;
      PrepareUpdate(aFilter);
      break;
    case StatementKind::Delete:
      // An incomplete filter is used as given.
      NarrowToKey(aFilter);
      break;
    case StatementKind::Exists:
      automation::Raise(errors::kInvalidProcedureCall);
  }
  PrepareCommand();
  PresentFields fields;
  PresentFields filter;
  if (!checked.empty())
    fields = std::move(checked);
  else if (kind != StatementKind::Delete)
    fields = Present(FieldsRef());
  if (kind != StatementKind::Insert) filter = Present(objlib::RecordRef(aFilter));
  m_Command->CommandText = BuildStatement(kind, std::move(fields), std::move(filter));
  std::int64_t recordsAffected = 0;  // asked for and not reported
  m_Command->Execute(&recordsAffected, db::adOptionUnspecified);
  return true;
}

const std::string& CommandBuilder::BuildStatement(StatementKind kind, PresentFields&& fields, PresentFields&& filter) {
  // The text depends only on the kind and on which described fields are listed, so it is joined
  // once per builder and shape; the values are bound anew every time.
  // The key is joined in a buffer kept from statement to statement, so that it costs no memory
  // of its own unless the text is new.
  std::string& key = m_TextKey;
  key.assign(1, static_cast<char>('0' + static_cast<int>(kind)));
  AppendIndexes(key, fields);
  AppendIndexes(key, filter);
  auto cached = m_Texts.find(key);
  if (cached == m_Texts.end()) {
    std::string text;
    switch (kind) {
      case StatementKind::Insert:
        text = "INSERT INTO " + m_TableName + " (" + ColumnList(fields) + ")" + "VALUES (" + PlaceholderList(fields) + ")";
        break;
      case StatementKind::Update:
        text = "UPDATE " + m_TableName + " SET " + AssignmentList(fields, ",") + " WHERE " + AssignmentList(filter, "AND");
        break;
      case StatementKind::Delete:
        text = "DELETE FROM " + m_TableName + " WHERE " + AssignmentList(filter, "AND");
        break;
      case StatementKind::Exists:
        text = "SELECT " + ColumnList(filter) + " FROM " + m_TableName + " WHERE " + AssignmentList(filter, "AND");
        break;
    }
    cached = m_Texts.emplace(key, std::move(text)).first;
  }
  BindValues(std::move(fields));
  BindValues(std::move(filter));
  return cached->second;
}

bool CommandBuilder::NarrowToKey(DispatchPtr& aFilter) const {
  const objlib::RecordRef filter(aFilter);
  auto keys = objlib::KeyedRecord::New();
  for (std::int32_t i = 1; i <= m_Count; ++i) {
    const FieldDesc& f = Description(i);
    if (!f.Pkey) continue;
    Variant value;
    if (!filter.Lookup(f.Name, &value)) return false;
    keys->SetValue(f.Name, std::move(value));
  }
  if (keys->Count() == 0) return false;  // a table without key fields
  aFilter = std::move(keys);
  return true;
}

void CommandBuilder::PrepareUpdate(DispatchPtr& aFilter) {
  if (!NarrowToKey(aFilter)) support::RaiseMessageError(DataSource(), errors::kUpdateKeyIncomplete, strings::kIncompleteKey);
  PrepareCommand();
  PresentFields filter = Present(objlib::RecordRef(aFilter));
  const std::string text = "SELECT * FROM " + m_TableName + " WHERE " + AssignmentList(filter, "AND");
  BindValues(std::move(filter));
  auto stored = RunQuery(text);
  if (stored->IsEOF()) support::RaiseRecordError(DataSource(), errors::kRowNotFound);
  MergeStoredRow(*stored);
  // A changed key must not be stored yet; an unchanged one must be.
  CheckFields(!KeyUnchanged(aFilter), false);
}

void CommandBuilder::MergeStoredRow(db::Recordset& row) {
  objlib::RecordRef& fields = FieldsRef();
  for (std::int32_t i = 1; i <= m_Count; ++i) {
    const FieldDesc& f = Description(i);
    Variant given;
    if (!fields.Lookup(f.Name, &given)) {
      // A column the caller left out keeps its stored value: the UPDATE writes every column.
      fields.SetValue(f.Name, row.GetFields().Item(f.Name).Value());
    } else if (f.Index) {
      const Variant stored = row.GetFields().Item(f.Name).Value();
      if (!SameValue(stored, given) && IndexValueExists(f)) RaiseValueError(f, errors::kIndexValueStored);
    }
  }
}

bool CommandBuilder::KeyUnchanged(const DispatchPtr& aFilter) const {
  const objlib::RecordRef& fields = FieldsRef();
  const objlib::RecordRef filter(aFilter);
  for (std::int32_t i = 1; i <= m_Count; ++i) {
    const FieldDesc& f = Description(i);
    if (f.Pkey && !SameValue(fields.Value(f.Name), filter.Value(f.Name))) return false;
  }
  return true;
}

}  // namespace morvane::commandbuilder
