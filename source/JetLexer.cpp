#include "source/JetLexer.h"

#include "runtime/RuntimeError.h"

#include <glib.h>

#include <algorithm>
#include <array>

namespace {

enum class WordKind : unsigned char { Keyword, UnsupportedOperator, UnsupportedKeyword };

// What a word says of where ORDER BY and GROUP BY list column positions: ORDER or GROUP comes before the BY that
// starts a list; HAVING, LIMIT, WHERE, FROM and UNION end one.
enum class WordRole : unsigned char { None, By, OrderOrGroup, EndsList };

struct Word {
    std::string_view text;  // upper case
    WordKind kind;
    WordRole role = WordRole::None;
};

// Keywords mean the same in both dialects and are written in upper case. The unsupported words SQLite would read
// differently or not at all; Like is among them because its wildcards (* ? #) and its case rules are not SQLite's.
// By length, so that a word is compared with the few of its own length.
constexpr auto K = WordKind::Keyword;
constexpr auto O = WordKind::UnsupportedOperator;
constexpr auto U = WordKind::UnsupportedKeyword;
constexpr std::array kWords{Word{"BY", K, WordRole::By},
                            Word{"ON", K},
                            Word{"OR", K},
                            Word{"AS", K},
                            Word{"IS", K},
                            Word{"IN", K},
                            Word{"ALL", K},
                            Word{"AND", K},
                            Word{"NOT", K},
                            Word{"ASC", K},
                            Word{"MOD", O},
                            Word{"XOR", O},
                            Word{"EQV", O},
                            Word{"IMP", O},
                            Word{"TOP", U},
                            Word{"FROM", K, WordRole::EndsList},
                            Word{"LEFT", K},
                            Word{"JOIN", K},
                            Word{"DESC", K},
                            Word{"NULL", K},
                            Word{"LIKE", O},
                            Word{"TRUE", U},
                            Word{"INTO", U},
                            Word{"WITH", U},
                            Word{"INNER", K},
                            Word{"RIGHT", K},
                            Word{"OUTER", K},
                            Word{"WHERE", K, WordRole::EndsList},
                            Word{"GROUP", K, WordRole::OrderOrGroup},
                            Word{"ORDER", K, WordRole::OrderOrGroup},
                            Word{"ALIKE", O},
                            Word{"FALSE", U},
                            Word{"UNION", U, WordRole::EndsList},
                            Word{"PIVOT", U},
                            Word{"SELECT", K},
                            Word{"HAVING", K, WordRole::EndsList},
                            Word{"EXISTS", K},
                            Word{"BETWEEN", K},
                            Word{"PERCENT", U},
                            Word{"DISTINCT", K},
                            Word{"TRANSFORM", U},
                            Word{"PARAMETERS", U},
                            Word{"DISTINCTROW", U}};
static_assert(std::is_sorted(kWords.begin(), kWords.end(),
                             [](const Word& a, const Word& b) { return a.text.size() < b.text.size(); }));
constexpr std::size_t kLongestWord = 11;

// Where the words of each length start in kWords.
constexpr std::array<std::size_t, kLongestWord + 2> kWordsByLength = [] {
    std::array<std::size_t, kLongestWord + 2> starts{};
    for (std::size_t length = 0, i = 0; length < starts.size(); ++length) {
        while (i < kWords.size() && kWords[i].text.size() < length) ++i;
        starts[length] = i;
    }
    return starts;
}();

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// The keyword or unsupported word `word` is, ignoring case; null for any other word.
const Word* findWord(std::string_view word) {
    if (word.size() > kLongestWord) return nullptr;
    const char first = upper(word[0]);
    for (std::size_t i = kWordsByLength[word.size()]; i < kWordsByLength[word.size() + 1]; ++i)
        if (kWords[i].text[0] == first && sameWord(kWords[i].text, word)) return &kWords[i];
    return nullptr;
}

// The role of a name spelt like one of the words that have one (after a dot, BY is a name), or like LIMIT, which is
// no Jet keyword.
WordRole roleOfName(std::string_view name) {
    switch (name.size()) {
        case 2: return sameWord(name, "BY") ? WordRole::By : WordRole::None;
        case 4: return sameWord(name, "FROM") ? WordRole::EndsList : WordRole::None;
        case 5:
            switch (upper(name[0])) {
                case 'O': return sameWord(name, "ORDER") ? WordRole::OrderOrGroup : WordRole::None;
                case 'G': return sameWord(name, "GROUP") ? WordRole::OrderOrGroup : WordRole::None;
                case 'W': return sameWord(name, "WHERE") ? WordRole::EndsList : WordRole::None;
                case 'L': return sameWord(name, "LIMIT") ? WordRole::EndsList : WordRole::None;
                case 'U': return sameWord(name, "UNION") ? WordRole::EndsList : WordRole::None;
                default: return WordRole::None;
            }
        case 6: return sameWord(name, "HAVING") ? WordRole::EndsList : WordRole::None;
        default: return WordRole::None;
    }
}

// Classes of the bytes of query text. A byte of a UTF-8 sequence may belong to a name: GLib tells.
enum : unsigned char { kBlank = 1, kNameStart = 2, kNamePart = 4, kDigit = 8, kHigh = 16, kSymbol = 32 };
constexpr std::array<unsigned char, 256> kClasses = [] {
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        unsigned char& k = classes[std::size_t(c)];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') k |= kBlank;
        if (letter) k |= kNameStart | kNamePart;
        if (digit) k |= kDigit | kNamePart;
        if (c >= 0x80) k |= kHigh;
        // The terminating NUL of the symbols as the C library would find them: a NUL byte reads as a symbol too.
        if (c == 0 || std::string_view("(),.*+-/=<>&").find(char(c)) != std::string_view::npos) k |= kSymbol;
    }
    return classes;
}();

