#include "datasource/c_parse.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/automation/error.h"
#include "testing/raised.h"

namespace morvane::datasource {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using testing::NumberRaised;

std::string Show(const Entries& entries) {
  std::string out;
  for (const auto& [name, value] : entries) out += "[" + name + "]=[" + value + "] ";
  return out;
}

struct GrammarCase {
  std::string text;
  Entries entries;
};

TEST(CParseGrammar, TextGivesEntriesInOrder) {
  const std::vector<GrammarCase> cases = {
      {"ConnectString={a=1;b=2};UserName= u1 ;LANGUAGE=chs",
       {{"ConnectString", "a=1;b=2"}, {"UserName", "u1"}, {"LANGUAGE", "chs"}}},
      {"A=1;B={x;y} tail;C=3", {{"A", "1"}, {"B", "x;y"}, {"C", "3"}}},
      {"a=b=c", {{"a", "b=c"}}},
      {"a=1;;b=2", {{"a", "1"}, {";b", "2"}}},
      {"a=1;=2;b=3", {{"a", "1"}}},
      {"a={x;y", {{"a", "x;y"}}},
      {"abc", {{"abc", ""}}},
      // Empty texts and texts of spaces have no entries.
      {"", {}},
      {"   ", {}},
      {"=1;a=2", {}},
      {"  =1;a=2", {}},
      // Spaces around names and values vanish, also just inside braces; inner spaces stay.
      {"  DBMS Name  =  SQL Server  ; b = { x y } ;", {{"DBMS Name", "SQL Server"}, {"b", "x y"}}},
      // Only spaces are trimmed: tabs stay part of names and values.
      {"\ta=1\t;b=\t2", {{"\ta", "1\t"}, {"b", "\t2"}}},
      // A braced value without "}" takes the rest of the text, later entries included.
      {"a={x;b=2;c=3", {{"a", "x;b=2;c=3"}}},
      // Whatever follows "}" up to the next ";" is skipped; a "}" in a plain value is kept.
      {"a={1}=z;b=x}y", {{"a", "1"}, {"b", "x}y"}}},
      // "{" opens a braced value only as its first character.
      {"a=x{1;2};b=3", {{"a", "x{1"}, {"2};b", "3"}}},
      // An empty braced value, and a value that is empty.
      {"a={};b=;c", {{"a", ""}, {"b", ""}, {"c", ""}}},
      // The last piece without "=" is a name with an empty value.
      {"a=1;tail", {{"a", "1"}, {"tail", ""}}},
      // Names are not split at ";", so a last piece without "=" keeps its ";".
      {"a=1;tail;", {{"a", "1"}, {"tail;", ""}}},
      // Quotes are not special.
      {"a=\"x;y\"", {{"a", "\"x"}, {"y\"", ""}}},
      // Full-width forms of the delimiters are ordinary characters.
      {"名称＝张三；李四;b=｛1;2｝", {{"名称＝张三；李四;b", "｛1"}, {"2｝", ""}}},
      {"用户=张三;语言=chs", {{"用户", "张三"}, {"语言", "chs"}}},
  };
  for (const auto& c : cases) {
    CParse p;
    EXPECT_TRUE(p.ParseString(c.text)) << c.text;
    EXPECT_EQ(p.Entries(), c.entries) << "text: " << c.text << "\n got: " << Show(p.Entries());
    EXPECT_EQ(p.PropsString(), c.text);
  }
}

TEST(CParseGrammar, TrailingSemicolonAfterLastValueChangesNothing) {
  for (const std::string text : {"a=1", "a=1;b={x;y}", "a=1;b= 2 ", "a=1;b={x;y} tail", "a="}) {
    CParse with, without;
    with.ParseString(text + ";");
    without.ParseString(text);
    EXPECT_EQ(with.Entries(), without.Entries()) << text;
  }
}

TEST(CParseGrammar, NamesCompareWithoutLetterCase) {
  CParse p;
  p.ParseString("language=en;DBMS NAME=SQLite;connectstring={Provider=SQLite;Data Source=x.db}");
  EXPECT_EQ(p.LanguageID(), "en");
  EXPECT_EQ(p.GetProperty("Language"), "en");
  EXPECT_EQ(p.GetProperty("LANGUAGE"), "en");
  EXPECT_EQ(p.ConDBMSName(), "SQLite");
  EXPECT_EQ(p.ConStr(), "Provider=SQLite;Data Source=x.db");
  // Names keep their inner spaces: "DBMSName" is another entry.
  EXPECT_EQ(NumberRaised([&] { p.GetProperty("DBMSName"); }), automation::errors::kInvalidProcedureCall);
}

TEST(CParseGrammar, DuplicateNameRaises457AndKeepsEarlierEntries) {
  const std::vector<std::string> texts = {"a=1;b=2;A=3;c=4", "a=1;b=2;a=1;c=4", "a=1;b=2; A =x;c=4"};
  for (const auto& text : texts) {
    CParse p;
    p.ParseString("old=1");
    EXPECT_EQ(NumberRaised([&] { p.ParseString(text); }), automation::errors::kDuplicateKey) << text;
    EXPECT_EQ(p.PropsString(), text);
    EXPECT_EQ(p.Entries(), (Entries{{"a", "1"}, {"b", "2"}})) << text;
  }
}

TEST(CParseGrammar, NonAsciiNamesCompareExactly) {
  // Only ASCII letters fold: names that differ in other letters are different entries.
  CParse p;
  EXPECT_TRUE(p.ParseString("Ä=1;ä=2"));
  EXPECT_EQ(p.GetProperty("Ä"), "1");
  EXPECT_EQ(p.GetProperty("ä"), "2");
}

TEST(CParseGrammar, ParsingAgainReplacesEverything) {
  CParse p;
  p.ParseString("a=1;b=2");
  p.ParseString("c=3");
  EXPECT_EQ(p.Entries(), (Entries{{"c", "3"}}));
  EXPECT_EQ(p.PropsString(), "c=3");
  EXPECT_EQ(NumberRaised([&] { p.GetProperty("a"); }), automation::errors::kInvalidProcedureCall);
  // A text that refers to the parser's own text is safe to parse again.
  p.ParseString(p.PropsString());
  EXPECT_EQ(p.Entries(), (Entries{{"c", "3"}}));
}

TEST(CParseQueries, MissingEntryRaises5FromEveryQuery) {
  CParse p;
  p.ParseString("Other=1");
  const std::vector<std::pair<std::string, std::function<void()>>> queries = {
      {"GetProperty", [&] { p.GetProperty("x"); }},   {"UserName", [&] { p.UserName(); }},
      {"UserID", [&] { p.UserID(); }},                {"ConDBMSName", [&] { p.ConDBMSName(); }},
      {"ConDBMSVersion", [&] { p.ConDBMSVersion(); }}, {"ConStr", [&] { p.ConStr(); }},
      {"LanguageID", [&] { p.LanguageID(); }},        {"IsIndustry", [&] { p.IsIndustry(); }},
  };
  for (const auto& [name, query] : queries)
    EXPECT_EQ(NumberRaised(query), automation::errors::kInvalidProcedureCall) << name;

  CParse fresh;  // before any ParseString
  EXPECT_EQ(NumberRaised([&] { fresh.GetProperty("a"); }), automation::errors::kInvalidProcedureCall);
  EXPECT_EQ(fresh.PropsString(), "");
}

TEST(CParseQueries, NamedQueriesReadTheirEntries) {
  CParse p;
  p.ParseString(
      "ConnectString={Provider=SQLite;Data Source=a.db};UserName=张三;UserID=7;DBMS Name=Microsoft SQL "
      "Server;DBMS Version=08.00.2039;AcctType=GY;LANGUAGE=cht");
  EXPECT_EQ(p.ConStr(), "Provider=SQLite;Data Source=a.db");
  EXPECT_EQ(p.UserName(), "张三");
  EXPECT_EQ(p.UserID(), 7);
  EXPECT_EQ(p.ConDBMSName(), "Microsoft SQL Server");
  EXPECT_EQ(p.ConDBMSVersion(), "08.00.2039");
  EXPECT_TRUE(p.IsIndustry());
  EXPECT_EQ(p.LanguageID(), "cht");
}

TEST(CParseQueries, UserIDConvertsAsTheLongConversion) {
  struct Case {
    std::string value;
    std::optional<std::int32_t> id;  // nullopt: raises `error`
    std::int32_t error = 0;
  };
  const std::vector<Case> cases = {
      {"12", 12},
      {"-5", -5},
      {"12.7", 13},  // fractions round half to even, as the conversion does
      {"2.5", 2},
      {"1,234", 1234},
      {"&H1F", 31},
      {"2147483647", 2147483647},
      {"", std::nullopt, automation::errors::kTypeMismatch},
      {"abc", std::nullopt, automation::errors::kTypeMismatch},
      {"12abc", std::nullopt, automation::errors::kTypeMismatch},
      {"{}", std::nullopt, automation::errors::kTypeMismatch},
      {"2147483648", std::nullopt, automation::errors::kOverflow},
  };
  for (const auto& c : cases) {
    CParse p;
    p.ParseString("UserID=" + c.value);
    if (c.id) {
      std::int32_t id = 0;
      EXPECT_EQ(NumberRaised([&] { id = p.UserID(); }), 0) << c.value;
      EXPECT_EQ(id, *c.id) << c.value;
    } else {
      EXPECT_EQ(NumberRaised([&] { p.UserID(); }), c.error) << c.value;
    }
  }
}

TEST(CParseQueries, IsIndustryOnlyForGY) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"GY", true},   {"gy", true},   {"Gy", true},  {" gY ", true}, {"{GY}", true},
      {"GYX", false}, {"G Y", false}, {"", false},   {"QY", false},  {"\tGY", false},
      {"ＧＹ", false},
  };
  for (const auto& [value, industry] : cases) {
    CParse p;
    p.ParseString("AcctType=" + value);
    EXPECT_EQ(p.IsIndustry(), industry) << "[" << value << "]";
  }
}

}  // namespace
}  // namespace morvane::datasource
