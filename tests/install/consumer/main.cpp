// consumer SDSN: registers the library's classes, creates Morvane.VchTempSetInfo through the
// runtime and prints the number of rows of GetBaseList and the first row's FTypeName. An error the
// call raises is printed as "error NUMBER: DESCRIPTION" (exit code 1).
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/late_binding.h"
#include "platform/mts/runtime.h"
#include "service/module.h"

namespace automation = morvane::automation;

namespace {

automation::Variant Get(automation::Dispatch& obj, const char* name, std::vector<automation::Variant> args) {
  return automation::CallByName(obj, name, automation::InvokeKind::PropertyGet, args);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: consumer SDSN\n";
    return 2;
  }
  try {
    DllRegisterServer();
    automation::DispatchPtr info = morvane::mts::CreateObject("Morvane.VchTempSetInfo");
    automation::Variant list = automation::Call(*info, "GetBaseList", std::string(argv[1]));
    const std::int32_t rows = automation::ToLong(Get(*list.object(), "UBound", {}));
    std::cout << "rows " << rows << "\n";
    if (rows > 0) {
      automation::Variant first = Get(*list.object(), "Item", {automation::Variant(std::int32_t{1})});
      std::cout << "FTypeName " << automation::ToText(Get(*first.object(), "Value", {automation::Variant("FTypeName")}))
                << "\n";
    }
    return 0;
  } catch (const automation::Error& e) {
    std::cout << "error " << e.Number() << ": " << e.Description() << "\n";
  }
  return 1;
}
