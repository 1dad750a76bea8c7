// The check of one field value against its description: the variant type of an ADO data type,
// and the in-place conversion with the required flag and the declared size. The text meter is
// per thread, created on first use.
#include <memory>

#include "components/objlib/text_meter.h"
#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/ado_constants.h"
#include "support/err_info.h"
#include "support/globals.h"

namespace morvane::support {

namespace errors = automation::errors;

namespace {


const objlib::TextMeter& ThreadTextMeter() {
  thread_local std::shared_ptr<objlib::TextMeter> meter;
  if (!meter) meter = std::make_shared<objlib::TextMeter>();
  return *meter;
}

// The value part of the value check's messages: " = '" + value + "'".
std::string ValueSuffix(const Variant& value) { return " = '" + ErrorValueText(value) + "'"; }

}  // namespace

std::int32_t GetVarType(std::int32_t dataType) {
  using namespace db;
  switch (dataType) {
    case adSmallInt: return automation::VT_I2;
    case adInteger: return automation::VT_I4;
    case adSingle: return automation::VT_R4;
    case adDouble: return automation::VT_R8;
    case adCurrency: return automation::VT_CY;
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp: return automation::VT_DATE;
    case adBoolean: return automation::VT_BOOL;
    // Decimal, numeric and 64-bit integer columns are handled as text.
    case adDecimal:
    case adBigInt:
    case adChar:
    case adWChar:
    case adNumeric:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar: return automation::VT_BSTR;
    case adTinyInt: return automation::VT_UI1;
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: return automation::VT_BYTES;
    default: return automation::VT_EMPTY;  // adLongVarWChar, adUnsignedTinyInt, adGUID, ...
  }
}

void CheckFieldValue(const datasource::CDataSource& ds, const std::string& item, Variant& value,
                     std::int32_t varType, std::int32_t size, bool required) {
  const auto emptyValue = [&] {
    if (required) RaiseFieldError(ds, errors::kRequiredValueMissing, item);
    value = Variant::Null();
  };
  if (value.IsEmptyOrNull()) {
    emptyValue();
    return;
  }
  if (value.vt() != varType) {
    Variant converted;
    try {
      converted = automation::Converted(value, static_cast<automation::VarType>(varType));
    } catch (const automation::Error&) {
      RaiseFieldError(ds, errors::kValueNotConvertible, item, ValueSuffix(value));
    }
    value = std::move(converted);
  }
  if (value.IsText()) {
    // A text has no more characters than bytes: only one longer in bytes than the size is
    // measured.
    if (size > 0 && value.text().size() > static_cast<std::size_t>(size)) {
      const std::int32_t measure = ThreadTextMeter().Measure(value.text());
      if (measure > size) RaiseFieldError(ds, errors::kValueTooLong, item, ValueSuffix(value));
    }
    return;
  }
  if (value.vt() == automation::VT_BYTES) {
    const auto count = static_cast<std::int64_t>(value.bytes().size());
    if (count == 0) {
      emptyValue();
      return;
    }
    if (size > 0 && count > size) RaiseFieldError(ds, errors::kValueTooLong, item, ValueSuffix(value));
  }
}

}  // namespace morvane::support
