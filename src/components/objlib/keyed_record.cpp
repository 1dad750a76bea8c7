#include "components/objlib/keyed_record.h"
#include "platform/automation/text.h"

#include <cstdint>
#include <utility>

namespace morvane::objlib {

using automation::DispatchTable;
using automation::InvokeKind;
using automation::ParamInfo;
using automation::TypeInfo;

namespace {

TypeInfo RecordTypeInfo() {
  TypeInfo info;
  info.className = "KeyedRecord";
  info.progId = std::string(KeyedRecord::kProgId);
  info.clsid = "{B9005737-1D6D-4001-862C-EA13861BDB2A}";
  info.interfaceName = "_KeyedRecord";
  info.iid = "{1513FD1E-0597-4B99-91D6-3643C46C75A3}";
  info.typeLibrary = "ObjLib";
  return info;
}

// FNV-1a over the lower-cased bytes.
std::uint32_t HashName(std::string_view name) noexcept {
  std::uint32_t h = 2166136261u;
  for (char c : name) {
    h ^= static_cast<unsigned char>(automation::AsciiLowerChar(c));
    h *= 16777619u;
  }
  return h;
}

bool SameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // the usual case: the same spelling
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && automation::AsciiLowerChar(a[i]) != automation::AsciiLowerChar(b[i])) return false;
  return true;
}

}  // namespace

KeyTable::KeyTable(std::vector<std::string> names) : names_(std::move(names)) {
  // A repeated name (a query may select two columns of one name) keeps its position; lookups find
  // the first of them.
  if (names_.size() > kLinearLimit) {
    Rebuild(names_.size() * 2);
  } else {
    for (std::size_t i = 0; i < names_.size() && !hasRepeats_; ++i)
      hasRepeats_ = Find(names_[i]) != static_cast<std::ptrdiff_t>(i);
  }
}

std::ptrdiff_t KeyTable::Find(std::string_view key, std::size_t hint) const {
  if (hint < names_.size() && !hasRepeats_ && SameName(names_[hint], key)) return static_cast<std::ptrdiff_t>(hint);
  return Find(key);
}

std::ptrdiff_t KeyTable::Find(std::string_view key) const {
  if (slots_.empty()) {
    // A few names: comparing them in order (most differ in length or early) beats hashing.
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (SameName(names_[i], key)) return static_cast<std::ptrdiff_t>(i);
    return -1;
  }
  const std::uint32_t h = HashName(key);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t s = h & mask;; s = (s + 1) & mask) {
    const std::int32_t position = slots_[s];
    if (position < 0) return -1;
    const auto i = static_cast<std::size_t>(position);
    if (hashes_[i] == h && SameName(names_[i], key)) return position;
  }
}

std::size_t KeyTable::Add(std::string key) {
  const std::size_t pos = names_.size();
  names_.push_back(std::move(key));
  if (names_.size() > kLinearLimit) {
    if (names_.size() * 2 > slots_.size()) {
      Rebuild(names_.size() * 2);
    } else {
      hashes_.push_back(HashName(names_.back()));
      IndexName(pos);
    }
  }
  return pos;
}

void KeyTable::Rebuild(std::size_t slotCount) {
  std::size_t size = 64;
  while (size < slotCount) size *= 2;
  hashes_.clear();
  hashes_.reserve(names_.size());
  for (const std::string& name : names_) hashes_.push_back(HashName(name));
  slots_.assign(size, -1);
  for (std::size_t i = 0; i < names_.size(); ++i) IndexName(i);
}

void KeyTable::IndexName(std::size_t position) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t s = hashes_[position] & mask;; s = (s + 1) & mask) {
    const std::int32_t other = slots_[s];
    if (other < 0) {
      slots_[s] = static_cast<std::int32_t>(position);
      return;
    }
    const auto o = static_cast<std::size_t>(other);
    if (hashes_[o] == hashes_[position] && SameName(names_[o], names_[position])) {
      hasRepeats_ = true;
      return;
    }
  }
}

