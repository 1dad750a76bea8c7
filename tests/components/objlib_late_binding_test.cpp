// The record and list objects called by name through the registry, and RecordRef/ListRef over
// objects that are not ours (a client's own implementation, reached only by late binding).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/objlib/record_access.h"
#include "components/objlib/text_meter.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "testing/raised.h"

namespace morvane::objlib {
namespace {

using automation::Call;
using automation::CallByName;
using automation::DispatchPtr;
using automation::InvokeKind;
using automation::PutProperty;
using morvane::testing::NumberRaised;

class ObjLibByNameTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterObjLibClasses(); }
  static Variant Get(DispatchPtr obj, const char* name, Variant arg) {
    std::vector<Variant> args{std::move(arg)};
    return CallByName(*obj, name, InvokeKind::PropertyGet, args);
  }
};

TEST_F(ObjLibByNameTest, RecordCreatedByProgIdIsWrittenAndReadByName) {
  DispatchPtr rec = automation::CreateObject("objlib.keyedrecord");  // ProgIDs ignore letter case
  ASSERT_NE(dynamic_cast<KeyedRecord*>(rec.get()), nullptr);
  EXPECT_EQ(Call(*rec, "Count"), Variant(0));

  PutProperty(*rec, "Value", "FName", "first");
  PutProperty(*rec, "value", "fname", "second");
  PutProperty(*rec, "Value", "FCode", 12);
  EXPECT_EQ(Call(*rec, "Count"), Variant(2));
  EXPECT_EQ(Get(rec, "Value", Variant("FNAME")), Variant("second"));
  EXPECT_TRUE(Get(rec, "Value", Variant("Absent")).IsEmpty());

  // Lookup: a bare presence test, and with the value returned through the by-reference argument.
  EXPECT_EQ(Call(*rec, "Lookup", "fcode"), Variant(true));
  EXPECT_EQ(Call(*rec, "Lookup", "Absent"), Variant(false));
  std::vector<Variant> args{Variant("FCode"), Variant()};
  EXPECT_EQ(CallByName(*rec, "Lookup", InvokeKind::Method, args), Variant(true));
  EXPECT_EQ(args[1], Variant(12));
}

TEST_F(ObjLibByNameTest, CloneByNameIsIndependentOfItsSource) {
  DispatchPtr rec = automation::CreateObject("ObjLib.KeyedRecord");
  PutProperty(*rec, "Value", "A", 1);
  Variant copy = Call(*rec, "Clone");
  ASSERT_TRUE(copy.IsObject());
  ASSERT_NE(copy.object(), rec);

  PutProperty(*copy.object(), "Value", "A", 2);
  PutProperty(*copy.object(), "Value", "B", 3);
  PutProperty(*rec, "Value", "C", 4);
  EXPECT_EQ(Get(rec, "Value", Variant("A")), Variant(1));
  EXPECT_EQ(Call(*rec, "Lookup", "B"), Variant(false));
  EXPECT_EQ(Get(copy.object(), "Value", Variant("A")), Variant(2));
  EXPECT_EQ(Call(*copy.object(), "Lookup", "C"), Variant(false));
}

TEST_F(ObjLibByNameTest, ListByNameIsOneBasedAndRaisesNineOutOfRange) {
  DispatchPtr list = automation::CreateObject("ObjLib.RecordList");
  DispatchPtr rec = automation::CreateObject("ObjLib.KeyedRecord");
  EXPECT_EQ(Call(*list, "UBound"), Variant(0));
  EXPECT_EQ(Call(*list, "Add", rec), Variant(1));
  EXPECT_EQ(Call(*list, "Add", Variant(automation::CreateObject("ObjLib.KeyedRecord"))), Variant(2));
  EXPECT_EQ(Call(*list, "UBound"), Variant(2));
  EXPECT_EQ(Call(*list, "Count"), Variant(2));
  EXPECT_EQ(Get(list, "Item", Variant(1)).object(), rec);
  // The index may be an Integer as well as a Long.
  EXPECT_EQ(Get(list, "Item", Variant(std::int16_t{1})).object(), rec);

  for (int index : {0, 3, -1})
    EXPECT_EQ(NumberRaised([&] { Get(list, "Item", Variant(index)); }), 9) << "index " << index;
}

