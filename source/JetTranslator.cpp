#include "source/JetTranslator.h"

#include "source/QueryRanges.h"
#include "source/SortElision.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

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

// Keywords that end an operand of a comparison on either side: the comparison is then a term of its own.
bool endsTerm(const JetToken& token) {
    if (token.kind != JetTokenKind::Keyword) return false;
    for (const char* word : {"WHERE", "AND", "OR", "NOT", "ON", "HAVING", "GROUP", "ORDER"})
        if (token.text == word) return true;
    return false;
}

bool isConstant(const JetToken& token) {
    return token.kind == JetTokenKind::Number || token.kind == JetTokenKind::Text;
}

class Translator {
public:
    // With `ranges` (the statement's tables) and `chains`, an `&` chain of columns of one table that is compared
    // with a constant, or named by AS in the select list, is read from the hidden column of the table that computes
    // it: the same text, written once per row, and a comparison the table can use to leave rows out.
    Translator(const JetLexed& lexed, const NameResolver& resolve, bool parameters, QueryRanges* ranges,
               const ChainLookup& chains)
        : m_lexed(lexed), m_resolve(resolve), m_parameters(parameters), m_ranges(ranges), m_chains(chains) {}

    SqliteTranslation run(const std::vector<JetNode>& nodes) {
        m_translation.sql = emitSequence(nodes, false, true);
        return std::move(m_translation);
    }

private:
    enum class Role { Operand, Concat, Arithmetic, Other };

    // One step of a sequence as the `&` rule sees it: a primary (name, literal, call, group) or a single token.
    struct Item {
        std::string sql;
        Role role;
        std::size_t offset;
        const JetToken* token = nullptr;  // a single token's
        // A column reference: the column's name and its qualifier (null for none).
        const JetToken* column = nullptr;
        const JetToken* qualifier = nullptr;
        std::size_t parametersBefore = 0;  // the parameters written before the item
    };

    // Where a chain stands: compared with a constant, or an item of the statement's select list named by AS.
    enum class ChainUse { None, Compared, Named };

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

    // Whether the group at `i` of `nodes` is compared with a constant as a term of its own (`(...) = 5`), or is
    // the whole of a group that is (`compared`).
    static bool groupCompared(const std::vector<JetNode>& nodes, std::size_t i, bool compared) {
        if (compared && nodes.size() == 1) return true;
        const auto plain = [&](std::size_t k) { return !nodes[k].group; };
        const auto boundary = [&](std::size_t k) { return plain(k) && endsTerm(nodes[k].token); };
        const bool after = (i == 0 || boundary(i - 1)) && i + 2 < nodes.size() && plain(i + 1) &&
                           isSymbol(nodes[i + 1].token, "=") && plain(i + 2) && isConstant(nodes[i + 2].token) &&
                           (i + 3 == nodes.size() || boundary(i + 3));
        const bool before = i >= 2 && plain(i - 1) && isSymbol(nodes[i - 1].token, "=") && plain(i - 2) &&
                            isConstant(nodes[i - 2].token) && (i == 2 || boundary(i - 3)) &&
                            (i + 1 == nodes.size() || boundary(i + 1));
        return after || before;
    }

