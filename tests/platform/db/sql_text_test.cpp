// The scanner of statement texts: tokens, names, the first keyword, what may follow a statement,
// the isolation statement and the splitting of scripts.
#include "platform/db/sql_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane::db {
namespace {

using Kind = TokenKind;
using Tokens = std::vector<std::pair<Kind, std::string>>;

Tokens KindsAndTexts(std::string_view sql) {
  Tokens out;
  for (const Token& t : Tokenize(sql)) out.emplace_back(t.kind, std::string(t.text));
  return out;
}

TEST(SqlTextTest, TokenizeGivesKindsAndTextsAndSkipsBlanksAndComments) {
  struct Case {
    const char* sql;
    Tokens tokens;
  };
  const Case cases[] = {
      {"SELECT a,b FROM t",
       {{Kind::Word, "SELECT"}, {Kind::Word, "a"}, {Kind::Punctuation, ","}, {Kind::Word, "b"}, {Kind::Word, "FROM"},
        {Kind::Word, "t"}}},
      // The four quote kinds, each with its closing quote doubled inside.
      {"'it''s' \"a\"\"b\" `c``d` [e]]f]",
       {{Kind::String, "'it''s'"},
        {Kind::QuotedName, "\"a\"\"b\""},
        {Kind::QuotedName, "`c``d`"},
        {Kind::QuotedName, "[e]]f]"}}},
      // Other quotes and comment marks inside quotes are text.
      {"'a\"b--c' [x'y /*]", {{Kind::String, "'a\"b--c'"}, {Kind::QuotedName, "[x'y /*]"}}},
      {"a -- b 'c\nd /* e ; 'f */ g", {{Kind::Word, "a"}, {Kind::Word, "d"}, {Kind::Word, "g"}}},
      {"a--b\n-c/d", {{Kind::Word, "a"}, {Kind::Punctuation, "-"}, {Kind::Word, "c"}, {Kind::Punctuation, "/"},
                      {Kind::Word, "d"}}},
      {"a\t\r\n\f\vb", {{Kind::Word, "a"}, {Kind::Word, "b"}}},
      // Left open, a literal, a quoted name or a comment runs to the end of the text.
      {"SELECT 'abc; DROP t", {{Kind::Word, "SELECT"}, {Kind::String, "'abc; DROP t"}}},
      {"SELECT 'abc''", {{Kind::Word, "SELECT"}, {Kind::String, "'abc''"}}},
      {"SELECT [ab", {{Kind::Word, "SELECT"}, {Kind::QuotedName, "[ab"}}},
      {"SELECT 1 /* open ; x", {{Kind::Word, "SELECT"}, {Kind::Number, "1"}}},
      {"x1 _y $z 12 1.5e3 0x1F", {{Kind::Word, "x1"}, {Kind::Word, "_y"}, {Kind::Punctuation, "$"}, {Kind::Word, "z"},
                                  {Kind::Number, "12"}, {Kind::Number, "1.5e3"}, {Kind::Number, "0x1F"}}},
      {"a$b <>?", {{Kind::Word, "a$b"}, {Kind::Punctuation, "<"}, {Kind::Punctuation, ">"}, {Kind::Punctuation, "?"}}},
      {"SELECT 费用 AS 部门名称 FROM t WHERE x='中;文'",
       {{Kind::Word, "SELECT"}, {Kind::Word, "费用"}, {Kind::Word, "AS"}, {Kind::Word, "部门名称"}, {Kind::Word, "FROM"},
        {Kind::Word, "t"}, {Kind::Word, "WHERE"}, {Kind::Word, "x"}, {Kind::Punctuation, "="},
        {Kind::String, "'中;文'"}}},
      {"", {}},
      {" -- only a comment", {}},
  };
  for (const Case& c : cases) {
    const std::string_view sql = c.sql;
    EXPECT_EQ(KindsAndTexts(sql), c.tokens) << sql;
    for (const Token& t : Tokenize(sql)) EXPECT_EQ(t.text.data(), sql.data() + t.offset) << sql << ": " << t.text;
  }
}

TEST(SqlTextTest, NameOfDropsTheQuotesOfAName) {
  const std::pair<const char*, const char*> cases[] = {
      {"FName", "FName"},  {"\"Mixed\"", "Mixed"}, {"\"a\"\"b\"", "a\"b"}, {"`c``d`", "c`d"},
      {"[e]]f]", "e]f"},   {"[]", ""},             {"\"open", "open"},    {"\"open\"\"", "open\""},
      {"'text'", ""},      {"42", ""},             {"(", ""},             {"名称", "名称"},
  };
  for (const auto& [sql, name] : cases) {
    const std::vector<Token> tokens = Tokenize(sql);
    ASSERT_EQ(tokens.size(), 1u) << sql;
    EXPECT_EQ(NameOf(tokens[0]), name) << sql;
  }
}

TEST(SqlTextTest, FirstKeywordIsTheLeadingWord) {
  const std::pair<const char*, const char*> cases[] = {
      {"INSERT INTO k VALUES (1)", "INSERT"},
      {"  /* comment */ -- line\n delete FROM k", "delete"},
      {"WITH one(id) AS (SELECT 1) SELECT * FROM one", "WITH"},
      {"DECIMAL(10,2)", "DECIMAL"},
      {"\"INSERT\" x", ""},  // a quoted name is no keyword
      {"(SELECT 1)", ""},
      {"'INSERT'", ""},
      {"; DELETE FROM k", ""},
      {"", ""},
      {"-- DELETE", ""},
  };
  for (const auto& [sql, keyword] : cases) EXPECT_EQ(FirstKeyword(sql), keyword) << sql;
}

TEST(SqlTextTest, OnlyBlanksCommentsAndSemicolonsMayFollowAStatement) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},
      {" ;; \n-- a comment; DROP t\n/* DROP t */ ;", true},
      {"/* left open; DROP t", true},
      {" DROP TABLE k", false},
      {"; DROP TABLE k", false},
      {"-- a comment\nDROP TABLE k", false},
      {"'left open", false},
      {",", false},
  };
  for (const auto& [text, only] : cases) EXPECT_EQ(IsOnlySeparators(text), only) << text;
}

