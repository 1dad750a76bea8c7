// The lookups of the error tables (CB_BmErrCode, CB_BmErrItem) and the raising convention of the
// system's own errors. Each lookup opens its own client-side recordset on a new connection of
// the data source; nothing is cached.
#include "support/err_info.h"

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/type_info.h"
#include "platform/db/recordset.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::support {

namespace {

using automation::Variant;

// The first row's FDescriptive as text, or nullopt when the statement finds no row or the column
// is NULL (both then give the caller's fallback text).
std::optional<std::string> FirstDescriptive(const datasource::CDataSource& ds, const std::string& statement) {
  auto rs = db::Recordset::New();
  rs->CursorLocation = db::adUseClient;
  rs->Open(statement, db::ActiveConnectionSource(ds.Connection()));
  if (rs->IsEOF()) return std::nullopt;
  const Variant& value = rs->GetFields().Item("FDescriptive").Value();
  if (value.IsNull()) return std::nullopt;
  return automation::ToText(value);
}

// The item number of a raising site's decimal text; nullopt for a text that is not a number.
std::optional<std::int32_t> ItemNumber(const std::string& item) {
  try {
    return automation::ToLong(Variant(item));
  } catch (const automation::Error&) {
    return std::nullopt;
  }
}

}  // namespace

std::string TextLanguage(const datasource::CDataSource& ds) {
  if (ds.ParseObject) {
    for (const auto& [name, value] : ds.ParseObject->Entries()) {
      if (automation::EqualsIgnoreCase(name, "LANGUAGE")) return value;
    }
  }
  return "chs";
}

std::string GetErrCodeDesc(const datasource::CDataSource& ds, std::int32_t code) {
  const std::string language = TextLanguage(ds);
  // Languages without a column of their own read the simplified-Chinese text, so that the error
  // being raised still reaches the caller.
  std::string statement;
  if (language == "cht") {
    statement = "SELECT FDescriptive_CHT as FDescriptive FROM CB_BmErrCode WHERE FCode =";
  } else if (language == "en") {
    statement = "SELECT FDescriptive_EN as FDescriptive FROM CB_BmErrCode WHERE FCode =";
  } else {
    statement = "SELECT FDescriptive FROM CB_BmErrCode WHERE FCode =";
  }
  statement += std::to_string(code);
  if (auto text = FirstDescriptive(ds, statement)) return *text;
  return GetResString(strings::kUnknownErrorType, language);
}

std::string GetErrItemDesc(const datasource::CDataSource& ds, std::int32_t item) {
  const std::string statement = "SELECT FDescriptive FROM CB_BmErrItem WHERE FItem =" + std::to_string(item);
  auto text = FirstDescriptive(ds, statement);
  if (text) return *text;
  return GetResString(strings::kUnknownErrorItem, TextLanguage(ds));
}

void RaiseFieldError(const datasource::CDataSource& ds, std::int32_t code, const std::string& item,
                     std::optional<std::string> valueSuffix) {
  std::string source = GetErrCodeDesc(ds, code);
  // An item that is not a number names no row: the caption is the unknown-item text.
  const std::optional<std::int32_t> number = ItemNumber(item);
  std::string helpFile =
      number ? GetErrItemDesc(ds, *number) : GetResString(strings::kUnknownErrorItem, TextLanguage(ds));
  if (valueSuffix) helpFile += *valueSuffix;
  automation::Raise(code, std::move(source), item, std::move(helpFile));
}

void RaiseRecordError(const datasource::CDataSource& ds, std::int32_t code) {
  automation::Raise(code, GetErrCodeDesc(ds, code));
}

void RaiseMessageError(const datasource::CDataSource& ds, std::int32_t number, std::string_view message) {
  automation::Raise(number, GetResString(message, TextLanguage(ds)));
}

std::string ErrorValueText(const automation::Variant& value) {
  if (value.IsEmptyOrNull() || value.IsObject()) return {};
  try {
    return automation::ToText(value);
  } catch (const automation::Error&) {
    return {};
  }
}

}  // namespace morvane::support