    std::vector<Item> items(const std::vector<JetNode>& nodes, bool compared) {
        std::vector<Item> result;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const JetNode& node = nodes[i];
            const JetToken& token = node.token;
            const bool callFollows = i + 1 < nodes.size() && nodes[i + 1].group;
            const std::size_t parametersBefore = m_translation.parameters.size();
            if (node.group) {
                const bool inner = m_ranges && groupCompared(nodes, i, compared);
                result.push_back({"(" + emitSequence(node.children, inner) + ")", Role::Operand, token.offset});
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
                    Item item{{}, Role::Operand, token.offset, &token, &token, nullptr};
                    while (i + 1 < nodes.size() && isSymbol(nodes[i + 1].token, ".")) {
                        const JetToken& dot = nodes[i + 1].token;
                        if (i + 2 >= nodes.size()) fail(dot.offset, "misplaced .");
                        const JetToken& part = nodes[i + 2].token;
                        if (part.kind == JetTokenKind::Identifier && !nodes[i + 2].group) {
                            sql += "." + name(part.text);
                            // Only `column` and `table.column` are column references of one table.
                            item.qualifier = item.qualifier ? nullptr : item.column;
                            item.column = item.qualifier ? &part : nullptr;
                        } else if (isSymbol(part, "*")) {
                            sql += ".*";
                            role = Role::Other;
                            item.column = nullptr;
                        } else {
                            fail(dot.offset, "misplaced .");
                        }
                        i += 2;
                    }
                    item.sql = std::move(sql);
                    item.role = role;
                    if (!item.column) item.qualifier = nullptr;
                    result.push_back(std::move(item));
                }
            } else if (token.kind == JetTokenKind::Keyword) {
                // Left( and Right( are Jet text functions; SQLite would read a join.
                if (callFollows && (token.text == "LEFT" || token.text == "RIGHT"))
                    fail(token.offset,
                         "unsupported function " + std::string(m_lexed.sql.substr(token.offset, token.text.size())));
                const Role role = token.text == "NULL" ? Role::Operand : Role::Other;
                result.push_back({std::string(token.text), role, token.offset, &token});
            } else if (token.kind == JetTokenKind::Number || token.kind == JetTokenKind::Text) {
                result.push_back({constant(token), Role::Operand, token.offset, &token});
            } else if (token.text == "&") {
                result.push_back({std::string(token.text), Role::Concat, token.offset, &token});
            } else if (token.text == "+" || token.text == "-" || token.text == "*" || token.text == "/") {
                result.push_back({std::string(token.text), Role::Arithmetic, token.offset, &token});
            } else if (token.text == ".") {
                fail(token.offset, "misplaced .");
            } else {
                result.push_back({std::string(token.text), Role::Other, token.offset, &token});
            }
            result.back().parametersBefore = parametersBefore;
        }
        return result;
    }

    // How the chain of items `first` to `last` (operands and `&`), used as `use` says, is read from the hidden
    // column of its table that computes it: the column qualified by the table's name in the query; or, for a table
    // inside a parenthesised join (SQLite reads one as a subquery, which hides the hidden columns of its tables)
    // that the WHERE clause pins to one row, a subquery reading that row once for the whole query. Nullopt unless
    // every operand is a column of the same table and the table computes the chain.
    std::optional<std::string> chainColumn(const std::vector<Item>& all, std::size_t first, std::size_t last,
                                           ChainUse use) {
        const QueryRange* range = nullptr;
        std::vector<std::string> columns;
        for (std::size_t k = first; k <= last; k += 2) {
            if (!all[k].column) return std::nullopt;
            std::string column;
            const QueryRange* of = m_ranges->rangeOf(all[k].qualifier, *all[k].column, column);
            if (!of || (range && of != range)) return std::nullopt;
            range = of;
            columns.push_back(std::move(column));
        }
        if (range->nested && !(use == ChainUse::Named && range->pinValue)) return std::nullopt;
        const std::optional<std::string> hidden = m_chains(range->table, columns);
        if (!hidden) return std::nullopt;
        if (!range->nested) return sqlQuoted(range->name, '"') + "." + sqlQuoted(*hidden, '"');
        // The subquery's parameter takes its place among those written before the chain.
        std::string value = constant(*range->pinValue);
        if (m_parameters) {
            auto& parameters = m_translation.parameters;
            const std::uint32_t pinned = parameters.back();
            parameters.pop_back();
            parameters.insert(parameters.begin() + std::ptrdiff_t(all[first].parametersBefore + m_hoisted), pinned);
            ++m_hoisted;
        }
        return "(SELECT " + sqlQuoted(*hidden, '"') + " FROM " + sqlQuoted(range->table, '"') + " WHERE " +
               sqlQuoted(range->pinColumn, '"') + " = " + value + ")";
    }

    // Whether the chain of items `first` to `last` may be read from a hidden column: it is the whole of a group
    // compared with a constant (`compared`), it is compared with a constant as a term of its own, or it is an item
    // of the statement's select list named by AS (`selectList`).
    static ChainUse chainUse(const std::vector<Item>& all, std::size_t first, std::size_t last, bool compared,
                             bool selectList) {
        const auto is = [&](std::size_t k, auto test) { return all[k].token && test(*all[k].token); };
        const auto boundary = [&](std::size_t k) { return is(k, endsTerm); };
        const auto equals = [&](std::size_t k) { return is(k, [](const JetToken& t) { return isSymbol(t, "="); }); };
        const bool whole = first == 0 && last + 1 == all.size();
        const bool after = (first == 0 || boundary(first - 1)) && last + 2 < all.size() && equals(last + 1) &&
                           is(last + 2, isConstant) && (last + 3 == all.size() || boundary(last + 3));
        const bool before = first >= 2 && equals(first - 1) && is(first - 2, isConstant) &&
                            (first == 2 || boundary(first - 3)) && (last + 1 == all.size() || boundary(last + 1));
        const bool named =
            selectList && first > 0 &&
            is(first - 1,
               [](const JetToken& t) { return t.text == "SELECT" || t.text == "DISTINCT" || t.text == ","; }) &&
            last + 2 < all.size() && is(last + 1, [](const JetToken& t) { return t.text == "AS"; });
        if ((compared && whole) || after || before) return ChainUse::Compared;
        return named ? ChainUse::Named : ChainUse::None;
    }

    // Jet's & binds more loosely than + - * / but more tightly than comparisons, And, Or and Not. A chain whose
    // operands are primaries and whose neighbours are not arithmetic reads the same however it is grouped, so it
    // can become one jet_cat call; anything else would need Jet's precedence rebuilt and is refused.
    std::string emitSequence(const std::vector<JetNode>& nodes, bool compared = false, bool statement = false) {
        const std::vector<Item> all = items(nodes, compared);
        // The top level's select list: from its SELECT to its FROM.
        bool selectList = false;
        std::string sql;
        const auto append = [&sql](const std::string& piece) {
            if (!sql.empty() && piece != ",") sql += ' ';
            sql += piece;
        };
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (statement && all[i].token && all[i].token->kind == JetTokenKind::Keyword) {
                if (all[i].token->text == "SELECT") selectList = true;
                if (all[i].token->text == "FROM") selectList = false;
            }
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
            std::optional<std::string> hidden;
            if (m_ranges)
                if (const ChainUse use = chainUse(all, i, last, compared, selectList); use != ChainUse::None)
                    hidden = chainColumn(all, i, last, use);
            append(hidden ? *hidden : chain + ")");
            i = last;
        }
        return sql;
    }

    const JetLexed& m_lexed;
    const NameResolver& m_resolve;
    const bool m_parameters;
    QueryRanges* m_ranges;
    const ChainLookup& m_chains;
    std::size_t m_hoisted = 0;  // parameters of subqueries put among those written before them
    SqliteTranslation m_translation;
};

