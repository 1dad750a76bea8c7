// The record and list objects that the calls of the public classes take, built from name/value
// pairs, and a setting row of the settings table. Fixtures derive from SettingRecords so that
// their tests can write Record(...), List(...) and Setting(...).
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "platform/automation/variant.h"

namespace morvane::testing {

struct SettingRecords {
  // A record of name/value pairs.
  static std::shared_ptr<objlib::KeyedRecord> Record(
      std::initializer_list<std::pair<const char*, automation::Variant>> entries) {
    auto r = objlib::KeyedRecord::New();
    for (const auto& [k, v] : entries) r->SetValue(k, v);
    return r;
  }
  // A list of the records, in order.
  static std::shared_ptr<objlib::RecordList> List(std::initializer_list<std::shared_ptr<objlib::KeyedRecord>> items) {
    auto l = objlib::RecordList::New();
    for (const auto& r : items) l->Add(automation::Variant(automation::DispatchPtr(r)));
    return l;
  }
  // A setting row of class `vchClass` for the key (type, dept, expense), with a remark.
  static std::shared_ptr<objlib::KeyedRecord> Setting(const char* vchClass, const char* type, const char* dept,
                                                      const char* expense, const char* remark = "r") {
    return Record({{"FVchClass", vchClass},
                   {"FTypeID", type},
                   {"FExpDeptID", dept},
                   {"FExpenseID", expense},
                   {"FRemark", remark}});
  }
};

}  // namespace morvane::testing