KeyedRecord::KeyedRecord() : keys_(std::make_shared<KeyTable>()) {}

KeyedRecord::KeyedRecord(std::shared_ptr<const KeyTable> keys, std::vector<Variant> values)
    : keys_(keys ? std::move(keys) : std::make_shared<KeyTable>()), ownsKeys_(false), values_(std::move(values)) {
  // Keep the record consistent whatever the caller passed: one value per key.
  values_.resize(keys_->size());
}

std::ptrdiff_t KeyedRecord::IndexOf(std::string_view key) const {
  const std::ptrdiff_t i = keys_->Find(key, nextHint_.position.load(std::memory_order_relaxed));
  if (i >= 0) nextHint_.position.store(static_cast<std::size_t>(i) + 1, std::memory_order_relaxed);
  return i;
}

Variant KeyedRecord::Value(std::string_view key) const {
  std::ptrdiff_t i = IndexOf(key);
  return i < 0 ? Variant() : values_[static_cast<std::size_t>(i)];
}

void KeyedRecord::SetValue(std::string_view key, Variant value) {
  std::ptrdiff_t i = IndexOf(key);
  if (i >= 0) {
    values_[static_cast<std::size_t>(i)] = std::move(value);
    return;
  }
  // A new key: the table may be shared with other records (or be someone else's), so add to a
  // copy unless this record is its sole owner and made it.
  if (!ownsKeys_ || keys_.use_count() != 1) {
    keys_ = std::make_shared<KeyTable>(*keys_);
    ownsKeys_ = true;
  }
  // The table was made mutable by this record (see ownsKeys_) and nobody else holds it.
  const_cast<KeyTable&>(*keys_).Add(std::string(key));
  values_.push_back(std::move(value));
}

bool KeyedRecord::Lookup(std::string_view key, Variant* out) const {
  std::ptrdiff_t i = IndexOf(key);
  if (i < 0) return false;
  if (out) *out = values_[static_cast<std::size_t>(i)];
  return true;
}

std::shared_ptr<KeyedRecord> KeyedRecord::Clone() const {
  // The copy shares the key table until either side adds a key.
  return std::make_shared<KeyedRecord>(keys_, values_);
}

const DispatchTable<KeyedRecord>& KeyedRecord::Table() {
  using automation::VT_BOOL;
  using automation::VT_BSTR;
  using automation::VT_DISPATCH;
  using automation::VT_I4;
  using automation::VT_VARIANT;
  static const DispatchTable<KeyedRecord> table =
      DispatchTable<KeyedRecord>(RecordTypeInfo())
          .Get("Value", 0, {{"Key", VT_BSTR}}, VT_VARIANT,
               [](KeyedRecord& self, std::span<Variant> a) { return self.Value(a[0].text()); })
          .Put("Value", 0, {{"Key", VT_BSTR}, {"NewValue", VT_VARIANT}},
               [](KeyedRecord& self, std::span<Variant> a) {
                 self.SetValue(a[0].text(), std::move(a[1]));
                 return Variant();
               })
          .Get("Count", 1, {}, VT_I4, [](KeyedRecord& self, std::span<Variant>) { return Variant(self.Count()); })
          .Method("Lookup", 2,
                  {{"Key", VT_BSTR}, ParamInfo{"Value", VT_VARIANT, true, true, Variant::Missing()}}, VT_BOOL,
                  [](KeyedRecord& self, std::span<Variant> a) {
                    // Without the second argument this is a bare presence test.
                    if (a[1].IsMissing()) return Variant(self.Lookup(a[0].text()));
                    return Variant(self.Lookup(a[0].text(), &a[1]));
                  })
          .Method("Clone", 3, {}, VT_DISPATCH, [](KeyedRecord& self, std::span<Variant>) {
            return Variant(automation::DispatchPtr(self.Clone()));
          });
  return table;
}

}  // namespace morvane::objlib
