// The built-in texts of the component (simplified Chinese; also the resource keys).
#pragma once

#include <string_view>

#include "components/resloader/resource_loader.h"
#include "components/security/security_info.h"

namespace morvane::strings {

inline constexpr std::string_view kUnknownErrorType = "未知错误类型";
inline constexpr std::string_view kUnknownErrorItem = "未知错误项目";
inline constexpr std::string_view kIncompleteKey = "条件关键字不全";
inline constexpr std::string_view kCodeInUse = "该编码已经被使用，不能修改删除";
inline constexpr std::string_view kCostItem = "成本项目";
inline constexpr std::string_view kAuxiliaryProductionExpense = "辅助生产费用";
inline constexpr std::string_view kManufacturingExpense = "制造费用";
inline constexpr std::string_view kAuxiliaryExpense = "辅助费用";

inline constexpr std::string_view kResFileBaseName = "TorCost";
// The suite components that the shared procedures create by ProgID; any registered class of that
// ProgID may stand in for the project's own.
inline constexpr std::string_view kResourceLoaderProgId = components::ResourceLoader::kProgId;
inline constexpr std::string_view kSecurityServiceProgId = components::SecurityInfo::kProgId;

}  // namespace morvane::strings
