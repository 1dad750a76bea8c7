#include <gtest/gtest.h>

#include <climits>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "components/objlib/text_meter.h"
#include "testing/raised.h"

namespace morvane::objlib {
namespace {

using morvane::testing::NumberRaised;

TEST(RecordListTest, ItemsAreOneBasedAndUBoundIsTheCount) {
  RecordList list;
  EXPECT_EQ(list.UBound(), 0);
  auto first = KeyedRecord::New();
  EXPECT_EQ(list.Add(Variant(automation::DispatchPtr(first))), 1);
  EXPECT_EQ(list.Add(Variant("second")), 2);
  EXPECT_EQ(list.UBound(), 2);
  EXPECT_EQ(list.Item(1).object(), first);
  EXPECT_EQ(list.Item(2), Variant("second"));
  list.Item(2) = Variant(3);  // elements can be replaced in place
  EXPECT_EQ(list.Item(2), Variant(3));
}

TEST(RecordListTest, IndexOutsideOneToUBoundRaisesSubscriptOutOfRange) {
  RecordList list;
  EXPECT_EQ(NumberRaised([&] { (void)list.Item(1); }), 9) << "empty list";
  list.Add(Variant(1));
  list.Add(Variant(2));
  for (std::int32_t index : {0, -1, 3, INT_MIN, INT_MAX}) {
    EXPECT_EQ(NumberRaised([&] { (void)list.Item(index); }), 9) << "index " << index;
    const RecordList& constList = list;
    EXPECT_EQ(NumberRaised([&] { (void)constList.Item(index); }), 9) << "const, index " << index;
  }
}

TEST(TextMeterTest, MeasureCountsCodePointsAndEachMalformedByteAsOne) {
  struct Case {
    const char* name;
    std::string text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"empty", "", 0},
      {"ASCII", "abc", 3},
      {"two-byte letter", "h\xC3\xA9llo", 5},
      {"three-byte letters", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 3},
      {"four-byte emoji", "\xF0\x9F\x98\x80", 1},
      {"embedded NUL", std::string("a\0b", 3), 3},
      {"lone continuation byte", "a\x80" "b", 3},
      {"invalid lead byte", "\xFF", 1},
      {"truncated sequence", "\xE6\x97", 2},
      {"truncated at end after a letter", "x\xF0\x9F\x98", 4},
      {"overlong slash", "\xC0\xAF", 2},
      {"overlong three-byte", "\xE0\x80\xAF", 3},
      {"UTF-16 surrogate", "\xED\xA0\x80", 3},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 4},
      {"largest code point", "\xF4\x8F\xBF\xBF", 1},
      {"lead byte followed by ASCII", "\xC3" "A", 2},
      {"three-byte lead before ASCII", "\xE4" "AB", 3},
      {"three-byte lead, one continuation, then ASCII", "\xE4\xB8" "A", 3},
      {"three-byte letter at the very end", "ab\xE4\xB8\xAD", 3},
      {"highest three-byte lead", "\xEF\xBF\xBD", 1},
  };
  TextMeter meter;
  for (const Case& c : cases) EXPECT_EQ(meter.Measure(c.text), c.expected) << c.name;
}

}  // namespace
}  // namespace morvane::objlib