TEST_F(ObjLibByNameTest, TextMeterMeasuresByName) {
  DispatchPtr meter = automation::CreateObject("ObjLib.TextMeter");
  EXPECT_EQ(Call(*meter, "Measure", "h\xC3\xA9llo"), Variant(5));
}

// A client's own record: the members by name only, at DISPIDs of its own choosing, and letter
// case of keys respected (a different implementation choice than ours).
class ClientRecord : public automation::DispatchObject<ClientRecord> {
 public:
  static const automation::DispatchTable<ClientRecord>& Table() {
    using namespace automation;
    static const DispatchTable<ClientRecord> table =
        DispatchTable<ClientRecord>(Info())
            .Get("Value", 10, {{"Key", VT_BSTR}}, VT_VARIANT,
                 [](ClientRecord& self, std::span<Variant> a) {
                   auto it = self.entries.find(a[0].text());
                   return it == self.entries.end() ? Variant() : it->second;
                 })
            .Put("Value", 10, {{"Key", VT_BSTR}, {"V", VT_VARIANT}},
                 [](ClientRecord& self, std::span<Variant> a) {
                   self.entries[a[0].text()] = a[1];
                   return Variant();
                 })
            .Get("Count", 11, {}, VT_I4,
                 [](ClientRecord& self, std::span<Variant>) { return Variant(static_cast<std::int32_t>(self.entries.size())); })
            .Method("Lookup", 12, {{"Key", VT_BSTR}, ParamInfo{"Out", VT_VARIANT, true, true}}, VT_BOOL,
                    [](ClientRecord& self, std::span<Variant> a) {
                      auto it = self.entries.find(a[0].text());
                      if (it == self.entries.end()) return Variant(false);
                      if (!a[1].IsMissing()) a[1] = it->second;
                      return Variant(true);
                    })
            .Method("Clone", 13, {}, VT_DISPATCH, [](ClientRecord& self, std::span<Variant>) {
              auto copy = std::make_shared<ClientRecord>();
              copy->entries = self.entries;
              return Variant(DispatchPtr(copy));
            });
    return table;
  }
  std::map<std::string, Variant> entries;

 private:
  static automation::TypeInfo Info() {
    automation::TypeInfo info;
    info.className = "ClientRecord";
    info.progId = "Client.Record";
    return info;
  }
};

class ClientList : public automation::DispatchObject<ClientList> {
 public:
  static const automation::DispatchTable<ClientList>& Table() {
    using namespace automation;
    static const DispatchTable<ClientList> table =
        DispatchTable<ClientList>(Info())
            .Get("Item", 20, {{"Index", VT_I4}}, VT_VARIANT,
                 [](ClientList& self, std::span<Variant> a) {
                   std::int32_t i = a[0].i4();
                   if (i < 1 || i > static_cast<std::int32_t>(self.items.size())) Raise(9);
                   return self.items[static_cast<std::size_t>(i - 1)];
                 })
            .Method("UBound", 21, {}, VT_I4,
                    [](ClientList& self, std::span<Variant>) { return Variant(static_cast<std::int32_t>(self.items.size())); })
            .Method("Add", 22, {{"Element", VT_VARIANT}}, VT_I4, [](ClientList& self, std::span<Variant> a) {
              self.items.push_back(a[0]);
              return Variant(static_cast<std::int32_t>(self.items.size()));
            });
    return table;
  }
  std::vector<Variant> items;

 private:
  static automation::TypeInfo Info() {
    automation::TypeInfo info;
    info.className = "ClientList";
    info.progId = "Client.List";
    return info;
  }
};

