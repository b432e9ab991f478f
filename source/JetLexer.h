#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reading a Jet SELECT statement: its tokens, then the tokens grouped by the parentheses they stand between.

enum class JetTokenKind { Identifier, Keyword, Number, Text, Symbol };

struct JetToken {
    JetTokenKind kind;
    // Identifier: the name without brackets; Keyword: upper case; Number: as written; Text: already a SQLite
    // literal; Symbol: the operator.
    std::string text;
    std::size_t offset;  // where the token starts in the query, for error messages
};

// A token and, when it is a "(", the tokens up to its ")".
struct JetNode {
    JetToken token;                 // a group keeps its "(" here
    std::vector<JetNode> children;  // a group's contents
    bool group = false;
};

// The tokens of `sql`, which must be one SELECT statement. Words SQLite would read differently (Mod, Like, Top,
// #dates#, ...), a second statement and text that cannot be read raise RuntimeError (DatabaseError) saying what
// and where.
std::vector<JetToken> tokenizeJetSql(std::string_view sql);

// The tokens of `sql` as a tree of parenthesised groups. Unbalanced parentheses and parentheses nested deeper
// than the translator recurses raise RuntimeError (DatabaseError).
std::vector<JetNode> groupJetTokens(std::string_view sql, const std::vector<JetToken>& tokens);

// Raises the error of a query that cannot be translated: the problem, then up to 20 bytes of `sql` from `offset`.
[[noreturn]] void failTranslation(std::string_view sql, std::size_t offset, std::string_view problem);

// ASCII letters compared without regard to case, as Jet compares its keywords.
bool equalsAsciiNoCase(std::string_view a, std::string_view b);

inline bool isSymbol(const JetToken& token, std::string_view symbol)
{
    return token.kind == JetTokenKind::Symbol && token.text == symbol;
}
