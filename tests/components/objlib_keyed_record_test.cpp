#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "components/objlib/keyed_record.h"

namespace morvane::objlib {
namespace {

std::vector<std::string> Keys(const KeyedRecord& r) {
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < r.size(); ++i) keys.push_back(r.KeyAt(i));
  return keys;
}

TEST(KeyedRecordTest, KeysKeepSpellingAndOrderAndCompareIgnoringCase) {
  KeyedRecord r;
  EXPECT_EQ(r.Count(), 0);
  r.SetValue("FExpDeptID", Variant(7));
  r.SetValue("FNote", Variant("a"));
  r.SetValue("fexpdeptid", Variant(8));  // the same key: replaces, keeps the first spelling
  r.SetValue("Zeta", Variant::Null());
  r.SetValue("Alpha", Variant());

  EXPECT_EQ(Keys(r), (std::vector<std::string>{"FExpDeptID", "FNote", "Zeta", "Alpha"}));
  EXPECT_EQ(r.Count(), 4);
  EXPECT_EQ(r.Value("FEXPDEPTID"), Variant(8));
  EXPECT_EQ(r.Value("fnote"), Variant("a"));
  EXPECT_TRUE(r.Value("Zeta").IsNull());
  // Non-ASCII letters are compared as they are.
  r.SetValue("Ä", Variant(1));
  EXPECT_FALSE(r.Lookup("ä"));
}

TEST(KeyedRecordTest, AbsentKeyReadsEmptyAndLookupTellsPresence) {
  KeyedRecord r;
  r.SetValue("Present", Variant());  // present, with an Empty value
  EXPECT_TRUE(r.Value("Missing").IsEmpty());
  EXPECT_FALSE(r.Lookup("Missing"));
  EXPECT_TRUE(r.Lookup("present"));

  Variant out("untouched");
  EXPECT_FALSE(r.Lookup("Missing", &out));
  EXPECT_EQ(out, Variant("untouched"));
  r.SetValue("N", Variant(3.5));
  EXPECT_TRUE(r.Lookup("n", &out));
  EXPECT_EQ(out, Variant(3.5));
  EXPECT_EQ(r.Count(), 2);  // reading never adds an entry
}

TEST(KeyedRecordTest, CloneIsIndependentOfItsSourceBothWays) {
  auto source = KeyedRecord::New();
  source->SetValue("A", Variant(1));
  source->SetValue("B", Variant("b"));
  auto copy = source->Clone();
  ASSERT_NE(copy, source);

  copy->SetValue("A", Variant(10));
  copy->SetValue("C", Variant(30));   // a new key in the copy
  source->SetValue("B", Variant("changed"));
  source->SetValue("D", Variant(40));  // a new key in the source

  EXPECT_EQ(Keys(*source), (std::vector<std::string>{"A", "B", "D"}));
  EXPECT_EQ(Keys(*copy), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(source->Value("A"), Variant(1));
  EXPECT_EQ(copy->Value("B"), Variant("b"));
  EXPECT_FALSE(source->Lookup("C"));
  EXPECT_FALSE(copy->Lookup("D"));
}

// Records made over one table (the rows of one recordset) share its names; a record that adds a
// key gets a table of its own, and the others keep theirs unchanged.
TEST(KeyedRecordTest, RecordsOfOneKeyTableShareItUntilOneAddsAKey) {
  auto table = std::make_shared<const KeyTable>(std::vector<std::string>{"FID", "FName"});
  KeyedRecord row1(table, {Variant(1), Variant("one")});
  KeyedRecord row2(table, {Variant(2), Variant("two")});
  EXPECT_EQ(&row1.KeyAt(0), &row2.KeyAt(0));  // one copy of the names
  EXPECT_EQ(&row1.KeyAt(1), &table->Name(1));

  row1.SetValue("fname", Variant("uno"));  // an existing key: the table stays shared
  EXPECT_EQ(&row1.KeyAt(0), &row2.KeyAt(0));
  EXPECT_EQ(row2.Value("FName"), Variant("two"));

  row1.SetValue("FExtra", Variant(true));  // a new key: row1 copies the table first
  EXPECT_EQ(table->size(), 2u);
  EXPECT_EQ(table->Find("FExtra"), -1);
  EXPECT_EQ(Keys(row2), (std::vector<std::string>{"FID", "FName"}));
  EXPECT_FALSE(row2.Lookup("FExtra"));
  EXPECT_EQ(Keys(row1), (std::vector<std::string>{"FID", "FName", "FExtra"}));
  EXPECT_EQ(row1.Value("FExtra"), Variant(true));

  // The copy is row1's own: further keys go into it without touching row2.
  row1.SetValue("FMore", Variant(1));
  EXPECT_EQ(row1.Count(), 4);
  EXPECT_EQ(row2.Count(), 2);
}

TEST(KeyedRecordTest, CloneSharesTheTableAndEitherSideCopiesItOnANewKey) {
  auto source = KeyedRecord::New();
  source->SetValue("A", Variant(1));
  auto copy = source->Clone();
  EXPECT_EQ(&source->KeyAt(0), &copy->KeyAt(0));
  copy.reset();
  // Sole owner again: adding keys keeps working (and no stale sharing is left behind).
  source->SetValue("B", Variant(2));
  auto second = source->Clone();
  second->SetValue("C", Variant(3));
  EXPECT_EQ(Keys(*source), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Keys(*second), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(KeyedRecordTest, RecordOverATableHasOneValuePerKey) {
  auto table = std::make_shared<const KeyTable>(std::vector<std::string>{"A", "B", "C"});
  KeyedRecord shortRow(table, {Variant(1)});  // fewer values than keys: the rest read Empty
  EXPECT_EQ(shortRow.Count(), 3);
  EXPECT_TRUE(shortRow.Lookup("C"));
  EXPECT_TRUE(shortRow.Value("C").IsEmpty());
  KeyedRecord noTable(nullptr, {});
  EXPECT_EQ(noTable.Count(), 0);
  noTable.SetValue("X", Variant(1));
  EXPECT_EQ(noTable.Value("x"), Variant(1));
}

TEST(KeyTableTest, RepeatedColumnNameKeepsItsPlaceAndFindsTheFirst) {
  KeyTable t({"FID", "fid", "FName"});
  EXPECT_EQ(t.size(), 3u);
  EXPECT_EQ(t.Find("FID"), 0);
  EXPECT_EQ(t.Find("fName"), 2);
  EXPECT_EQ(t.Find("Other"), -1);
}

TEST(KeyTableTest, FindsEveryNameIgnoringCaseInSmallAndLargeTables) {
  // Up to two dozen names are compared in order; a larger table keeps a hash index, built at
  // once or when Add takes it past that size. Both must find the same positions.
  for (const std::size_t size : {1u, 5u, 24u, 25u, 100u, 300u}) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < size; ++i) names.push_back("FName" + std::to_string(i));
    const KeyTable built(names);
    KeyTable added;
    for (const std::string& name : names) added.Add(name);
    for (const KeyTable* t : {&built, static_cast<const KeyTable*>(&added)}) {
      ASSERT_EQ(t->size(), size);
      for (std::size_t i = 0; i < size; ++i) {
        std::string upper = names[i];
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(t->Find(names[i]), static_cast<std::ptrdiff_t>(i)) << "size " << size << " name " << names[i];
        EXPECT_EQ(t->Find(upper), static_cast<std::ptrdiff_t>(i)) << "size " << size << " name " << upper;
      }
      EXPECT_EQ(t->Find("FName"), -1) << "size " << size;
      EXPECT_EQ(t->Find("FName" + std::to_string(size)), -1) << "size " << size;
    }
  }
}

TEST(KeyTableTest, RepeatedNameIsFoundFirstWhateverTheHint) {
  // A hint at the later of two equal names must not win over the first.
  std::vector<std::string> small = {"FID", "FName", "fid"};
  std::vector<std::string> large;
  for (int i = 0; i < 40; ++i) {
    // Named first: GCC 12 warns (-Wrestrict) at -O3 on "C" + std::to_string(...).
    const std::string number = std::to_string(i);
    large.push_back("C" + number);
  }
  large.push_back("c7");
  for (const auto& names : {small, large}) {
    const KeyTable t(names);
    const std::size_t last = names.size() - 1;
    EXPECT_EQ(t.Find(names[last], last), t.Find(names[last])) << names.size() << " names";
    EXPECT_LT(t.Find(names[last], last), static_cast<std::ptrdiff_t>(last)) << names.size() << " names";
  }
  const KeyTable plain({"A", "B", "C"});
  EXPECT_EQ(plain.Find("c", 2), 2);
  EXPECT_EQ(plain.Find("a", 2), 0);  // a wrong hint only costs time
  EXPECT_EQ(plain.Find("a", 99), 0);
  EXPECT_EQ(plain.Find("D", 1), -1);
}

TEST(KeyedRecordTest, LookupsInAnyOrderFindTheirKeys) {
  // Each lookup first tries the key after the previous hit; other orders must work as well.
  KeyedRecord r;
  const std::vector<std::string> keys = {"FVchClass", "FTypeID", "FExpDeptID", "FExpenseID", "FRemark"};
  for (std::size_t i = 0; i < keys.size(); ++i) r.SetValue(keys[i], Variant(static_cast<std::int32_t>(i)));
  const std::vector<std::vector<std::size_t>> orders = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 2, 0, 4, 1, 3}};
  for (const auto& order : orders) {
    for (std::size_t i : order) {
      Variant v;
      ASSERT_TRUE(r.Lookup(keys[i], &v)) << keys[i];
      EXPECT_EQ(v, Variant(static_cast<std::int32_t>(i))) << keys[i];
    }
    EXPECT_FALSE(r.Lookup("FGroupID"));
  }
}

}  // namespace
}  // namespace morvane::objlib
