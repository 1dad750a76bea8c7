#include "platform/db/sql_text.h"

#include <iterator>

#include "platform/automation/text.h"

namespace morvane::db {

namespace {

using automation::EqualsIgnoreCase;

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool IsWordStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsWordPart(unsigned char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

// What a piece of the text is: a token, or blanks or a comment between tokens.
enum class PieceKind { Token, Blanks, LineComment, BlockComment };

struct Piece {
  PieceKind kind = PieceKind::Token;
  TokenKind tokenKind = TokenKind::Punctuation;  // for a token
  std::size_t end = 0;                           // where the piece ends in the text
};

// The end of the quoted part that opens at `start` and closes with `close`.
std::size_t QuotedEnd(std::string_view sql, std::size_t start, char close) {
  for (std::size_t j = start + 1; j < sql.size(); ++j) {
    if (sql[j] != close) continue;
    if (j + 1 < sql.size() && sql[j + 1] == close) {
      ++j;  // a doubled quote stands for itself
      continue;
    }
    return j + 1;
  }
  return sql.size();
}

// The piece that starts at `i` (before the end of the text).
Piece PieceAt(std::string_view sql, std::size_t i) {
  const std::size_t n = sql.size();
  const auto c = static_cast<unsigned char>(sql[i]);
  auto runOf = [&](bool (*part)(unsigned char)) {
    std::size_t end = i + 1;
    while (end < n && part(static_cast<unsigned char>(sql[end]))) ++end;
    return end;
  };
  if (IsBlank(c)) return {PieceKind::Blanks, {}, runOf(IsBlank)};
  if (sql.substr(i, 2) == "--") {
    const std::size_t end = sql.find('\n', i);  // the line end itself is a blank
    return {PieceKind::LineComment, {}, end == std::string_view::npos ? n : end};
  }
  if (sql.substr(i, 2) == "/*") {
    const std::size_t end = sql.find("*/", i + 2);
    return {PieceKind::BlockComment, {}, end == std::string_view::npos ? n : end + 2};
  }
  if (c == '\'') return {PieceKind::Token, TokenKind::String, QuotedEnd(sql, i, '\'')};
  if (c == '"' || c == '`' || c == '[')
    return {PieceKind::Token, TokenKind::QuotedName, QuotedEnd(sql, i, c == '[' ? ']' : static_cast<char>(c))};
  if (IsWordStart(c)) return {PieceKind::Token, TokenKind::Word, runOf(IsWordPart)};
  if (IsDigit(c))
    return {PieceKind::Token, TokenKind::Number, runOf([](unsigned char d) { return IsWordPart(d) || d == '.'; })};
  return {PieceKind::Token, TokenKind::Punctuation, i + 1};
}

// The next token from `i` on, moving `i` past it; nullopt at the end of the text.
std::optional<Token> NextToken(std::string_view sql, std::size_t& i) {
  while (i < sql.size()) {
    const Piece piece = PieceAt(sql, i);
    const std::size_t start = i;
    i = piece.end;
    if (piece.kind == PieceKind::Token) return Token{piece.tokenKind, start, sql.substr(start, piece.end - start)};
  }
  return std::nullopt;
}

bool IsSemicolon(const Token& token) { return token.kind == TokenKind::Punctuation && token.text == ";"; }

}  // namespace

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (std::optional<Token> token = NextToken(sql, i)) tokens.push_back(*token);
  return tokens;
}

std::string NameOf(const Token& token) {
  if (token.kind == TokenKind::Word) return std::string(token.text);
  if (token.kind != TokenKind::QuotedName) return {};
  const char close = token.text[0] == '[' ? ']' : token.text[0];
  std::string name;
  for (std::size_t j = 1; j < token.text.size(); ++j) {
    if (token.text[j] == close && ++j >= token.text.size()) break;  // the closing quote
    name += token.text[j];  // after a quote only its double can stand here
  }
  return name;
}

std::string_view FirstKeyword(std::string_view sql) {
  std::size_t i = 0;
  const std::optional<Token> first = NextToken(sql, i);
  return first && first->kind == TokenKind::Word ? first->text : std::string_view();
}

bool IsOnlySeparators(std::string_view text) {
  std::size_t i = 0;
  while (std::optional<Token> token = NextToken(text, i))
    if (!IsSemicolon(*token)) return false;
  return true;
}

std::optional<IsolationLevel> IsolationStatementLevel(std::string_view sql) {
  static constexpr std::string_view kLead[] = {"SET", "TRANSACTION", "ISOLATION", "LEVEL"};
  std::string_view words[6];
  std::size_t count = 0;
  std::size_t i = 0;
  while (std::optional<Token> token = NextToken(sql, i)) {
    if (IsSemicolon(*token)) {
      if (!IsOnlySeparators(sql.substr(i))) return std::nullopt;
      break;
    }
    // Most texts are other statements: they fail at the first word.
    if (token->kind != TokenKind::Word || count == std::size(words) ||
        (count < std::size(kLead) && !EqualsIgnoreCase(token->text, kLead[count])))
      return std::nullopt;
    words[count++] = token->text;
  }
  auto levelIs = [&](std::string_view first, std::string_view second) {
    return count == (second.empty() ? 5 : 6) && EqualsIgnoreCase(words[4], first) &&
           (second.empty() || EqualsIgnoreCase(words[5], second));
  };
  if (levelIs("READ", "UNCOMMITTED")) return IsolationLevel::ReadUncommitted;
  if (levelIs("READ", "COMMITTED")) return IsolationLevel::ReadCommitted;
  if (levelIs("REPEATABLE", "READ")) return IsolationLevel::RepeatableRead;
  if (levelIs("SERIALIZABLE", {})) return IsolationLevel::Serializable;
  return std::nullopt;
}

std::vector<std::string> SplitStatements(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;  // the statement so far, up to its last token
  std::string pending;  // blanks and comments after its last token, kept once a token follows
  std::size_t i = 0;
  while (i < script.size()) {
    const Piece piece = PieceAt(script, i);
    const std::string_view text = script.substr(i, piece.end - i);
    i = piece.end;
    switch (piece.kind) {
      case PieceKind::Blanks:
        if (!current.empty()) pending += text;
        break;
      case PieceKind::LineComment:
        break;
      case PieceKind::BlockComment:
        if (!current.empty()) pending += ' ';  // a comment separates what stands around it
        break;
      case PieceKind::Token:
        if (piece.tokenKind == TokenKind::Punctuation && text == ";") {
          if (!current.empty()) statements.push_back(std::move(current));
          current.clear();
        } else {
          current += pending;
          current += text;
        }
        pending.clear();
        break;
    }
  }
  if (!current.empty()) statements.push_back(std::move(current));
  return statements;
}

}  // namespace morvane::db