unsigned char classOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }
bool isBlank(char c) { return classOf(c) & kBlank; }
bool isDigit(char c) { return classOf(c) & kDigit; }

// Length in bytes of the non-ASCII name character at `at`, 0 when there is none. Jet names may hold any Unicode
// letter (Sid_Año is a plain identifier), and after the first character, digits.
std::size_t unicodeNameCharLength(std::string_view sql, std::size_t at, bool first) {
    const gchar* const p = sql.data() + at;
    const gunichar u = g_utf8_get_char_validated(p, static_cast<gssize>(sql.size() - at));
    if (u == static_cast<gunichar>(-1) || u == static_cast<gunichar>(-2)) return 0;
    if (!g_unichar_isalpha(u) && !g_unichar_ismark(u) && (first || !g_unichar_isdigit(u))) return 0;
    return static_cast<std::size_t>(g_utf8_next_char(p) - p);
}

// Length in bytes of the name character at `at`, 0 when there is none: a letter or "_", and after the first
// character, a digit.
std::size_t nameCharLength(std::string_view sql, std::size_t at, bool first) {
    const unsigned char k = classOf(sql[at]);
    if (k & (first ? kNameStart : kNamePart)) return 1;
    return (k & kHigh) ? unicodeNameCharLength(sql, at, first) : 0;
}

std::size_t nameEnd(std::string_view sql, std::size_t start) {
    std::size_t end = start;
    for (;;) {
        while (end < sql.size() && (classOf(sql[end]) & kNamePart)) ++end;
        if (end == sql.size() || !(classOf(sql[end]) & kHigh)) return end;
        const std::size_t length = unicodeNameCharLength(sql, end, false);
        if (length == 0) return end;
        end += length;
    }
}