// The tables of a FROM clause that joins them all by INNER JOIN ... ON, grouped by parentheses or not, each as its
// nodes (its name, then its alias if any), and the conditions of its ON clauses, in the order written. False for
// any other clause.
bool innerJoinParts(std::span<const JetNode> nodes, std::vector<std::span<const JetNode>>& tables,
                    std::vector<std::span<const JetNode>>& conditions) {
    const auto keyword = [&](std::size_t k, std::string_view word) {
        return k < nodes.size() && !nodes[k].group && isKeyword(&nodes[k].token, word);
    };
    const auto identifier = [&](std::size_t k) {
        return k < nodes.size() && !nodes[k].group && nodes[k].token.kind == JetTokenKind::Identifier;
    };
    std::size_t i = 0;
    const auto table = [&]() {
        if (i < nodes.size() && nodes[i].group) return innerJoinParts(nodes[i++].children, tables, conditions);
        if (!identifier(i)) return false;
        const std::size_t first = i++;
        if (keyword(i, "AS") && identifier(i + 1))
            i += 2;
        else if (identifier(i))
            ++i;
        tables.push_back(nodes.subspan(first, i - first));
        return true;
    };
    if (!table()) return false;
    while (i < nodes.size()) {
        if (!keyword(i, "INNER") || !keyword(i + 1, "JOIN")) return false;
        i += 2;
        if (!table() || !keyword(i, "ON")) return false;
        const std::size_t first = ++i;
        for (; i < nodes.size() && !keyword(i, "INNER"); ++i)
            for (const std::string_view join : {"JOIN", "LEFT", "RIGHT", "FULL", "OUTER", "CROSS", "NATURAL"})
                if (keyword(i, join)) return false;  // a join of another kind after this one
        if (i == first) return false;
        conditions.push_back(nodes.subspan(first, i - first));
    }
    return true;
}

