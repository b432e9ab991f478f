#include "source/JetSql.h"

#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"

#include <glib.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Reading the Jet text

enum class TokenKind { Identifier, Keyword, Number, Text, Symbol };

struct Token {
    TokenKind kind;
    // Identifier: the name without brackets; Keyword: upper case; Number: as written; Text: already a SQLite
    // literal; Symbol: the operator.
    std::string text;
    std::size_t offset;  // where the token starts in the query, for error messages
};

// Words with the same meaning in both dialects; they are written in upper case.
constexpr std::array kKeywords{
    "SELECT", "DISTINCT", "ALL", "FROM",  "INNER", "LEFT", "RIGHT", "OUTER", "JOIN", "ON",     "WHERE",
    "AND",    "OR",       "NOT", "GROUP", "BY",    "HAVING", "ORDER", "ASC", "DESC", "AS",    "IS",
    "NULL",   "IN",       "BETWEEN", "EXISTS"};

struct Unsupported {
    const char* word;
    const char* what;
};

// Jet words that SQLite would read differently or not at all. Like is here because its wildcards (* ? #) and
// its case rules are not SQLite's.
constexpr std::array kUnsupportedWords{
    Unsupported{"MOD", "operator"},      Unsupported{"LIKE", "operator"},      Unsupported{"ALIKE", "operator"},
    Unsupported{"XOR", "operator"},      Unsupported{"EQV", "operator"},       Unsupported{"IMP", "operator"},
    Unsupported{"TOP", "keyword"},       Unsupported{"PERCENT", "keyword"},    Unsupported{"DISTINCTROW", "keyword"},
    Unsupported{"TRUE", "keyword"},      Unsupported{"FALSE", "keyword"},      Unsupported{"UNION", "keyword"},
    Unsupported{"INTO", "keyword"},      Unsupported{"PIVOT", "keyword"},      Unsupported{"TRANSFORM", "keyword"},
    Unsupported{"PARAMETERS", "keyword"}, Unsupported{"WITH", "keyword"}};

// Aggregates that mean the same in both dialects when given one argument (SQLite's two-argument Max and Min are
// scalar functions, which Jet does not have).
constexpr std::array kFunctions{"MAX", "MIN", "SUM", "AVG", "COUNT"};

bool equalsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

