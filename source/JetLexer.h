#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reading a Jet SELECT statement: its tokens, the constants it holds and the key its translation is kept under,
// then the tokens grouped by the parentheses they stand between. A query is read once, here.

enum class JetTokenKind : std::uint8_t { Identifier, Keyword, Number, Text, Symbol };

struct JetToken {
    static constexpr std::uint32_t kNoConstant = UINT32_MAX;

    JetTokenKind kind;
    // A Text, or a Number that is a value, is a constant: its index in JetLexed::constants.
    std::uint32_t constant;
    // Identifier: the name without brackets; Keyword: upper case; Number: as written; Text: as written, quotes
    // included; Symbol: the operator. A view into the query text, or for a keyword into a static text.
    std::string_view text;
    std::size_t offset;  // where the token starts in the query, for error messages
};

// A value a query holds: a text constant ('text' or "text", its quotes undone) or a number as written.
struct JetConstant {
    bool text;
    std::string value;
};

// A query text as it was read. Its tokens refer to the text, which must outlive them.
struct JetLexed {
    std::string_view sql;
    std::vector<JetToken> tokens;
    // The text and number constants, in the order they are written. A number that is a term of ORDER BY or
    // GROUP BY is a column position, not a value, and is not one of them.
    std::vector<JetConstant> constants;
    // The text with each constant written as a neutral one of its kind (0 or ''): texts that differ only in their
    // constants have one key, and one translation.
    std::string key;
};

// Reads `sql`, which must be one SELECT statement. Words SQLite would read differently (Mod, Like, Top, #dates#,
// ...), a second statement and text that cannot be read raise RuntimeError (DatabaseError) saying what and where.
JetLexed lexJetSql(std::string_view sql);

// A query text as the pattern of the texts that differ from it only in their constants, which are read by comparing
// the text between the constants instead of reading it whole: an export runs a few statements again and again
// with other keys.
struct JetPattern {
    struct Constant {
        std::size_t offset;  // where the constant is written, quotes included
        std::size_t length;
    };
    std::string sql;
    std::vector<Constant> constants;
};

// The pattern of a query read by lexJetSql.
JetPattern patternOf(const JetLexed& lexed);

// True when `sql` is `pattern`'s text with each constant replaced by one of the same kind (a number, or a text in
// the same quotes), everything else unchanged: `sql` then reads as the pattern's query does, with the same
// translation, and `constants` gets its constants as lexJetSql would give them. False for any other text, which is
// then to be read whole.
bool matchJetPattern(const JetPattern& pattern, std::string_view sql, std::vector<JetConstant>& constants);

// A token and, when it is a "(", the tokens up to its ")".
struct JetNode {
    JetToken token;                 // a group keeps its "(" here
    std::vector<JetNode> children;  // a group's contents
    bool group = false;
};

// The tokens of a query as a tree of parenthesised groups. Unbalanced parentheses and parentheses nested deeper
// than the translator recurses raise RuntimeError (DatabaseError).
std::vector<JetNode> groupJetTokens(const JetLexed& lexed);

// Raises the error of a query that cannot be translated: the problem, then up to 20 bytes of `sql` from `offset`.
[[noreturn]] void failTranslation(std::string_view sql, std::size_t offset, std::string_view problem);

// ASCII letters compared without regard to case, as Jet compares its keywords.
bool equalsAsciiNoCase(std::string_view a, std::string_view b);

inline bool isSymbol(const JetToken& token, std::string_view symbol) {
    return token.kind == JetTokenKind::Symbol && token.text == symbol;
}
