#include "source/JetLexer.h"

#include "runtime/RuntimeError.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

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

// Reads the Jet text into tokens, refusing what the translator cannot give the same meaning in SQLite.
class Lexer {
public:
    explicit Lexer(std::string_view sql) : m_sql(sql) {}

    std::vector<JetToken> run() {
        requireSelect();
        tokenize();
        return std::move(m_tokens);
    }

private:
    [[noreturn]] void fail(std::size_t offset, std::string_view problem) const {
        failTranslation(m_sql, offset, problem);
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
        const JetToken& last = m_tokens.back();
        return last.kind == JetTokenKind::Identifier || (last.kind == JetTokenKind::Symbol && last.text == ")");
    }

    bool afterDot() const {
        return !m_tokens.empty() && m_tokens.back().kind == JetTokenKind::Symbol && m_tokens.back().text == ".";
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
                m_tokens.push_back({JetTokenKind::Keyword, upper(word), start});
                return end;
            }
        }
        m_tokens.push_back({JetTokenKind::Identifier, std::string(word), start});
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
        m_tokens.push_back({JetTokenKind::Number, std::string(m_sql.substr(start, end - start)), start});
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
        m_tokens.push_back({JetTokenKind::Text, std::string(m_sql.substr(start, i + 1 - start)), start});
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
        m_tokens.push_back({JetTokenKind::Text, std::move(literal), start});
        return i + 1;
    }

    std::size_t readBracketed(std::size_t start) {
        const std::size_t close = m_sql.find(']', start + 1);
        if (close == std::string_view::npos) fail(start, "unterminated bracketed name");
        if (close == start + 1) fail(start, "empty bracketed name");
        m_tokens.push_back({JetTokenKind::Identifier, std::string(m_sql.substr(start + 1, close - start - 1)), start});
        return close + 1;
    }

    std::size_t readSymbol(std::size_t start) {
        const char c = m_sql[start];
        const char next = start + 1 < m_sql.size() ? m_sql[start + 1] : '\0';
        if (c == '<' && (next == '>' || next == '=')) {
            m_tokens.push_back({JetTokenKind::Symbol, std::string{c, next}, start});
            return start + 2;
        }
        if (c == '>' && next == '=') {
            m_tokens.push_back({JetTokenKind::Symbol, ">=", start});
            return start + 2;
        }
        if (std::strchr("(),.*+-/=<>&", c) != nullptr) {
            m_tokens.push_back({JetTokenKind::Symbol, std::string(1, c), start});
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

    std::string_view m_sql;
    std::vector<JetToken> m_tokens;
};

// Groups the tokens from `position` up to the ")" that closes `open` (the end of the query for none).
class Grouper {
public:
    Grouper(std::string_view sql, const std::vector<JetToken>& tokens) : m_sql(sql), m_tokens(tokens) {}

    std::vector<JetNode> parseSequence(std::size_t& position, const JetToken* open, int depth = 0) {
        // Translation recurses once per level; a bound keeps hostile text from exhausting the stack.
        constexpr int kMaxDepth = 200;
        if (depth > kMaxDepth) fail(open->offset, "parentheses nested too deeply");
        std::vector<JetNode> nodes;
        while (position < m_tokens.size()) {
            const JetToken& token = m_tokens[position++];
            if (isSymbol(token, ")")) {
                if (open == nullptr) fail(token.offset, "unbalanced )");
                return nodes;
            }
            JetNode node{token, {}, false};
            if (isSymbol(token, "(")) {
                node.group = true;
                node.children = parseSequence(position, &token, depth + 1);
            }
            nodes.push_back(std::move(node));
        }
        if (open != nullptr) fail(open->offset, "unbalanced (");
        return nodes;
    }

private:
    [[noreturn]] void fail(std::size_t offset, std::string_view problem) const {
        failTranslation(m_sql, offset, problem);
    }

    std::string_view m_sql;
    const std::vector<JetToken>& m_tokens;
};

}  // namespace

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

std::vector<JetToken> tokenizeJetSql(std::string_view sql) { return Lexer(sql).run(); }

std::vector<JetNode> groupJetTokens(std::string_view sql, const std::vector<JetToken>& tokens) {
    std::size_t position = 0;
    return Grouper(sql, tokens).parseSequence(position, nullptr);
}

void failTranslation(std::string_view sql, std::size_t offset, std::string_view problem) {
    std::string description = "cannot translate query: ";
    description += problem;
    if (offset >= sql.size()) {
        description += " at the end of the query";
    } else {
        std::size_t end = std::min(sql.size(), offset + 20);
        // Never cut a UTF-8 sequence in two.
        while (end < sql.size() && (static_cast<unsigned char>(sql[end]) & 0xC0) == 0x80) --end;
        description += " near \"";
        description += sql.substr(offset, end - offset);
        description += '"';
    }
    throw RuntimeError(RuntimeError::DatabaseError, description);
}
