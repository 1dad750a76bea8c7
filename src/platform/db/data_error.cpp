#include "platform/db/data_error.h"

#include <string>

#include "platform/automation/error.h"
#include "platform/db/ado_constants.h"

namespace morvane::db {

std::string_view DataErrorText(int number) {
  switch (number) {
    case adErrInvalidArgument:
      return "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
    case adErrNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted.";
    case adErrItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or ordinal.";
    case adErrObjectClosed:
      return "Operation is not allowed when the object is closed.";
    case adErrObjectOpen:
      return "Operation is not allowed when the object is open.";
    case adErrProviderNotFound:
      return "Provider cannot be found. It may not be properly installed.";
    case adErrInvalidConnection:
      return "The connection cannot be used to perform this operation. It is either closed or invalid in this "
             "context.";
    default:
      return {};
  }
}

void RaiseDataError(int number, std::string_view detail) {
  std::string description(DataErrorText(number));
  if (!detail.empty()) {
    description += " (";
    description += detail;
    description += ')';
  }
  automation::Raise(number, std::string(kDataAccessSource), std::move(description));
}

}  // namespace morvane::db
