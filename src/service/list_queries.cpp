#include "service/list_queries.h"

namespace morvane::service {

std::string QuoteLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string BaseListSql(std::string_view typeName) {
  std::string s;
  s += "SELECT '301' AS FTypeID,'";
  s += QuoteLiteral(typeName);
  s += "' AS FTypeName,a.FID AS FExpDeptID,a.FName AS FExpDeptName,";
  s += "b.FExpenseID,b.FExpenseName,b.FAcctID,b.FAcctName,b.FItemClassID,b.FItemClassName,";
  s += "b.FItemID,b.FItemName,b.FRemark,b.FGroupID,b.FGroupName";
  s += " FROM CB_BmExpDept a LEFT JOIN (SELECT * FROM CB_CostVchTempSet ";
  s += " WHERE FTypeID = '301') b ON b.FExpDeptID= a.FID";
  s += " WHERE a.FType = 0";
  s += " ORDER BY FTypeID,FExpDeptID";
  return s;
}

namespace {

// Categories 201 and 202: the auxiliary departments crossed with a second axis (`secondAxis`, a
// table expression aliased b), left-joined with the settings of the category.
std::string AuxiliaryDepartmentListSql(std::string_view code, std::string_view typeName,
                                       std::string_view secondAxis) {
  std::string s;
  s += "SELECT '";
  s += code;
  s += "' AS FTYPEID,'";
  s += QuoteLiteral(typeName);
  s += "' AS FTypeName,c.*, d.FAcctID,d.FAcctName,d.FItemClassID,";
  s += "d.FItemClassName,d.FItemID , d.FItemName, d.FRemark, d.FGroupID, d.FGroupName  FROM";
  s += " (SELECT a.FID AS FExpDeptID,a.FName AS FExpDeptName,b.FID AS FExpenseID,";
  s += "b.FName AS FExpenseName FROM (SELECT * FROM CB_BmExpDept WHERE FType=1) a,";
  s += secondAxis;
  s += ") c LEFT JOIN CB_CostVchTempSet d";
  s += " ON c.FExpDeptID = d.FExpDeptID And c.FExpenseID = d.FExpenseID AND d.FTypeID = '";
  s += code;
  s += "'";
  s += "  ORDER BY c.FExpDeptID,c.FExpenseID";
  return s;
}

}  // namespace

std::string AssListSql(std::string_view typeName) {
  return AuxiliaryDepartmentListSql("201", typeName, "(SELECT * FROM CB_BmExpDept WHERE FTYPE<>1) b");
}

std::string ALendListSql(std::string_view typeName) {
  return AuxiliaryDepartmentListSql("202", typeName, "CB_BmExpense b");
}

std::string BLendListSql(std::string_view typeName, std::string_view assistExpenseName) {
  std::string s;
  s += "SELECT '302' AS FTypeID,'";
  s += QuoteLiteral(typeName);
  s += "' AS FTypeName,c.*, d.FAcctID,";
  s += "d.FAcctName,d.FItemClassID,d.FItemClassName,";
  s += "d.FItemID , d.FItemName, d.FRemark, d.FGroupID, d.FGroupName ";
  s += " FROM ";
  s += " (SELECT a.FID AS FExpDeptID,a.FName AS FExpDeptName,";
  s += "b.FID AS FExpenseID,b.FName AS FExpenseName FROM (SELECT * FROM CB_BmExpDept WHERE FType=0) a,";
  s += "(Select FID,FName FROM CB_BmExpense Union SELECT 'AssistExpenseID' AS FID,'";
  s += QuoteLiteral(assistExpenseName);
  s += "' AS FName) b ) c";
  s += " LEFT JOIN CB_CostVchTempSet d";
  s += " ON c.FExpDeptID = d.FExpDeptID And c.FExpenseID = d.FExpenseID AND d.FTypeID = '302' ";
  s += " ORDER BY c.FExpDeptID,c.FExpenseID";
  return s;
}

}  // namespace morvane::service
