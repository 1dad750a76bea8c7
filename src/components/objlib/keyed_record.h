// KeyedRecord: the suite's keyed record, a set of entries name -> Variant. It holds one table row,
// a filter, a cached catalogue row or the stored-procedure list. Keys keep their spelling and
// insertion order and compare without regard to ASCII letter case; Value of an absent key is
// Empty. Records made from one recordset share one KeyTable of names (copy on write), so a long
// list of rows of one shape does not copy its column names per row.
//
// Dispatch members (ProgID "ObjLib.KeyedRecord"): Value (default member, DISPID 0, get and put),
// Count (1), Lookup(Key, [Value] by reference) (2), Clone (3).
// One object is written by one thread at a time; reading from several threads at once is safe (a
// lookup remembers where it found its key, so that the next one, usually of the following key,
// tries there first; that hint is a relaxed atomic, since cached catalogue rows are read by every
// thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/dispatch_table.h"

namespace morvane::objlib {

using automation::Variant;

// The ordered, case-insensitive set of key names that records of one shape share. Immutable once
// shared: a record that adds a key copies its table first.
class KeyTable {
 public:
  KeyTable() = default;
  explicit KeyTable(std::vector<std::string> names);

  std::size_t size() const { return names_.size(); }
  const std::string& Name(std::size_t i) const { return names_[i]; }
  // Index of the key (letter case ignored), or -1. A name listed twice is found at its first
  // position.
  std::ptrdiff_t Find(std::string_view key) const;
  // The same, trying position `hint` first: callers that look keys up in the order of the table
  // (a record read column by column) pass the position after their last hit.
  std::ptrdiff_t Find(std::string_view key, std::size_t hint) const;
  // Appends a key. REQUIRES: Find(key) == -1.
  std::size_t Add(std::string key);

 private:
  // A table of up to this many names is searched by comparing the names in order; a larger one
  // keeps an open-addressing index of its names as well.
  static constexpr std::size_t kLinearLimit = 24;

  // Enters names_[position] into slots_ unless an earlier position holds the same name.
  void IndexName(std::size_t position);
  void Rebuild(std::size_t slotCount);

  // The index of a large table: the case-insensitive hash of each name, and the positions by
  // hash (-1: free). Both are empty up to kLinearLimit names.
  std::vector<std::string> names_;
  std::vector<std::uint32_t> hashes_;
  std::vector<std::int32_t> slots_;
  bool hasRepeats_ = false;  // some name is listed twice (then a hint is not trusted)
};

class KeyedRecord : public automation::DispatchObject<KeyedRecord> {
 public:
  static const automation::DispatchTable<KeyedRecord>& Table();
  static constexpr std::string_view kProgId = "ObjLib.KeyedRecord";

  KeyedRecord();
  // A record over a shared key table with one value per key (values.size() == keys->size()).
  KeyedRecord(std::shared_ptr<const KeyTable> keys, std::vector<Variant> values);

  static std::shared_ptr<KeyedRecord> New() { return std::make_shared<KeyedRecord>(); }

  std::int32_t Count() const { return static_cast<std::int32_t>(values_.size()); }
  // The value of the key, Empty when absent.
  Variant Value(std::string_view key) const;
  // Replaces the value, or appends the entry when the key is absent.
  void SetValue(std::string_view key, Variant value);
  // True when the key is present; then copies its value into *out when out is given.
  bool Lookup(std::string_view key, Variant* out = nullptr) const;
  // An independent copy: later writes to either are not seen in the other.
  std::shared_ptr<KeyedRecord> Clone() const;

  // Entries in insertion order.
  std::size_t size() const { return values_.size(); }
  const std::string& KeyAt(std::size_t i) const { return keys_->Name(i); }
  const Variant& ValueAt(std::size_t i) const { return values_[i]; }

 private:
  std::shared_ptr<const KeyTable> keys_;
  // True when this record made keys_ itself (mutable underneath): only then may a new key be
  // added in place, and only while no other record shares the table.
  bool ownsKeys_ = true;
  // Find with the record's hint, which it then moves on.
  std::ptrdiff_t IndexOf(std::string_view key) const;

  std::vector<Variant> values_;
  // Where the next lookup probably finds its key: the position after the last one found. Only a
  // guess, so concurrent readers may overwrite each other's; copies start from the same guess.
  struct LookupHint {
    std::atomic<std::size_t> position{0};
    LookupHint() = default;
    LookupHint(const LookupHint& other) : position(other.position.load(std::memory_order_relaxed)) {}
    LookupHint& operator=(const LookupHint& other) {
      position.store(other.position.load(std::memory_order_relaxed), std::memory_order_relaxed);
      return *this;
    }
  };
  mutable LookupHint nextHint_;
};

}  // namespace morvane::objlib
