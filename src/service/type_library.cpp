#include "service/type_library.h"

namespace morvane::service {

automation::TypeInfo ClassIdentity(std::string_view className, std::string_view clsid, std::string_view iid,
                                   automation::TransactionAttribute transaction) {
  automation::TypeInfo info;
  info.className = std::string(className);
  info.progId = std::string(kTypeLibraryName) + "." + std::string(className);
  info.clsid = std::string(clsid);
  // Appended to the empty text: GCC 12 warns (-Wrestrict) at -O3 on "_" + std::string, and also on
  // assigning "_" here.
  info.interfaceName.push_back('_');
  info.interfaceName.append(className);
  info.iid = std::string(iid);
  info.typeLibrary = std::string(kTypeLibraryName);
  info.transaction = transaction;
  const std::string_view attribute = transaction == automation::TransactionAttribute::Required
                                         ? kTransactionRequiredAttribute
                                         : kTransactionSupportedAttribute;
  info.customAttributes.push_back({std::string(attribute), automation::Variant(std::int32_t{0})});
  return info;
}

}  // namespace morvane::service
