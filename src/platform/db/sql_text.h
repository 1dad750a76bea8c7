// The scanner of statement texts that both providers and provisioning use, working without a
// database: it cuts a text into tokens, and on them rest the splitting of a script into
// statements, the recognition of the isolation statement, a statement's first keyword and the
// check that nothing follows a statement. Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::db {

enum class TokenKind {
  Word,         // a name or keyword: a letter, "_" or non-ASCII byte, then those, digits and "$"
  QuotedName,   // "...", `...` or [...]
  String,       // '...'
  Number,       // a digit, then letters, digits, "_", "$" and "."
  Punctuation,  // any other single character
};

struct Token {
  TokenKind kind = TokenKind::Punctuation;
  std::size_t offset = 0;  // where the token starts in the text
  std::string_view text;   // the token as written, quotes included (a view into the text)
};

// The tokens of the text in order. Blanks (space, tab, CR, LF, FF, VT) and comments (-- to the
// end of the line, /* ... */ not nested) are left out. Inside quotes a doubled closing quote
// stands for itself; a literal or quoted name left open runs to the end of the text, and so does
// a block comment. Bytes of UTF-8 characters beyond ASCII are letters of words.
std::vector<Token> Tokenize(std::string_view sql);

// The name a word or quoted name stands for: a word as written, a quoted name without its
// quotes (a doubled closing quote inside becomes one); empty for any other token.
std::string NameOf(const Token& token);

// The first token of the text when it is a word, as written (a keyword: "delete" for
// "/* x */ delete FROM t"); empty when the text starts with any other token or holds none.
std::string_view FirstKeyword(std::string_view sql);

// True when the text holds nothing but blanks, comments and ";": what may follow a statement
// that is to run alone.
bool IsOnlySeparators(std::string_view text);

enum class IsolationLevel { ReadUncommitted, ReadCommitted, RepeatableRead, Serializable };

// The level an isolation statement sets: its tokens are the words SET TRANSACTION ISOLATION
// LEVEL followed by READ UNCOMMITTED, READ COMMITTED, REPEATABLE READ or SERIALIZABLE, in any
// letter case, with comments anywhere and ";" after it allowed. Nullopt for any other text
// (another level, an extra word, a quoted name).
std::optional<IsolationLevel> IsolationStatementLevel(std::string_view sql);

// The statements of a script: its text split at each ";" token, each statement running from
// its first token to its last, with the comments inside left out (a line comment dropped up to
// its line end, a block comment replaced by one blank) and the blanks kept; a piece without
// tokens is left out.
std::vector<std::string> SplitStatements(std::string_view script);

}  // namespace morvane::db
