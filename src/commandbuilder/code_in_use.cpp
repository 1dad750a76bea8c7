// The code-in-use check: a code may be changed or deleted only while no row of the named table
// holds it. The code is bound as a parameter, so a code holding a quote is found exactly and
// cannot change the statement; the caller's extra condition is SQL of the caller's own.
#include <algorithm>

#include "commandbuilder/command_builder.h"
#include "commandbuilder/value_rules.h"
#include "platform/automation/error.h"
#include "platform/db/recordset.h"
#include "support/err_info.h"
#include "support/strings.h"

namespace morvane::commandbuilder {

namespace errors = automation::errors;

namespace {

constexpr std::string_view kStandardTable = "CB_BmStandard";

}  // namespace

bool CommandBuilder::BmIDUsed(std::string aTable, std::string aField, std::string aValue, std::string sFilter) {
  if (aTable.empty()) automation::Raise(errors::kInvalidProcedureCall);
  // The numbered variants of the standard table ("CB_BmStandard1" ...) keep their codes in the
  // standard table itself.
  const std::string table = WithoutLastCharacter(aTable) == kStandardTable ? std::string(kStandardTable) : aTable;
  std::string text = "SELECT " + aField + " FROM " + table + " WHERE " + aField + "=?";
  // Parenthesised so that a condition holding OR still narrows the search instead of widening it.
  if (!sFilter.empty()) text += " AND (" + sFilter + ")";

  const datasource::CDataSource& ds = DataSource();
  PrepareCommand();
  const auto size = std::max<std::int32_t>(1, static_cast<std::int32_t>(aValue.size()));
  m_Command->GetParameters().Append(
      db::Command::CreateParameter(std::string(), db::adVarWChar, db::adParamInput, size, Variant(std::move(aValue))));
  if (!RunQuery(text)->IsEOF()) support::RaiseMessageError(ds, errors::kCodeInUse, strings::kCodeInUse);
  return false;
}

}  // namespace morvane::commandbuilder
