#include "components/objlib/keyed_record.h"

#include <utility>

namespace morvane::objlib {

using automation::DispatchTable;
using automation::InvokeKind;
using automation::ParamInfo;
using automation::TypeInfo;

namespace {

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

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

}  // namespace

KeyTable::KeyTable(std::vector<std::string> names) : names_(std::move(names)) {
  // A repeated name (a query may select two columns of one name) keeps its position; lookups find
  // the first of them.
  for (std::size_t i = 0; i < names_.size(); ++i) index_.emplace(LowerAscii(names_[i]), i);
}

std::ptrdiff_t KeyTable::Find(std::string_view key) const {
  auto it = index_.find(LowerAscii(key));
  return it == index_.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

std::size_t KeyTable::Add(std::string key) {
  std::size_t pos = names_.size();
  index_.emplace(LowerAscii(key), pos);
  names_.push_back(std::move(key));
  return pos;
}

KeyedRecord::KeyedRecord() : keys_(std::make_shared<KeyTable>()) {}

KeyedRecord::KeyedRecord(std::shared_ptr<const KeyTable> keys, std::vector<Variant> values)
    : keys_(keys ? std::move(keys) : std::make_shared<KeyTable>()), ownsKeys_(false), values_(std::move(values)) {
  // Keep the record consistent whatever the caller passed: one value per key.
  values_.resize(keys_->size());
}

Variant KeyedRecord::Value(std::string_view key) const {
  std::ptrdiff_t i = keys_->Find(key);
  return i < 0 ? Variant() : values_[static_cast<std::size_t>(i)];
}

void KeyedRecord::SetValue(std::string_view key, Variant value) {
  std::ptrdiff_t i = keys_->Find(key);
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
  std::ptrdiff_t i = keys_->Find(key);
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
