// CommandBuilder: the description-driven writer of table rows. A caller gives it a data
// environment (InitClassDataEnv), names the table (Create), describes the columns one by one
// (DescribField), hands over one row (SetFields) and asks for an insert, update or delete. Every
// statement and every check follows from the field descriptions; every value travels as a bound
// positional parameter ("?"), never inside the text.
//
//   CommandBuilder cb;
//   cb.InitClassDataEnv(sDsn);
//   cb.Create("CB_CostVchTempSet");
//   cb.DescribField("FTypeID", adVarWChar, 10, true, {}, {}, "", false, true, "", 10036);
//   cb.SetFields(row);
//   cb.ExecInsert();   // checks the row, looks its key up, runs INSERT INTO ... VALUES (?,...)
//
// Errors are raised as automation::Error by the convention of support/err_info.h; errors of the
// data-access layer and of the record objects pass through unchanged. Nothing is rolled back
// here: the caller's transaction decides. A builder that has no data environment raises 91 with
// a text saying so.
//
// Thread rules: one builder per operation, used by one thread; it shares nothing with other
// builders (the data type catalogue it reads is the process-wide one of CDataSource).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "components/objlib/record_access.h"
#include "datasource/c_data_source.h"
#include "platform/db/command.h"

namespace morvane::commandbuilder {

using automation::DispatchPtr;
using automation::Variant;

// One described column, in the order the builder was told about it.
struct FieldDesc {
  std::string Name;              // column name; also the key into Fields and into filters
  std::int32_t DataType = 0;     // ADO data type code of the column
  std::int32_t Size = 0;         // declared size (characters for text); 0 when none
  std::int32_t ActualType = 0;   // the database's own type code, from the catalogue
  std::int32_t ActualSize = 0;   // size given to the column's parameters
  std::int32_t BindType = 0;     // type given to the column's parameters
  bool Required = false;         // a value must be present
  Variant Default;               // stands in for a missing or empty value; Empty when none
  std::string Layout;            // allowed values: "a,b,lo-hi"; empty means any value
  bool Index = false;            // the value must not occur in another row
  bool Pkey = false;             // part of the row key
  std::string SourceID;          // "Table.Column" the value must occur in; empty: no reference
  std::int32_t ErrItem = 0;      // error item code naming the column in error messages
};

class CommandBuilder {
 public:
  CommandBuilder();
  ~CommandBuilder();
  CommandBuilder(const CommandBuilder&) = delete;
  CommandBuilder& operator=(const CommandBuilder&) = delete;

  // Parses the property string into a new CParse and binds a new CDataSource to it. Raises the
  // parser's error for a text it cannot take (nothing else changes then).
  void InitClassDataEnv(const std::string& Props);

  // Names the table, takes a clone of aFields as Fields (an absent record leaves Fields as it
  // was) and makes a new command (no time limit, text command). The command runs on
  // aActiveConnection: a connection object (shared), a connection string, or, when it holds
  // nothing, a new connection of the data source (raises 91 without InitClassDataEnv, or the
  // connection's error).
  void Create(std::string aTableName, const DispatchPtr& aFields = nullptr,
              db::ActiveConnectionSource aActiveConnection = {});

  // Appends a field description. The type, size and bind type of its parameters come from the
  // data type catalogue (CDataSource::GetActualType). A given Value is written into Fields under
  // Name (raises 91 when there is no Fields record); a missing Default is stored as Empty. A name
  // described twice is listed twice. Raises 91 without InitClassDataEnv, or the catalogue's error.
  void DescribField(std::string Name, std::int32_t DataType, std::int32_t Size = 0, bool Required = false,
                    std::optional<Variant> Value = std::nullopt, std::optional<Variant> Default = std::nullopt,
                    std::string Layout = "", bool Index = false, bool Pkey = false, std::string SourceID = "",
                    std::int32_t ErrItem = 0);

  // The row to be written (nullptr until given). The checks write converted values and defaults
  // back into it. A record that is not our own KeyedRecord is called by member name.
  DispatchPtr Fields() const;
  void SetFields(DispatchPtr record);
  // A second record slot for callers; no operation of the builder reads it.
  DispatchPtr ForBids() const { return m_ForBids; }
  void SetForBids(DispatchPtr record) { m_ForBids = std::move(record); }

  // True when Fields holds at least one described field. Raises 91 when there is no Fields record.
  bool IsFieldsDirty() const;

  // Checks and converts the row against the descriptions, field by field in description order:
  // value conversion and size (10000, 10004, 10005), defaults, then for a field that has a value
  // Index (10006, when aCheckIndex), Layout (10009) and SourceID (10010); finally the key: 10007
  // when CreateNew and a row with the key exists, 10008 when not CreateNew and none exists (a
  // table without key fields has no such check). Values written before a failure stay in Fields.
  void CheckFields(bool CreateNew = false, bool aCheckIndex = true);

  // Checks the row as new and inserts it. False (and nothing run) when Fields holds no described
  // field; True when the INSERT ran.
  bool ExecInsert();
  // Narrows aFilter to the key fields (the caller's variable is replaced), merges the stored row
  // into Fields, checks and updates. Raises 1 when the filter lacks a key field or the table has
  // no key, 10010 when no row matches, 10006, 10007, 10008 as the checks find. False (nothing
  // run) when Fields holds no described field.
  bool ExecUpdate(DispatchPtr& aFilter);
  // Deletes the rows the filter selects (narrowed to the key when it holds every key field, else
  // used as given). Raises 5 when the filter holds no described field. Always True otherwise.
  bool ExecDelete(DispatchPtr& aFilter);
  // Updates when the narrowed key exists, inserts otherwise; returns that operation's result.
  // Raises 2 when the filter lacks a key field or the table has no key.
  bool ExecUpdateInsert(DispatchPtr& aFilter);

