#include "source/JetTranslator.h"

#include "source/SortElision.h"

#include <array>

namespace {

// Aggregates that mean the same in both dialects when given one argument (SQLite's two-argument Max and Min are
// scalar functions, which Jet does not have).
constexpr std::array kFunctions{"MAX", "MIN", "SUM", "AVG", "COUNT"};

template <typename List>
bool contains(const List& list, std::string_view word) {
    for (const char* entry : list)
        if (equalsAsciiNoCase(entry, word)) return true;
    return false;
}

class Translator {
public:
    Translator(const JetLexed& lexed, const NameResolver& resolve, bool parameters)
        : m_lexed(lexed), m_resolve(resolve), m_parameters(parameters) {}

    SqliteTranslation run(const std::vector<JetNode>& nodes) {
        m_translation.sql = emitSequence(nodes);
        return std::move(m_translation);
    }

private:
    enum class Role { Operand, Concat, Arithmetic, Other };

    // One step of a sequence as the `&` rule sees it: a primary (name, literal, call, group) or a single token.
    struct Item {
        std::string sql;
        Role role;
        std::size_t offset;
    };

    [[noreturn]] void fail(std::size_t offset, std::string_view problem) const {
        failTranslation(m_lexed.sql, offset, problem);
    }

    // A constant, written in or as a parameter; a column position as written. Items are made in the order they are
    // written, nested ones included, so the parameters are recorded in the order of their `?`.
    std::string constant(const JetToken& token) {
        if (token.constant == JetToken::kNoConstant) return std::string(token.text);
        if (m_parameters) {
            m_translation.parameters.push_back(token.constant);
            return "?";
        }
        const JetConstant& constant = m_lexed.constants[token.constant];
        return constant.text ? sqlQuoted(constant.value, '\'') : constant.value;
    }

    std::string name(std::string_view written) const {
        const std::optional<std::string> canonical = m_resolve ? m_resolve(written) : std::nullopt;
        return canonical ? sqlQuoted(*canonical, '"') : sqlQuoted(written, '"');
    }

    std::string call(const JetNode& function, const JetNode& arguments) {
        const JetToken& token = function.token;
        if (!contains(kFunctions, token.text)) fail(token.offset, "unsupported function " + std::string(token.text));
        std::size_t commas = 0;
        for (const JetNode& child : arguments.children)
            if (isSymbol(child.token, ",")) ++commas;
        if (arguments.children.empty() || commas > 0)
            fail(token.offset, std::string(token.text) + " takes exactly one argument");
        return std::string(token.text) + "(" + emitSequence(arguments.children) + ")";
    }

    std::vector<Item> items(const std::vector<JetNode>& nodes) {
        std::vector<Item> result;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const JetNode& node = nodes[i];
            const JetToken& token = node.token;
            const bool callFollows = i + 1 < nodes.size() && nodes[i + 1].group;
            if (node.group) {
                result.push_back({"(" + emitSequence(node.children) + ")", Role::Operand, token.offset});
            } else if (token.kind == JetTokenKind::Identifier) {
                const bool alias =
                    i > 0 && nodes[i - 1].token.kind == JetTokenKind::Keyword && nodes[i - 1].token.text == "AS";
                if (alias) {
                    result.push_back({sqlQuoted(token.text, '"'), Role::Other, token.offset});
                } else if (callFollows) {
                    result.push_back({call(node, nodes[i + 1]), Role::Operand, token.offset});
                    ++i;
                } else {
                    std::string sql = name(token.text);
                    Role role = Role::Operand;
                    while (i + 1 < nodes.size() && isSymbol(nodes[i + 1].token, ".")) {
                        const JetToken& dot = nodes[i + 1].token;
                        if (i + 2 >= nodes.size()) fail(dot.offset, "misplaced .");
                        const JetToken& part = nodes[i + 2].token;
                        if (part.kind == JetTokenKind::Identifier && !nodes[i + 2].group) {
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
            } else if (token.kind == JetTokenKind::Keyword) {
                // Left( and Right( are Jet text functions; SQLite would read a join.
                if (callFollows && (token.text == "LEFT" || token.text == "RIGHT"))
                    fail(token.offset,
                         "unsupported function " + std::string(m_lexed.sql.substr(token.offset, token.text.size())));
                const Role role = token.text == "NULL" ? Role::Operand : Role::Other;
                result.push_back({std::string(token.text), role, token.offset});
            } else if (token.kind == JetTokenKind::Number || token.kind == JetTokenKind::Text) {
                result.push_back({constant(token), Role::Operand, token.offset});
            } else if (token.text == "&") {
                result.push_back({std::string(token.text), Role::Concat, token.offset});
            } else if (token.text == "+" || token.text == "-" || token.text == "*" || token.text == "/") {
                result.push_back({std::string(token.text), Role::Arithmetic, token.offset});
            } else if (token.text == ".") {
                fail(token.offset, "misplaced .");
            } else {
                result.push_back({std::string(token.text), Role::Other, token.offset});
            }
        }
        return result;
    }

    // Jet's & binds more loosely than + - * / but more tightly than comparisons, And, Or and Not. A chain whose
    // operands are primaries and whose neighbours are not arithmetic reads the same however it is grouped, so it
    // can become one jet_cat call; anything else would need Jet's precedence rebuilt and is refused.
    std::string emitSequence(const std::vector<JetNode>& nodes) {
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

    const JetLexed& m_lexed;
    const NameResolver& m_resolve;
    const bool m_parameters;
    SqliteTranslation m_translation;
};

}  // namespace

SqliteTranslation translateJet(const JetLexed& lexed, const NameResolver& resolve, const TableLookup& tables,
                               bool parameters) {
    std::vector<JetNode> nodes = groupJetTokens(lexed);
    if (const std::size_t order = sortWithOneKey(nodes, resolve, tables); order != 0) nodes.resize(order);
    return Translator(lexed, resolve, parameters).run(nodes);
}