TEST(SqlTextTest, IsolationStatementGivesItsLevel) {
  using L = IsolationLevel;
  const std::pair<const char*, std::optional<L>> cases[] = {
      {"SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED", L::ReadUncommitted},
      {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED", L::ReadCommitted},
      {"SET TRANSACTION ISOLATION LEVEL REPEATABLE READ", L::RepeatableRead},
      {"SET TRANSACTION ISOLATION LEVEL SERIALIZABLE", L::Serializable},
      {"set transaction isolation level read uncommitted;", L::ReadUncommitted},
      {"SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED", L::ReadUncommitted},
      {"  Set  Transaction\n\tIsolation Level Read Committed  ", L::ReadCommitted},
      {"/* pool */ -- first\nSET TRANSACTION ISOLATION LEVEL REPEATABLE READ ; ;", L::RepeatableRead},
      {"SET TRANSACTION /* x */ ISOLATION LEVEL SERIALIZABLE -- done", L::Serializable},
      // Anything else is another statement.
      {"SET TRANSACTION ISOLATION LEVEL SNAPSHOT", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL READ", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED WRITE", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL SERIALIZABLE READ", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL REPEATABLE", std::nullopt},
      {"SET TRANSACTION READ ONLY", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED; SELECT 1", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED,", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL \"READ\" COMMITTED", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL READ 'COMMITTED'", std::nullopt},
      {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED 1", std::nullopt},
      {"SETTRANSACTION ISOLATION LEVEL SERIALIZABLE", std::nullopt},
      {"; SET TRANSACTION ISOLATION LEVEL SERIALIZABLE", std::nullopt},
      {"SELECT 1", std::nullopt},
      {"", std::nullopt},
      {";", std::nullopt},
  };
  for (const auto& [sql, level] : cases) EXPECT_EQ(IsolationStatementLevel(sql), level) << sql;
}

TEST(SqlTextTest, StatementsSplitAtSemicolonsOutsideLiteralsAndComments) {
  struct Case {
    const char* script;
    std::vector<std::string> statements;
  };
  const Case cases[] = {
      {"CREATE TABLE a (x INT);\nINSERT INTO a VALUES (1);", {"CREATE TABLE a (x INT)", "INSERT INTO a VALUES (1)"}},
      {"-- a comment; with a semicolon\nSELECT 1;", {"SELECT 1"}},
      {"INSERT INTO a VALUES ('x;y', 'it''s;');", {"INSERT INTO a VALUES ('x;y', 'it''s;')"}},
      {"SELECT 1 /* ; */ + 2", {"SELECT 1   + 2"}},
      {"SELECT \"a;b\" FROM t;;  \n -- only a comment\n", {"SELECT \"a;b\" FROM t"}},
      {"INSERT INTO a VALUES ('费用;部门')", {"INSERT INTO a VALUES ('费用;部门')"}},
      {"SELECT [a;b], `c;d` FROM t; SELECT 2", {"SELECT [a;b], `c;d` FROM t", "SELECT 2"}},
      {"SELECT 1 -- one; two\n, 2;", {"SELECT 1 \n, 2"}},
      {"/* head */ SELECT 1 /* tail */ ;", {"SELECT 1"}},
      {"SELECT 1; INSERT INTO a VALUES ('open; x", {"SELECT 1", "INSERT INTO a VALUES ('open; x"}},
      {"SELECT 1; /* open; SELECT 2", {"SELECT 1"}},
      {"", {}},
      {" ;; -- nothing\n ;", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitStatements(c.script), c.statements) << c.script;
}

}  // namespace
}  // namespace morvane::db