template <typename List>
bool contains(const List& list, std::string_view word) {
    for (const char* entry : list)
        if (equalsAsciiNoCase(entry, word)) return true;
    return false;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

// Length in bytes of the name character at `at`, 0 when there is none. Jet names may hold any Unicode letter
// (Sid_Año is a plain identifier), and after the first character, digits.
std::size_t nameCharLength(std::string_view sql, std::size_t at, bool first) {
    const char c = sql[at];
    if (isAsciiLetter(c) || (!first && isDigit(c))) return 1;
    if (static_cast<unsigned char>(c) < 0x80) return 0;
    const gchar* const p = sql.data() + at;
    const gunichar u = g_utf8_get_char_validated(p, static_cast<gssize>(sql.size() - at));
    if (u == static_cast<gunichar>(-1) || u == static_cast<gunichar>(-2)) return 0;
    if (!g_unichar_isalpha(u) && !g_unichar_ismark(u) && (first || !g_unichar_isdigit(u))) return 0;
    return static_cast<std::size_t>(g_utf8_next_char(p) - p);
}

std::size_t nameEnd(std::string_view sql, std::size_t start) {
    std::size_t end = start;
    while (end < sql.size()) {
        const std::size_t length = nameCharLength(sql, end, false);
        if (length == 0) break;
        end += length;
    }
    return end;
}

std::string upper(std::string_view word) {
    std::string result(word);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

class Translator {
public:
    Translator(std::string_view sql, const NameResolver& resolve, const TableLookup& tables)
        : m_sql(sql), m_resolve(resolve), m_tables(tables) {}

    std::string run() {
        requireSelect();
        tokenize();
        std::size_t position = 0;
        std::vector<Node> nodes = parseSequence(position, nullptr);
        if (const std::size_t order = sortWithOneKey(nodes); order != 0) nodes.resize(order);
        return emitSequence(nodes);
    }

private:
    struct Node {
        Token token;                 // a group keeps its "(" here
        std::vector<Node> children;  // a group's contents
        bool group = false;
    };

    enum class Role { Operand, Concat, Arithmetic, Other };

    // One step of a sequence as the `&` rule sees it: a primary (name, literal, call, group) or a single token.
    struct Item {
        std::string sql;
        Role role;
        std::size_t offset;
    };

    [[noreturn]] void fail(std::size_t offset, std::string_view problem) const {
        std::string description = "cannot translate query: ";
        description += problem;
        if (offset >= m_sql.size()) {
            description += " at the end of the query";
        } else {
            std::size_t end = std::min(m_sql.size(), offset + 20);
            // Never cut a UTF-8 sequence in two.
            while (end < m_sql.size() && (static_cast<unsigned char>(m_sql[end]) & 0xC0) == 0x80) --end;
            description += " near \"";
            description += m_sql.substr(offset, end - offset);
            description += '"';
        }
        throw RuntimeError(RuntimeError::DatabaseError, description);
    }

    void requireSelect() const {
        std::size_t i = 0;
        while (i < m_sql.size() && isBlank(m_sql[i])) ++i;
        if (i == m_sql.size()) fail(i, "the query is empty");
        const std::size_t end = nameEnd(m_sql, i);
        if (!equalsAsciiNoCase(m_sql.substr(i, end - i), "SELECT")) fail(i, "only SELECT statements can be run");
    }

    void tokenize() {
        std::size_t i = 0;
        while (i < m_sql.size()) {
            const char c = m_sql[i];
            if (isBlank(c)) {
                ++i;
            } else if (c == ';') {
                std::size_t rest = i + 1;
                while (rest < m_sql.size() && isBlank(m_sql[rest])) ++rest;
                if (rest < m_sql.size()) fail(rest, "only one statement can be run");
                return;
            } else if (nameCharLength(m_sql, i, true) > 0) {
                i = readWord(i);
            } else if (isDigit(c) || (c == '.' && i + 1 < m_sql.size() && isDigit(m_sql[i + 1]) && !afterName())) {
                i = readNumber(i);
            } else if (c == '\'') {
                i = readSingleQuoted(i);
            } else if (c == '"') {
                i = readDoubleQuoted(i);
            } else if (c == '[') {
                i = readBracketed(i);
            } else {
                i = readSymbol(i);
            }
        }
    }

    bool afterName() const {
        if (m_tokens.empty()) return false;
        const Token& last = m_tokens.back();
        return last.kind == TokenKind::Identifier || (last.kind == TokenKind::Symbol && last.text == ")");
    }

    bool afterDot() const {
        return !m_tokens.empty() && m_tokens.back().kind == TokenKind::Symbol && m_tokens.back().text == ".";
    }

    std::size_t readWord(std::size_t start) {
        const std::size_t end = nameEnd(m_sql, start);
        const std::string_view word = m_sql.substr(start, end - start);
        // After a dot every word is a column name, even one spelt like a keyword.
        if (!afterDot()) {
            for (const Unsupported& entry : kUnsupportedWords)
                if (equalsAsciiNoCase(entry.word, word))
                    fail(start, "unsupported " + std::string(entry.what) + " " + std::string(word));
            if (contains(kKeywords, word)) {
                m_tokens.push_back({TokenKind::Keyword, upper(word), start});
                return end;
            }
        }
        m_tokens.push_back({TokenKind::Identifier, std::string(word), start});
        return end;
    }

    std::size_t readNumber(std::size_t start) {
        std::size_t end = start;
        while (end < m_sql.size() && isDigit(m_sql[end])) ++end;
        if (end < m_sql.size() && m_sql[end] == '.') {
            ++end;
            while (end < m_sql.size() && isDigit(m_sql[end])) ++end;
        }
        if (end < m_sql.size() && (m_sql[end] == 'e' || m_sql[end] == 'E')) {
            std::size_t exponent = end + 1;
            if (exponent < m_sql.size() && (m_sql[exponent] == '+' || m_sql[exponent] == '-')) ++exponent;
            if (exponent < m_sql.size() && isDigit(m_sql[exponent])) {
                end = exponent;
                while (end < m_sql.size() && isDigit(m_sql[end])) ++end;
            }
        }
        // 0x10 or 1.2.3 would otherwise read as a number followed by an alias or a qualifier.
        if (end < m_sql.size() && (nameCharLength(m_sql, end, false) > 0 || m_sql[end] == '.')) fail(start, "malformed number");
        m_tokens.push_back({TokenKind::Number, std::string(m_sql.substr(start, end - start)), start});
        return end;
    }

    // 'text' means the same in both dialects, '' included: it is copied as written.
    std::size_t readSingleQuoted(std::size_t start) {
        std::size_t i = start + 1;
        while (true) {
            if (i >= m_sql.size()) fail(start, "unterminated text constant");
            if (m_sql[i] == '\'') {
                if (i + 1 < m_sql.size() && m_sql[i + 1] == '\'') {
                    i += 2;
                    continue;
                }
                break;
            }
            ++i;
        }
        m_tokens.push_back({TokenKind::Text, std::string(m_sql.substr(start, i + 1 - start)), start});
        return i + 1;
    }

    // "text" is a text constant in Jet but a name in SQLite: rewritten as 'text'.
    std::size_t readDoubleQuoted(std::size_t start) {
        std::string literal = "'";
        std::size_t i = start + 1;
        while (true) {
            if (i >= m_sql.size()) fail(start, "unterminated text constant");
            const char c = m_sql[i];
            if (c == '"') {
                if (i + 1 < m_sql.size() && m_sql[i + 1] == '"') {
                    literal += '"';
                    i += 2;
                    continue;
                }
                break;
            }
            if (c == '\'') literal += '\'';
            literal += c;
            ++i;
        }
        literal += '\'';
        m_tokens.push_back({TokenKind::Text, std::move(literal), start});
        return i + 1;
    }

    std::size_t readBracketed(std::size_t start) {
        const std::size_t close = m_sql.find(']', start + 1);
        if (close == std::string_view::npos) fail(start, "unterminated bracketed name");
        if (close == start + 1) fail(start, "empty bracketed name");
        m_tokens.push_back({TokenKind::Identifier, std::string(m_sql.substr(start + 1, close - start - 1)), start});
        return close + 1;
    }

    std::size_t readSymbol(std::size_t start) {
        const char c = m_sql[start];
        const char next = start + 1 < m_sql.size() ? m_sql[start + 1] : '\0';
        if (c == '<' && (next == '>' || next == '=')) {
            m_tokens.push_back({TokenKind::Symbol, std::string{c, next}, start});
            return start + 2;
        }
        if (c == '>' && next == '=') {
            m_tokens.push_back({TokenKind::Symbol, ">=", start});
            return start + 2;
        }
        if (std::strchr("(),.*+-/=<>&", c) != nullptr) {
            m_tokens.push_back({TokenKind::Symbol, std::string(1, c), start});
            return start + 1;
        }
        if (c == '#') fail(start, "unsupported date constant");
        if (c == '!') fail(start, "unsupported ! qualifier");
        if (c == '\\' || c == '^') fail(start, "unsupported operator " + std::string(1, c));
        const gchar* const p = m_sql.data() + start;
        if (g_utf8_get_char_validated(p, static_cast<gssize>(m_sql.size() - start)) >= static_cast<gunichar>(-2))
            fail(start, "text that is not valid UTF-8");
        const auto length = static_cast<std::size_t>(g_utf8_next_char(p) - p);
        fail(start, "unexpected character " + std::string(m_sql.substr(start, length)));
    }

    // ------------------------------------------------------------------------------------------------------------
    // Parentheses

    static bool isSymbol(const Token& token, std::string_view symbol) {
        return token.kind == TokenKind::Symbol && token.text == symbol;
    }

    std::vector<Node> parseSequence(std::size_t& position, const Token* open, int depth = 0) {
        // Translation recurses once per level; a bound keeps hostile text from exhausting the stack.
        constexpr int kMaxDepth = 200;
        if (depth > kMaxDepth) fail(open->offset, "parentheses nested too deeply");
        std::vector<Node> nodes;
        while (position < m_tokens.size()) {
            const Token& token = m_tokens[position++];
            if (isSymbol(token, ")")) {
                if (open == nullptr) fail(token.offset, "unbalanced )");
                return nodes;
            }
            Node node{token, {}, false};
            if (isSymbol(token, "(")) {
                node.group = true;
                node.children = parseSequence(position, &token, depth + 1);
            }
            nodes.push_back(std::move(node));
        }
        if (open != nullptr) fail(open->offset, "unbalanced (");
        return nodes;
    }

    // ------------------------------------------------------------------------------------------------------------
    // Writing SQLite

    std::string name(const std::string& written) const {
        const std::optional<std::string> canonical = m_resolve ? m_resolve(written) : std::nullopt;
        return sqlQuoted(canonical ? *canonical : written, '"');
    }

    std::string call(const Node& function, const Node& arguments) const {
        const Token& token = function.token;
        if (!contains(kFunctions, token.text)) fail(token.offset, "unsupported function " + token.text);
        std::size_t commas = 0;
        for (const Node& child : arguments.children)
            if (isSymbol(child.token, ",")) ++commas;
        if (arguments.children.empty() || commas > 0) fail(token.offset, token.text + " takes exactly one argument");
        return token.text + "(" + emitSequence(arguments.children) + ")";
    }

    std::vector<Item> items(const std::vector<Node>& nodes) const {
        std::vector<Item> result;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const Node& node = nodes[i];
            const Token& token = node.token;
            const bool callFollows = i + 1 < nodes.size() && nodes[i + 1].group;
            if (node.group) {
                result.push_back({"(" + emitSequence(node.children) + ")", Role::Operand, token.offset});
            } else if (token.kind == TokenKind::Identifier) {
                const bool alias = i > 0 && nodes[i - 1].token.kind == TokenKind::Keyword && nodes[i - 1].token.text == "AS";
                if (alias) {
                    result.push_back({sqlQuoted(token.text, '"'), Role::Other, token.offset});
                } else if (callFollows) {
                    result.push_back({call(node, nodes[i + 1]), Role::Operand, token.offset});
                    ++i;
                } else {
                    std::string sql = name(token.text);
                    Role role = Role::Operand;
                    while (i + 1 < nodes.size() && isSymbol(nodes[i + 1].token, ".")) {
                        const Token& dot = nodes[i + 1].token;
                        if (i + 2 >= nodes.size()) fail(dot.offset, "misplaced .");
                        const Token& part = nodes[i + 2].token;
                        if (part.kind == TokenKind::Identifier && !nodes[i + 2].group) {
                            sql += "." + name(part.text);
                        } else if (isSymbol(part, "*")) {
                            sql += ".*";
                            role = Role::Other;
                        } else {
                            fail(dot.offset, "misplaced .");
                        }
                        i += 2;
                    }
                    result.push_back({std::move(sql), role, token.offset});
                }
            } else if (token.kind == TokenKind::Keyword) {
                // Left( and Right( are Jet text functions; SQLite would read a join.
                if (callFollows && (token.text == "LEFT" || token.text == "RIGHT"))
                    fail(token.offset, "unsupported function " + std::string(m_sql.substr(token.offset, token.text.size())));
                result.push_back({token.text, token.text == "NULL" ? Role::Operand : Role::Other, token.offset});
            } else if (token.kind == TokenKind::Number || token.kind == TokenKind::Text) {
                result.push_back({token.text, Role::Operand, token.offset});
            } else if (token.text == "&") {
                result.push_back({token.text, Role::Concat, token.offset});
            } else if (token.text == "+" || token.text == "-" || token.text == "*" || token.text == "/") {
                result.push_back({token.text, Role::Arithmetic, token.offset});
            } else if (token.text == ".") {
                fail(token.offset, "misplaced .");
            } else {
                result.push_back({token.text, Role::Other, token.offset});
            }
        }
        return result;
    }

    // Jet's & binds more loosely than + - * / but more tightly than comparisons, And, Or and Not. A chain whose
    // operands are primaries and whose neighbours are not arithmetic reads the same however it is grouped, so it
    // can become one jet_cat call; anything else would need Jet's precedence rebuilt and is refused.
    std::string emitSequence(const std::vector<Node>& nodes) const {
        const std::vector<Item> all = items(nodes);
        std::string sql;
        const auto append = [&sql](const std::string& piece) {
            if (!sql.empty() && piece != ",") sql += ' ';
            sql += piece;
        };
        for (std::size_t i = 0; i < all.size(); ++i) {
            const bool chainStarts = i + 1 < all.size() && all[i + 1].role == Role::Concat;
            if (all[i].role == Role::Concat || (chainStarts && all[i].role != Role::Operand))
                fail(all[chainStarts ? i + 1 : i].offset, "unsupported use of &");
            if (!chainStarts) {
                append(all[i].sql);
                continue;
            }
            if (i > 0 && all[i - 1].role == Role::Arithmetic) fail(all[i + 1].offset, "unsupported use of &");
            std::string chain = "jet_cat(" + all[i].sql;
            std::size_t last = i;
            while (last + 1 < all.size() && all[last + 1].role == Role::Concat) {
                if (last + 2 >= all.size() || all[last + 2].role != Role::Operand)
                    fail(all[last + 1].offset, "unsupported use of &");
                chain += ", " + all[last + 2].sql;
                last += 2;
            }
            if (last + 1 < all.size() && all[last + 1].role == Role::Arithmetic)
                fail(all[last - 1].offset, "unsupported use of &");
            append(chain + ")");
            i = last;
        }
        return sql;
    }

    // ------------------------------------------------------------------------------------------------------------
    // A sort every row has the same key for

    // A table as the query names it: its stored name and the name its columns are qualified with.
    struct Range {
        std::string table;
        std::string name;
        const TableColumns* columns;
        bool pinned = false;
    };

    // The tokens of a sequence with its groups opened: a group's "(" token, its contents, then nullptr.
    static void flatten(std::span<const Node> nodes, std::vector<const Token*>& out) {
        for (const Node& node : nodes) {
            out.push_back(&node.token);
            if (!node.group) continue;
            flatten(node.children, out);
            out.push_back(nullptr);
        }
    }

    static bool isKeyword(const Token* token, std::string_view word) {
        return token && token->kind == TokenKind::Keyword && token->text == word;
    }

    std::string stored(const std::string& written) const {
        const std::optional<std::string> canonical = m_resolve ? m_resolve(written) : std::nullopt;
        return canonical ? *canonical : written;
    }

    // The tables of a FROM clause made of tables and inner joins; false for anything else.
    bool readRanges(const std::vector<const Token*>& from, std::vector<Range>& ranges) const {
        bool expectTable = true;
        for (std::size_t i = 0; i < from.size(); ++i) {
            const Token* token = from[i];
            if (!token) {
                expectTable = false;
            } else if (isSymbol(*token, "(")) {
                // a nested join keeps waiting for its first table
            } else if (isKeyword(token, "JOIN") || isSymbol(*token, ",")) {
                expectTable = true;
            } else if (isKeyword(token, "LEFT") || isKeyword(token, "RIGHT") || isKeyword(token, "OUTER")) {
                return false;
            } else if (expectTable) {
                if (token->kind != TokenKind::Identifier) return false;
                Range range{stored(token->text), stored(token->text), nullptr};
                range.columns = m_tables(range.table);
                if (!range.columns) return false;
                if (i + 2 < from.size() && isKeyword(from[i + 1], "AS") && from[i + 2] &&
                    from[i + 2]->kind == TokenKind::Identifier) {
                    range.name = from[i + 2]->text;
                    i += 2;
                } else if (i + 1 < from.size() && from[i + 1] && from[i + 1]->kind == TokenKind::Identifier) {
                    range.name = from[i + 1]->text;
                    i += 1;
                }
                ranges.push_back(std::move(range));
                expectTable = false;
            }
        }
        return !ranges.empty();
    }

    static bool sameName(const std::string& a, const std::string& b) {
        return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
    }

    // The table a column reference reads (`table.column` or a column only one of the tables has) and the
    // column's stored name; null when that cannot be told.
    Range* rangeOf(const Token* qualifier, const Token& column, std::vector<Range>& ranges, std::string& name) const {
        name = stored(column.text);
        Range* found = nullptr;
        for (Range& range : ranges) {
            if (qualifier && !sameName(range.name, qualifier->text) && !sameName(range.name, stored(qualifier->text)))
                continue;
            if (std::find(range.columns->columns.begin(), range.columns->columns.end(), name) == range.columns->columns.end())
                continue;
            if (found) return nullptr;
            found = &range;
        }
        return found;
    }

    // Marks the tables that a conjunction of the WHERE clause pins to one row.
    void pin(std::span<const Node> where, std::vector<Range>& ranges) const {
        std::vector<std::vector<const Node*>> terms(1);
        for (const Node& node : where) {
            if (node.token.kind == TokenKind::Keyword && node.token.text == "OR") return;
            if (node.token.kind == TokenKind::Keyword && node.token.text == "AND") terms.emplace_back();
            else terms.back().push_back(&node);
        }
        for (const std::vector<const Node*>& term : terms) {
            if (term.size() == 1 && term[0]->group) {
                pin(term[0]->children, ranges);
                continue;
            }
            // column = number, number = column, the column qualified or not
            std::vector<const Node*> sides[2];
            int side = 0;
            for (const Node* node : term) {
                if (isSymbol(node->token, "=") && !node->group && side == 0) side = 1;
                else sides[side].push_back(node);
            }
            if (side != 1) continue;
            for (int s = 0; s < 2; ++s) {
                const auto& column = sides[s];
                const auto& number = sides[1 - s];
                if (number.size() != 1 || number[0]->group || number[0]->token.kind != TokenKind::Number) continue;
                const bool plain = column.size() == 1 && !column[0]->group;
                const bool qualified = column.size() == 3 && !column[0]->group && isSymbol(column[1]->token, ".") &&
                                       !column[2]->group;
                if (!plain && !qualified) continue;
                const Token& name = (qualified ? column[2] : column[0])->token;
                if (name.kind != TokenKind::Identifier || (qualified && column[0]->token.kind != TokenKind::Identifier))
                    continue;
                std::string columnName;
                Range* range = rangeOf(qualified ? &column[0]->token : nullptr, name, ranges, columnName);
                if (!range) continue;
                const auto& unique = range->columns->uniqueColumns;
                if (std::find(unique.begin(), unique.end(), columnName) != unique.end()) range->pinned = true;
            }
        }
    }

    // Where the ORDER BY clause starts when its terms read only tables pinned to one row; 0 otherwise.
    std::size_t sortWithOneKey(const std::vector<Node>& nodes) const {
        if (!m_tables) return 0;
        std::size_t from = 0, where = 0, order = 0;
        for (std::size_t i = 1; i < nodes.size(); ++i) {
            const Token& token = nodes[i].token;
            if (token.kind != TokenKind::Keyword) continue;
            if (token.text == "DISTINCT" || token.text == "GROUP" || token.text == "HAVING" || token.text == "SELECT")
                return 0;
            if (token.text == "FROM" && !from) from = i;
            else if (token.text == "WHERE" && !where) where = i;
            else if (token.text == "ORDER" && i + 1 < nodes.size() && nodes[i + 1].token.text == "BY") order = i;
        }
        if (!from || !where || !order || !(from < where && where < order)) return 0;
        std::vector<const Token*> all;
        flatten(nodes, all);
        for (std::size_t i = 1; i < all.size(); ++i)
            if (isKeyword(all[i], "SELECT")) return 0;  // a subquery

        std::vector<const Token*> fromTokens;
        flatten(std::span(nodes).subspan(from + 1, where - from - 1), fromTokens);
        std::vector<Range> ranges;
        if (!readRanges(fromTokens, ranges)) return 0;
        pin(std::span(nodes).subspan(where + 1, order - where - 1), ranges);

        // A name the select list gives a column stands for that column in ORDER BY, whatever the tables hold.
        std::vector<const Token*> selectList;
        flatten(std::span(nodes).subspan(1, from - 1), selectList);
        std::vector<std::string> aliases;
        for (std::size_t i = 0; i + 1 < selectList.size(); ++i)
            if (isKeyword(selectList[i], "AS") && selectList[i + 1]) aliases.push_back(selectList[i + 1]->text);

        std::vector<const Token*> terms;
        flatten(std::span(nodes).subspan(order + 2), terms);
        bool anyColumn = false;
        for (std::size_t i = 0; i < terms.size(); ++i) {
            const Token* token = terms[i];
            if (!token || token->kind == TokenKind::Text || token->kind == TokenKind::Keyword) continue;
            // A number is a column position; a call may be an aggregate.
            if (token->kind == TokenKind::Number) return 0;
            if (token->kind == TokenKind::Symbol) continue;
            const bool qualified = i + 2 < terms.size() && terms[i + 1] && isSymbol(*terms[i + 1], ".");
            if (i + 1 < terms.size() && terms[i + 1] && isSymbol(*terms[i + 1], "(")) return 0;
            if (qualified && !(terms[i + 2] && terms[i + 2]->kind == TokenKind::Identifier)) return 0;
            if (!qualified && std::any_of(aliases.begin(), aliases.end(),
                                          [&](const std::string& alias) { return sameName(alias, token->text); }))
                return 0;
            std::string columnName;
            const Range* range = rangeOf(qualified ? token : nullptr, qualified ? *terms[i + 2] : *token, ranges, columnName);
            if (!range || !range->pinned) return 0;
            anyColumn = true;
            if (qualified) i += 2;
        }
        return anyColumn ? order : 0;
    }

    std::string_view m_sql;
    const NameResolver& m_resolve;
    const TableLookup& m_tables;
    std::vector<Token> m_tokens;
};

// ---------------------------------------------------------------------------------------------------------------
// jet_cat

// The longest text of an operand that is a number: a Double as the runtime writes it, or a 64-bit integer.
constexpr std::size_t kNumberTextMax = kDoubleTextMax;
static_assert(kNumberTextMax >= sizeof "-9223372036854775808");

void jetCat(sqlite3_context* context, int argc, sqlite3_value** argv) {
    std::size_t capacity = 0;
    bool anyValue = false;
    for (int i = 0; i < argc; ++i) {
        switch (sqlite3_value_type(argv[i])) {
        case SQLITE_NULL:
            continue;
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            capacity += kNumberTextMax;
            break;
        case SQLITE_BLOB:
            sqlite3_value_blob(argv[i]);
            capacity += static_cast<std::size_t>(sqlite3_value_bytes(argv[i]));
            break;
        default:
            sqlite3_value_text(argv[i]);
            capacity += static_cast<std::size_t>(sqlite3_value_bytes(argv[i]));
            break;
        }
        anyValue = true;
    }
    // Jet gives Null only when every operand is Null.
    if (!anyValue) {
        sqlite3_result_null(context);
        return;
    }

    // Keys and labels are short: they are built on the stack, and SQLite takes its own copy.
    char local[512];
    std::unique_ptr<char[]> heap;
    char* buffer = local;
    if (capacity > sizeof local) {
        heap = std::make_unique_for_overwrite<char[]>(capacity);
        buffer = heap.get();
    }
    char* out = buffer;
    for (int i = 0; i < argc; ++i) {
        sqlite3_value* const value = argv[i];
        switch (sqlite3_value_type(value)) {
        case SQLITE_NULL:
            break;
        case SQLITE_INTEGER:
            out = std::to_chars(out, out + kNumberTextMax, sqlite3_value_int64(value)).ptr;
            break;
        case SQLITE_FLOAT:
            out = writeDouble(out, sqlite3_value_double(value));
            break;
        case SQLITE_BLOB: {
            const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            if (size > 0) std::memcpy(out, sqlite3_value_blob(value), size);
            out += size;
            break;
        }
        default: {
            const unsigned char* const text = sqlite3_value_text(value);
            const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            if (size > 0) std::memcpy(out, text, size);
            out += size;
            break;
        }
        }
    }
    sqlite3_result_text64(context, buffer, static_cast<sqlite3_uint64>(out - buffer), SQLITE_TRANSIENT, SQLITE_UTF8);
}

}  // namespace

std::string translateJetSql(std::string_view jetSql, const NameResolver& resolve, const TableLookup& tables) {
    return Translator(jetSql, resolve, tables).run();
}

void registerJetFunctions(sqlite3* db) {
    const int status = sqlite3_create_function_v2(db, "jet_cat", -1,
                                                  SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                                  jetCat, nullptr, nullptr, nullptr);
    if (status != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError,
                           std::string("cannot register function jet_cat: ") + sqlite3_errmsg(db));
    if (sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr)) != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError,
                           std::string("cannot turn off double-quoted text constants: ") + sqlite3_errmsg(db));
}

std::string sqlQuoted(std::string_view text, char quote)
{
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back(quote);
    for (char c : text) {
        if (c == quote) out.push_back(quote);
        out.push_back(c);
    }
    out.push_back(quote);
    return out;
}