TEST(RecordRefTest, ClientRecordIsCalledByName) {
  auto client = std::make_shared<ClientRecord>();
  RecordRef ref(client);
  EXPECT_EQ(ref.native(), nullptr);
  EXPECT_EQ(ref.Count(), 0);
  ref.SetValue("FCode", Variant("01"));
  EXPECT_EQ(client->entries.at("FCode"), Variant("01"));
  EXPECT_EQ(ref.Value("FCode"), Variant("01"));
  EXPECT_TRUE(ref.Value("fcode").IsEmpty());  // the client's own rule for letter case holds
  EXPECT_EQ(ref.Count(), 1);

  EXPECT_TRUE(ref.Lookup("FCode"));
  Variant out;
  EXPECT_TRUE(ref.Lookup("FCode", &out));
  EXPECT_EQ(out, Variant("01"));
  out = Variant(99);
  EXPECT_FALSE(ref.Lookup("Absent", &out));
  EXPECT_EQ(out, Variant(99));

  DispatchPtr copy = ref.Clone();
  ASSERT_NE(copy, nullptr);
  RecordRef(copy).SetValue("FCode", Variant("02"));
  EXPECT_EQ(ref.Value("FCode"), Variant("01"));
}

TEST(RecordRefTest, OwnRecordTakesTheDirectPath) {
  auto rec = KeyedRecord::New();
  RecordRef ref = RecordRef::From(Variant(DispatchPtr(rec)));
  EXPECT_EQ(ref.native(), rec.get());
  ref.SetValue("A", Variant(1));
  EXPECT_EQ(rec->Value("a"), Variant(1));
  Variant out;
  EXPECT_TRUE(ref.Lookup("A", &out));
  EXPECT_EQ(out, Variant(1));
  DispatchPtr copy = ref.Clone();
  EXPECT_NE(copy, rec);
  EXPECT_EQ(RecordRef(copy).Value("A"), Variant(1));
}

TEST(ListRefTest, ClientListIsCalledByNameAndItsErrorsPassThrough) {
  auto client = std::make_shared<ClientList>();
  ListRef ref(client);
  EXPECT_EQ(ref.native(), nullptr);
  ref.Add(Variant(DispatchPtr(std::make_shared<ClientRecord>())));
  ref.Add(Variant("x"));
  EXPECT_EQ(ref.UBound(), 2);
  EXPECT_EQ(ref.Item(2), Variant("x"));
  EXPECT_EQ(NumberRaised([&] { ref.Item(3); }), 9);

  auto own = RecordList::New();
  ListRef native = ListRef::From(Variant(DispatchPtr(own)));
  EXPECT_EQ(native.native(), own.get());
  native.Add(Variant(5));
  EXPECT_EQ(native.UBound(), 1);
  EXPECT_EQ(native.Item(1), Variant(5));
  EXPECT_EQ(NumberRaised([&] { native.Item(0); }), 9);
}

TEST(RecordRefTest, NothingRaises91AndANonObjectRaises13) {
  struct Case {
    const char* name;
    Variant value;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"Empty", Variant(), 91},
      {"Nothing", Variant(DispatchPtr()), 91},
      {"Null", Variant::Null(), 13},
      {"number", Variant(1), 13},
      {"text", Variant("record"), 13},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberRaised([&] { RecordRef::From(c.value); }), c.expected) << "RecordRef, " << c.name;
    EXPECT_EQ(NumberRaised([&] { ListRef::From(c.value); }), c.expected) << "ListRef, " << c.name;
  }
  EXPECT_EQ(NumberRaised([] { RecordRef(nullptr); }), 91);
  EXPECT_EQ(NumberRaised([] { ListRef(nullptr); }), 91);
}

// A client object that lacks a member raises 438 by name, not a crash.
TEST(RecordRefTest, ClientObjectWithoutTheMemberRaises438) {
  RecordRef ref(std::make_shared<ClientList>());
  EXPECT_EQ(NumberRaised([&] { ref.Value("A"); }), 438);
  EXPECT_EQ(NumberRaised([&] { ref.Clone(); }), 438);
}

}  // namespace
}  // namespace morvane::objlib
