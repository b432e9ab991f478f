#include "source/SortElision.h"

#include "source/QueryRanges.h"

#include <algorithm>
#include <span>

std::size_t sortWithOneKey(const std::vector<JetNode>& nodes, const NameResolver& resolve, const TableLookup& tables) {
    if (!tables) return 0;
    const StatementClauses clauses = StatementClauses::of(nodes);
    if (clauses.distinct || clauses.group || clauses.having || clauses.subquery) return 0;
    const std::size_t from = clauses.from, where = clauses.where, order = clauses.order;
    if (!from || !where || !order || !(from < where && where < order)) return 0;

    std::vector<const JetToken*> fromTokens;
    QueryRanges::flatten(std::span(nodes).subspan(from + 1, where - from - 1), fromTokens);
    QueryRanges ranges(resolve, tables);
    if (!ranges.read(fromTokens)) return 0;
    ranges.pin(std::span(nodes).subspan(where + 1, order - where - 1));

    // A name the select list gives a column stands for that column in ORDER BY, whatever the tables hold.
    std::vector<const JetToken*> selectList;
    QueryRanges::flatten(std::span(nodes).subspan(1, from - 1), selectList);
    std::vector<std::string> aliases;
    for (std::size_t i = 0; i + 1 < selectList.size(); ++i)
        if (isKeyword(selectList[i], "AS") && selectList[i + 1]) aliases.emplace_back(selectList[i + 1]->text);

    std::vector<const JetToken*> terms;
    QueryRanges::flatten(std::span(nodes).subspan(order + 2), terms);
    bool anyColumn = false;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        const JetToken* token = terms[i];
        if (!token || token->kind == JetTokenKind::Text || token->kind == JetTokenKind::Keyword) continue;
        // A number is a column position; a call may be an aggregate.
        if (token->kind == JetTokenKind::Number) return 0;
        if (token->kind == JetTokenKind::Symbol) continue;
        const bool qualified = i + 2 < terms.size() && terms[i + 1] && isSymbol(*terms[i + 1], ".");
        if (i + 1 < terms.size() && terms[i + 1] && isSymbol(*terms[i + 1], "(")) return 0;
        if (qualified && !(terms[i + 2] && terms[i + 2]->kind == JetTokenKind::Identifier)) return 0;
        if (!qualified && std::any_of(aliases.begin(), aliases.end(),
                                      [&](const std::string& alias) { return sameName(alias, token->text); }))
            return 0;
        std::string columnName;
        const QueryRange* range =
            ranges.rangeOf(qualified ? token : nullptr, qualified ? *terms[i + 2] : *token, columnName);
        if (!range || !range->pinValue) return 0;
        anyColumn = true;
        if (qualified) i += 2;
    }
    return anyColumn ? order : 0;
}