// Where the number written from `start` ends; npos when a name character or a dot follows it, which would otherwise
// read as an alias or a qualifier (0x10, 1.2.3).
std::size_t numberEnd(std::string_view sql, std::size_t start) {
    std::size_t end = start;
    while (end < sql.size() && isDigit(sql[end])) ++end;
    if (end < sql.size() && sql[end] == '.') {
        ++end;
        while (end < sql.size() && isDigit(sql[end])) ++end;
    }
    if (end < sql.size() && (sql[end] == 'e' || sql[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < sql.size() && (sql[exponent] == '+' || sql[exponent] == '-')) ++exponent;
        if (exponent < sql.size() && isDigit(sql[exponent])) {
            end = exponent;
            while (end < sql.size() && isDigit(sql[end])) ++end;
        }
    }
    if (end < sql.size() && (nameCharLength(sql, end, false) > 0 || sql[end] == '.')) return std::string_view::npos;
    return end;
}

// Where the text constant quoted at `start` ends, its value (each doubled quote undone) in `value`; npos when its
// closing quote is missing.
std::size_t quotedEnd(std::string_view sql, std::size_t start, std::string& value) {
    const char quote = sql[start];
    std::size_t i = start + 1;
    for (;;) {
        const std::size_t close = sql.find(quote, i);
        if (close == std::string_view::npos) return close;
        value.append(sql.substr(i, close - i));
        i = close + 1;
        if (i == sql.size() || sql[i] != quote) return i;
        value += quote;
        ++i;
    }
}

// Reads the Jet text into tokens, refusing what the translator cannot give the same meaning in SQLite, and takes
// its constants out.
class Lexer {
public:
    explicit Lexer(std::string_view sql) : m_sql(sql) {
        m_lexed.sql = sql;
        m_lexed.tokens.reserve(sql.size() / 4 + 8);
        m_lexed.key.reserve(sql.size());
    }

    JetLexed run() {
        requireSelect();
        tokenize();
        m_lexed.key.append(m_sql.substr(m_keyCopied));
        return std::move(m_lexed);
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
        if (!sameWord(m_sql.substr(i, end - i), "SELECT")) fail(i, "only SELECT statements can be run");
    }

    void tokenize() {
        std::size_t i = 0;
        while (i < m_sql.size()) {
            const char c = m_sql[i];
            const unsigned char k = classOf(c);
            if (k & kBlank) {
                ++i;
            } else if (c == ';') {
                std::size_t rest = i + 1;
                while (rest < m_sql.size() && isBlank(m_sql[rest])) ++rest;
                if (rest < m_sql.size()) fail(rest, "only one statement can be run");
                return;
            } else if ((k & kNameStart) || ((k & kHigh) && unicodeNameCharLength(m_sql, i, true) > 0)) {
                i = readWord(i);
            } else if ((k & kDigit) || (c == '.' && i + 1 < m_sql.size() && isDigit(m_sql[i + 1]) && !afterName())) {
                i = readNumber(i);
            } else if (c == '\'' || c == '"') {
                i = readQuoted(i);
            } else if (c == '[') {
                i = readBracketed(i);
            } else {
                i = readSymbol(i);
            }
        }
    }

    bool afterName() const {
        if (m_lexed.tokens.empty()) return false;
        const JetToken& last = m_lexed.tokens.back();
        return last.kind == JetTokenKind::Identifier || (last.kind == JetTokenKind::Symbol && last.text == ")");
    }

    bool afterDot() const { return !m_lexed.tokens.empty() && isSymbol(m_lexed.tokens.back(), "."); }

    void add(JetTokenKind kind, std::string_view text, std::size_t offset) {
        m_lexed.tokens.push_back({kind, JetToken::kNoConstant, text, offset});
    }

    // The token just read is the constant `value`, written from `start` to `end`: it is written in the key as
    // `neutral`.
    void takeConstant(bool text, std::string value, std::size_t start, std::size_t end, std::string_view neutral) {
        m_lexed.tokens.back().constant = static_cast<std::uint32_t>(m_lexed.constants.size());
        m_lexed.constants.push_back({text, std::move(value)});
        m_lexed.key.append(m_sql.substr(m_keyCopied, start - m_keyCopied));
        m_lexed.key.append(neutral);
        m_keyCopied = end;
    }

    // A keyword, or a name not in brackets. Words tell where ORDER BY and GROUP BY list column positions.
    void addWord(JetTokenKind kind, std::string_view text, std::size_t offset, WordRole role) {
        add(kind, text, offset);
        const bool by = role == WordRole::By && m_previousRole == WordRole::OrderOrGroup;
        if (by)
            m_inPositionList = true;
        else if (role == WordRole::EndsList)
            m_inPositionList = false;
        m_termStart = by;
        m_previousRole = role;
    }

    std::size_t readWord(std::size_t start) {
        const std::size_t end = nameEnd(m_sql, start);
        const std::string_view text = m_sql.substr(start, end - start);
        // After a dot every word is a column name, even one spelt like a keyword.
        if (!afterDot()) {
            if (const Word* known = findWord(text)) {
                if (known->kind == WordKind::UnsupportedOperator)
                    fail(start, "unsupported operator " + std::string(text));
                if (known->kind == WordKind::UnsupportedKeyword)
                    fail(start, "unsupported keyword " + std::string(text));
                addWord(JetTokenKind::Keyword, known->text, start, known->role);
                return end;
            }
        }
        addWord(JetTokenKind::Identifier, text, start, roleOfName(text));
        return end;
    }

    std::size_t readNumber(std::size_t start) {
        const std::size_t end = numberEnd(m_sql, start);
        if (end == std::string_view::npos) fail(start, "malformed number");
        const std::string_view text = m_sql.substr(start, end - start);
        add(JetTokenKind::Number, text, start);
        // A number that starts a term of ORDER BY or GROUP BY is a column position: it stays in the text.
        if (!m_termStart) takeConstant(false, std::string(text), start, end, "0");
        m_termStart = false;
        return end;
    }

    // 'text' and "text" are text constants, their quote doubled inside them.
    std::size_t readQuoted(std::size_t start) {
        std::string value;
        const std::size_t i = quotedEnd(m_sql, start, value);
        if (i == std::string_view::npos) fail(start, "unterminated text constant");
        add(JetTokenKind::Text, m_sql.substr(start, i - start), start);
        takeConstant(true, std::move(value), start, i, "''");
        m_termStart = false;
        return i;
    }

    // A name in brackets is not a word: it says nothing of where column positions are.
    std::size_t readBracketed(std::size_t start) {
        const std::size_t close = m_sql.find(']', start + 1);
        if (close == std::string_view::npos) fail(start, "unterminated bracketed name");
        if (close == start + 1) fail(start, "empty bracketed name");
        add(JetTokenKind::Identifier, m_sql.substr(start + 1, close - start - 1), start);
        m_termStart = false;
        return close + 1;
    }

    std::size_t readSymbol(std::size_t start) {
        const char c = m_sql[start];
        const char next = start + 1 < m_sql.size() ? m_sql[start + 1] : '\0';
        if ((c == '<' && (next == '>' || next == '=')) || (c == '>' && next == '=')) {
            add(JetTokenKind::Symbol, m_sql.substr(start, 2), start);
            m_termStart = false;
            return start + 2;
        }
        if (classOf(c) & kSymbol) {
            add(JetTokenKind::Symbol, m_sql.substr(start, 1), start);
            // A comma of a list of column positions starts a term.
            m_termStart = c == ',' && m_inPositionList;
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
    JetLexed m_lexed;
    std::size_t m_keyCopied = 0;  // how much of the text the key holds
    // Where ORDER BY and GROUP BY list column positions: after their BY, and after each comma of the list.
    WordRole m_previousRole = WordRole::None;
    bool m_inPositionList = false;
    bool m_termStart = false;
};

// Groups the tokens from `position` up to the ")" that closes `open` (the end of the query for none).
class Grouper {
public:
    explicit Grouper(const JetLexed& lexed) : m_lexed(lexed) {}

    std::vector<JetNode> parseSequence(std::size_t& position, const JetToken* open, int depth = 0) {
        // Translation recurses once per level; a bound keeps hostile text from exhausting the stack.
        constexpr int kMaxDepth = 200;
        if (depth > kMaxDepth) failTranslation(m_lexed.sql, open->offset, "parentheses nested too deeply");
        std::vector<JetNode> nodes;
        while (position < m_lexed.tokens.size()) {
            const JetToken& token = m_lexed.tokens[position++];
            if (isSymbol(token, ")")) {
                if (open == nullptr) failTranslation(m_lexed.sql, token.offset, "unbalanced )");
                return nodes;
            }
            JetNode node{token, {}, false};
            if (isSymbol(token, "(")) {
                node.group = true;
                node.children = parseSequence(position, &token, depth + 1);
            }
            nodes.push_back(std::move(node));
        }
        if (open != nullptr) failTranslation(m_lexed.sql, open->offset, "unbalanced (");
        return nodes;
    }

private:
    const JetLexed& m_lexed;
};

}  // namespace

bool equalsAsciiNoCase(std::string_view a, std::string_view b) { return sameWord(a, b); }

JetLexed lexJetSql(std::string_view sql) { return Lexer(sql).run(); }

std::vector<JetNode> groupJetTokens(const JetLexed& lexed) {
    std::size_t position = 0;
    return Grouper(lexed).parseSequence(position, nullptr);
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

JetPattern patternOf(const JetLexed& lexed) {
    JetPattern pattern{std::string(lexed.sql), {}};
    for (const JetToken& token : lexed.tokens)
        if (token.constant != JetToken::kNoConstant) pattern.constants.push_back({token.offset, token.text.size()});
    return pattern;
}

// The text before, between and after the constants must be the pattern's, byte for byte. Each constant must be read
// where the pattern's was and end where the text after it starts: the lexer, which decides what a token is from what
// precedes it and from the token's own characters, then reads the same tokens with other constants.
bool matchJetPattern(const JetPattern& pattern, std::string_view sql, std::vector<JetConstant>& constants) {
    const std::string_view known = pattern.sql;
    constants.clear();
    std::size_t from = 0;  // in the pattern
    std::size_t at = 0;    // in `sql`
    for (const JetPattern::Constant& constant : pattern.constants) {
        const std::string_view piece = known.substr(from, constant.offset - from);
        if (sql.substr(at, piece.size()) != piece) return false;
        at += piece.size();
        if (at >= sql.size()) return false;
        const char first = known[constant.offset];
        std::size_t end;
        if (first == '\'' || first == '"') {
            if (sql[at] != first) return false;
            std::string value;
            end = quotedEnd(sql, at, value);
            if (end == std::string_view::npos) return false;
            constants.push_back({true, std::move(value)});
        } else {
            // A number starts with a digit, or with a dot and a digit where no name or ")" precedes it.
            if (isDigit(first) ? !isDigit(sql[at]) : (sql[at] != '.' || at + 1 == sql.size() || !isDigit(sql[at + 1])))
                return false;
            end = numberEnd(sql, at);
            if (end == std::string_view::npos) return false;
            constants.push_back({false, std::string(sql.substr(at, end - at))});
        }
        at = end;
        from = constant.offset + constant.length;
    }
    return sql.substr(at) == known.substr(from);
}
