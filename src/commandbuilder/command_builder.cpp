// The builder's state and description calls, and the plumbing every statement shares: the
// command and its connection, the parameter rule and the list builders.
#include "commandbuilder/command_builder.h"

#include <algorithm>
#include <utility>

#include "platform/automation/error.h"
#include "platform/db/recordset.h"

namespace morvane::commandbuilder {

namespace {

using automation::errors::kInvalidProcedureCall;
using automation::errors::kObjectNotSet;

// The description array grows by an eighth of the count, at least 4 and at most 1024 entries.
constexpr std::int32_t kMinGrowth = 4;
constexpr std::int32_t kMaxGrowth = 1024;

}  // namespace

CommandBuilder::CommandBuilder() = default;
CommandBuilder::~CommandBuilder() = default;

void CommandBuilder::InitClassDataEnv(const std::string& Props) {
  auto parse = std::make_shared<datasource::CParse>();
  parse->ParseString(Props);
  auto dataSource = std::make_shared<datasource::CDataSource>();
  dataSource->ParseObject = std::move(parse);
  m_DataSource = std::move(dataSource);
}

const datasource::CDataSource& CommandBuilder::DataSource() const {
  if (!m_DataSource) {
    automation::Raise(kObjectNotSet, std::nullopt,
                      "The command builder has no data environment: call InitClassDataEnv first");
  }
  return *m_DataSource;
}

void CommandBuilder::Create(std::string aTableName, const DispatchPtr& aFields,
                            db::ActiveConnectionSource aActiveConnection) {
  m_TableName = std::move(aTableName);
  m_Texts.clear();
  if (aFields) SetFields(objlib::RecordRef(aFields).Clone());
  auto command = db::Command::New();
  command->CommandTimeout = 0;
  command->CommandType = db::adCmdText;
  m_Command = std::move(command);
  const auto* connection = std::get_if<std::shared_ptr<db::Connection>>(&aActiveConnection);
  const bool missing = std::holds_alternative<std::monostate>(aActiveConnection) || (connection && !*connection);
  m_ConnectionSource = missing ? db::ActiveConnectionSource(DataSource().Connection()) : std::move(aActiveConnection);
}

void CommandBuilder::DescribField(std::string Name, std::int32_t DataType, std::int32_t Size, bool Required,
                                  std::optional<Variant> Value, std::optional<Variant> Default, std::string Layout,
                                  bool Index, bool Pkey, std::string SourceID, std::int32_t ErrItem) {
  if (Value) FieldsRef();  // a value needs a record to go into: raise before describing anything
  FieldDesc f;
  f.Name = std::move(Name);
  f.DataType = DataType;
  f.Size = Size;
  f.Required = Required;
  if (Default) f.Default = std::move(*Default);
  std::int32_t scale = 0;
  f.ActualType = DataSource().GetActualType(DataType, Size, scale, f.ActualSize, f.BindType);
  f.Layout = std::move(Layout);
  f.Index = Index;
  f.Pkey = Pkey;
  f.SourceID = std::move(SourceID);
  f.ErrItem = ErrItem;

  const std::int32_t count = m_Count + 1;
  const auto capacity = static_cast<std::int32_t>(m_Descriptions.size());
  if (count > capacity) {
    const std::int32_t step = std::clamp(count / 8, kMinGrowth, kMaxGrowth);
    m_Descriptions.resize(static_cast<std::size_t>(std::max(capacity + step, count)));
  }
  FieldDesc& stored = m_Descriptions[static_cast<std::size_t>(count - 1)];
  stored = std::move(f);
  m_Count = count;
  m_Texts.clear();
  m_KeyListing.reset();
  m_RepeatedNames.reset();
  m_ErrItemTexts.clear();
  if (Value) FieldsRef().SetValue(stored.Name, *Value);
}

const FieldDesc& CommandBuilder::Description(std::int32_t index) const {
  if (index < 1 || index > m_Count) automation::Raise(automation::errors::kSubscriptOutOfRange);
  return m_Descriptions[static_cast<std::size_t>(index - 1)];
}

DispatchPtr CommandBuilder::Fields() const { return m_Fields ? m_Fields->object() : nullptr; }

void CommandBuilder::SetFields(DispatchPtr record) {
  if (record) {
    m_Fields.emplace(std::move(record));
  } else {
    m_Fields.reset();
  }
}

const objlib::RecordRef& CommandBuilder::FieldsRef() const {
  if (!m_Fields) automation::Raise(kObjectNotSet, std::nullopt, "The command builder has no Fields record");
  return *m_Fields;
}

objlib::RecordRef& CommandBuilder::FieldsRef() {
  return const_cast<objlib::RecordRef&>(std::as_const(*this).FieldsRef());
}

bool CommandBuilder::IsFieldsDirty() const {
  const objlib::RecordRef& fields = FieldsRef();
  for (std::int32_t i = 1; i <= m_Count; ++i) {
    if (fields.Lookup(Description(i).Name)) return true;
  }
  return false;
}

db::Command& CommandBuilder::CommandRef() const {
  if (!m_Command) automation::Raise(kObjectNotSet, std::nullopt, "The command builder has no command: call Create first");
  return *m_Command;
}

std::int32_t CommandBuilder::CommandTimeout() const { return CommandRef().CommandTimeout; }

void CommandBuilder::SetCommandTimeout(std::int32_t NewVal) { CommandRef().CommandTimeout = NewVal; }

void CommandBuilder::PrepareCommand() {
  if (!m_Command) {
    auto command = db::Command::New();
    command->CommandTimeout = 0;
    command->CommandType = db::adCmdText;
    m_ConnectionSource = DataSource().Connection();
    m_Command = std::move(command);
  }
  if (!m_Command->HasActiveConnection()) m_Command->ActiveConnection = m_ConnectionSource;
  ClearParameters();
}

void CommandBuilder::ClearParameters() { m_Command->GetParameters().Clear(); }

CommandBuilder::PresentFields CommandBuilder::Present(const objlib::RecordRef& r) const {
  PresentFields present;
  present.reserve(static_cast<std::size_t>(m_Count));
  for (std::int32_t i = 1; i <= m_Count; ++i) {
    Variant value;
    if (r.Lookup(Description(i).Name, &value)) present.push_back(PresentField{i, std::move(value)});
  }
  if (present.empty()) automation::Raise(kInvalidProcedureCall);
  return present;
}

std::string CommandBuilder::ColumnList(const PresentFields& present) const {
  std::string list;
  for (const PresentField& p : present) {
    if (!list.empty()) list += ',';
    list += Description(p.index).Name;
  }
  return list;
}

std::string CommandBuilder::PlaceholderList(const PresentFields& present) const {
  std::string list;
  for (std::size_t i = 0; i < present.size(); ++i) list += i == 0 ? "?" : ",?";
  return list;
}

std::string CommandBuilder::AssignmentList(const PresentFields& present, std::string_view sep) const {
  // Pieces " Name=? " + sep follow each other; the last sep is removed.
  std::string list;
  for (const PresentField& p : present) {
    list += ' ';
    list += Description(p.index).Name;
    list += "=? ";
    list += sep;
  }
  list.resize(list.size() - sep.size());
  return list;
}

void CommandBuilder::BindValue(const FieldDesc& f, std::string name, Variant value) {
  // Made in place: what Command::CreateParameter makes, without passing the value on once more.
  m_Command->GetParameters().Append(std::move(name), f.BindType, db::adParamInput, f.ActualSize, std::move(value));
}

void CommandBuilder::BindValues(PresentFields&& present) {
  for (PresentField& p : present) {
    const FieldDesc& f = Description(p.index);
    BindValue(f, f.Name, std::move(p.value));
  }
}

std::shared_ptr<db::Recordset> CommandBuilder::RunQuery(const std::string& text) {
  m_Command->CommandText = text;
  return m_Command->Execute(nullptr, db::adOptionUnspecified);
}

}  // namespace morvane::commandbuilder