// The statement `nodes` with the FROM clause between `from` (its keyword) and `end` written as one list of inner
// joins, every ON condition in parentheses on the last: the same rows, and SQLite then reads no parenthesised join
// as a subquery, which would hide the hidden columns of its tables. False, `nodes` unchanged, when the clause is
// not made of inner joins only.
bool unnestJoins(std::vector<JetNode>& nodes, std::size_t from, std::size_t end) {
    std::vector<std::span<const JetNode>> tables, conditions;
    if (!innerJoinParts(std::span(nodes).subspan(from + 1, end - from - 1), tables, conditions)) return false;
    const auto word = [](std::string_view text, std::size_t offset) {
        return JetNode{{JetTokenKind::Keyword, JetToken::kNoConstant, text, offset}, {}, false};
    };
    std::vector<JetNode> flat(nodes.begin(), nodes.begin() + std::ptrdiff_t(from) + 1);
    for (std::size_t t = 0; t < tables.size(); ++t) {
        if (t > 0) {
            flat.push_back(word("INNER", tables[t].front().token.offset));
            flat.push_back(word("JOIN", tables[t].front().token.offset));
        }
        flat.insert(flat.end(), tables[t].begin(), tables[t].end());
    }
    for (std::size_t c = 0; c < conditions.size(); ++c) {
        const std::size_t offset = conditions[c].front().token.offset;
        flat.push_back(word(c == 0 ? "ON" : "AND", offset));
        flat.push_back({{JetTokenKind::Symbol, JetToken::kNoConstant, "(", offset},
                        std::vector<JetNode>(conditions[c].begin(), conditions[c].end()),
                        true});
    }
    flat.insert(flat.end(), nodes.begin() + std::ptrdiff_t(end), nodes.end());
    nodes = std::move(flat);
    return true;
}

}  // namespace

SqliteTranslation translateJet(const JetLexed& lexed, const NameResolver& resolve, const TableLookup& tables,
                               bool parameters, const ChainLookup& chains) {
    std::vector<JetNode> nodes = groupJetTokens(lexed);
    if (const std::size_t order = sortWithOneKey(nodes, resolve, tables); order != 0) nodes.resize(order);
    // Chains are read from hidden columns only where every table the statement reads is known: one statement,
    // tables and inner joins.
    QueryRanges ranges(resolve, tables);
    bool known = false;
    if (chains) {
        const StatementClauses clauses = StatementClauses::of(nodes);
        const std::size_t end = clauses.where    ? clauses.where
                                : clauses.group  ? clauses.group
                                : clauses.having ? clauses.having
                                : clauses.order  ? clauses.order
                                                 : nodes.size();
        if (!clauses.subquery && clauses.from && clauses.from < end) {
            std::vector<const JetToken*> from;
            QueryRanges::flatten(std::span(nodes).subspan(clauses.from + 1, end - clauses.from - 1), from);
            known = ranges.read(from);
            if (known && clauses.where) {
                const std::size_t whereEnd = clauses.group    ? clauses.group
                                             : clauses.having ? clauses.having
                                             : clauses.order  ? clauses.order
                                                              : nodes.size();
                if (clauses.where < whereEnd)
                    ranges.pin(std::span(nodes).subspan(clauses.where + 1, whereEnd - clauses.where - 1));
            }
            // A chain of a table inside a parenthesised join that the WHERE clause pins to one row would be read by
            // a subquery of its own, the row searched again on every run: the joins are written as one list, and
            // the chain is read from the row the join reads.
            std::vector<QueryRange>& read = ranges.ranges();
            const bool pinnedInside =
                std::any_of(read.begin(), read.end(), [](const QueryRange& r) { return r.nested && r.pinValue; });
            if (known && pinnedInside && unnestJoins(nodes, clauses.from, end))
                for (QueryRange& range : read) {
                    range.nested = false;
                    range.pinValue = nullptr;  // it pointed into the nodes replaced
                }
        }
    }
    return Translator(lexed, resolve, parameters, known ? &ranges : nullptr, chains).run(nodes);
}
