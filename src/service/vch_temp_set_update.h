// VchTempSetUpdate: the four changes of the voucher template settings in CB_CostVchTempSet:
// Append inserts rows, Update changes the row a key filter selects, Delete deletes the rows a
// filter selects, UpdateInsert replaces every row of one voucher class.
//
// Transaction attribute Required. With bMts True (the default) a change votes SetAbort first and
// SetComplete when every statement has run, so any failure undoes the whole call; with bMts False
// it casts no vote and the caller's transaction decides. Append and UpdateInsert ask the security
// service first. Failures raise the numbered errors of the command builder and pass unchanged.
// The client's records and lists are never modified. Raises 91 when the object runs without the
// runtime (nothing is written then).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/automation/dispatch_table.h"
#include "service/service_object.h"

namespace morvane::commandbuilder {
class CommandBuilder;
}

namespace morvane::service {

class VchTempSetUpdate : public automation::DispatchObject<VchTempSetUpdate>, private ServiceObject {
 public:
  static const automation::DispatchTable<VchTempSetUpdate>& Table();

  // Inserts one row per element of Properties; returns 0.
  std::int32_t Append(const std::string& sDsn, const automation::DispatchPtr& Properties, bool bMts = true);
  // Updates the row whose key aFilter gives with the values of element 1 of Properties.
  void Update(const std::string& sDsn, const automation::DispatchPtr& aFilter,
              const automation::DispatchPtr& Properties, bool bMts = true);
  // Deletes the row whose key aFilter gives or, without a complete key, every row matching it.
  void Delete(const std::string& sDsn, const automation::DispatchPtr& aFilter, bool bMts = true);
  // Deletes every row of element 1's voucher class, then inserts every element; returns 0. An
  // empty list returns 0 at once, touching nothing.
  std::int32_t UpdateInsert(const std::string& sDsn, const automation::DispatchPtr& Properties, bool bMts = true);

 private:
  // A command builder described with the sixteen columns of CB_CostVchTempSet.
  std::unique_ptr<commandbuilder::CommandBuilder> DescribTable(const automation::DispatchPtr& aFields);
  // Frame steps before the change: the pessimistic vote, the environment, the rights check.
  void BeginChange(const std::string& sDsn, bool bMts, bool checkRights);
  static void EndChange(bool bMts);
  // Inserts a clone of every element of the list.
  void InsertAll(commandbuilder::CommandBuilder& builder, const automation::DispatchPtr& Properties);
};

}  // namespace morvane::service