  // The command's time limit in seconds (0, as Create sets it, means none); kept for every later
  // statement of this builder. Raises 91 before the command exists (before Create).
  std::int32_t CommandTimeout() const;
  void SetCommandTimeout(std::int32_t NewVal);

  // Refuses a code that is in use: raises 12222 when a row of aTable (a table named
  // "CB_BmStandard" plus one character is searched in CB_BmStandard) holds aValue in aField and
  // also satisfies sFilter (an SQL condition of the caller's, joined as " AND (" sFilter ")"). The
  // code is bound as a parameter, so a quote in it is part of the code. Returns False otherwise.
  // Raises 5 for an empty aTable, before any statement runs; database errors pass through.
  bool BmIDUsed(std::string aTable, std::string aField, std::string aValue, std::string sFilter = "");

  // The data source of InitClassDataEnv; raises 91 when there is none.
  const datasource::CDataSource& DataSource() const;
  const std::string& TableName() const { return m_TableName; }
  // The descriptions, 1-based (1..DescriptionCount()); DescriptionCapacity() is the allocated size.
  std::int32_t DescriptionCount() const { return m_Count; }
  std::int32_t DescriptionCapacity() const { return static_cast<std::int32_t>(m_Descriptions.size()); }
  const FieldDesc& Description(std::int32_t index) const;

 private:
  enum class StatementKind { Insert, Update, Delete, Exists };
  // A described field found in a record, with the value found (index is 1-based).
  struct PresentField {
    std::int32_t index;
    Variant value;
  };
  using PresentFields = std::vector<PresentField>;

  // Statement plumbing.
  void PrepareCommand();
  void ClearParameters();
  PresentFields Present(const objlib::RecordRef& r) const;  // raises 5 when none is present
  std::string ColumnList(const PresentFields& present) const;
  std::string PlaceholderList(const PresentFields& present) const;
  std::string AssignmentList(const PresentFields& present, std::string_view sep) const;
  void BindValues(PresentFields&& present);
  void BindValue(const FieldDesc& f, std::string name, Variant value);
  std::shared_ptr<db::Recordset> RunQuery(const std::string& text);
  // The text of a statement over the listed fields (SET or VALUES, and WHERE); binds their values
  // in marker order. The text is joined once per kind and shape and kept in m_Texts.
  const std::string& BuildStatement(StatementKind kind, PresentFields&& fields, PresentFields&& filter);
  bool ExecStatement(StatementKind kind, DispatchPtr& aFilter);

  // Update path.
  bool NarrowToKey(DispatchPtr& aFilter) const;
  void PrepareUpdate(DispatchPtr& aFilter);
  void MergeStoredRow(db::Recordset& row);
  bool KeyUnchanged(const DispatchPtr& aFilter) const;

  // Checks. CheckRow is CheckFields that, when `present` is given, also lists the described
  // fields the checked row holds with their final values, as Present(Fields) would list them;
  // it leaves `present` empty when it cannot know that list without reading Fields again (a
  // record not of our own, or a name described twice).
  void CheckRow(bool CreateNew, bool aCheckIndex, PresentFields* present);
  // True when two descriptions name the same field (letter case ignored); worked out once per
  // description set.
  bool HasRepeatedNames();
  // The error item code of description `index` as text (what the value check names the field
  // by); worked out once per description set.
  const std::string& ErrItemText(std::int32_t index);
  bool IndexValueExists(const FieldDesc& f);
  // True when a row holds the values of the record's described fields (given as Present of it).
  bool RecordExists(PresentFields&& r);
  void CheckLayout(const FieldDesc& f);
  bool MatchLayoutItem(const FieldDesc& f, std::string_view item);
  void CheckSource(const FieldDesc& f);
  [[noreturn]] void RaiseValueError(const FieldDesc& f, std::int32_t code);
  // Which described fields the key record of CheckFields lists, and from which key field each
  // takes its value (the last key field of that name); worked out once per description set.
  const std::vector<std::pair<std::int32_t, std::int32_t>>& KeyListing();

  const objlib::RecordRef& FieldsRef() const;
  objlib::RecordRef& FieldsRef();
  db::Command& CommandRef() const;             // raises 91 before the command exists

  std::shared_ptr<datasource::CDataSource> m_DataSource;
  std::optional<objlib::RecordRef> m_Fields;
  DispatchPtr m_ForBids;
  std::string m_TableName;
  std::vector<FieldDesc> m_Descriptions;  // capacity slots; entries 1..m_Count are described
  std::int32_t m_Count = 0;
  db::ActiveConnectionSource m_ConnectionSource;
  std::shared_ptr<db::Command> m_Command;
  // Statement texts already joined, by statement kind and the described fields they list. The
  // descriptions and the table name are fixed while an entry is used; both clear it.
  std::unordered_map<std::string, std::string> m_Texts;
  std::string m_TextKey;  // the buffer BuildStatement joins a key of m_Texts in
  std::optional<std::vector<std::pair<std::int32_t, std::int32_t>>> m_KeyListing;
  std::optional<bool> m_RepeatedNames;
  std::vector<std::string> m_ErrItemTexts;
};

}  // namespace morvane::commandbuilder
