#include "call/class_description.h"

#include <string>
#include <string_view>

namespace morvane::call {

namespace {

std::string_view AttributeName(automation::TransactionAttribute attribute) {
  switch (attribute) {
    case automation::TransactionAttribute::Required: return "Required";
    case automation::TransactionAttribute::Supported: return "Supported";
    case automation::TransactionAttribute::NotSupported: break;
  }
  return "NotSupported";
}

std::string_view KindName(automation::InvokeKind kind) {
  switch (kind) {
    case automation::InvokeKind::PropertyGet: return "propertyGet";
    case automation::InvokeKind::PropertyPut: return "propertyPut";
    case automation::InvokeKind::Method: break;
  }
  return "method";
}

}  // namespace

Json ClassJson(const automation::TypeInfo& info) {
  Json members = Json::array();
  for (const auto& member : info.members) {
    Json params = Json::array();
    for (const auto& param : member.params) {
      Json defaultValue = nullptr;
      if (param.optional && !param.defaultValue.IsMissing()) {
        try {
          defaultValue = ToJson(param.defaultValue);
        } catch (const JsonFormError&) {
          defaultValue = nullptr;
        }
      }
      params.push_back(Json{{"name", param.name},
                            {"type", std::string(automation::VarTypeName(param.type))},
                            {"byRef", param.byRef},
                            {"optional", param.optional},
                            {"default", defaultValue}});
    }
    members.push_back(Json{{"name", member.name},
                           {"dispId", member.dispId},
                           {"kind", std::string(KindName(member.kind))},
                           {"result", member.result == automation::VT_EMPTY
                                          ? Json(nullptr)
                                          : Json(std::string(automation::VarTypeName(member.result)))},
                           {"params", std::move(params)}});
  }
  return Json{{"progId", info.progId},
              {"className", info.className},
              {"clsid", info.clsid},
              {"interface", info.interfaceName},
              {"iid", info.iid},
              {"typeLibrary", info.typeLibrary},
              {"transaction", std::string(AttributeName(info.transaction))},
              {"members", std::move(members)}};
}

}  // namespace morvane::call
