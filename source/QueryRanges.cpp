#include "source/QueryRanges.h"

#include <glib.h>

#include <algorithm>

StatementClauses StatementClauses::of(const std::vector<JetNode>& nodes) {
    StatementClauses clauses;
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        const JetToken& token = nodes[i].token;
        if (token.kind != JetTokenKind::Keyword) continue;
        const bool by = i + 1 < nodes.size() && nodes[i + 1].token.text == "BY";
        if (token.text == "DISTINCT")
            clauses.distinct = true;
        else if (token.text == "SELECT")
            clauses.subquery = true;
        else if (token.text == "FROM" && !clauses.from)
            clauses.from = i;
        else if (token.text == "WHERE" && !clauses.where)
            clauses.where = i;
        else if (token.text == "GROUP" && !clauses.group)
            clauses.group = i;
        else if (token.text == "HAVING" && !clauses.having)
            clauses.having = i;
        else if (token.text == "ORDER" && by)
            clauses.order = i;
    }
    std::vector<const JetToken*> all;
    QueryRanges::flatten(nodes, all);
    for (std::size_t i = 1; i < all.size(); ++i)
        if (isKeyword(all[i], "SELECT")) clauses.subquery = true;
    return clauses;
}

void QueryRanges::flatten(std::span<const JetNode> nodes, std::vector<const JetToken*>& out) {
    for (const JetNode& node : nodes) {
        out.push_back(&node.token);
        if (!node.group) continue;
        flatten(node.children, out);
        out.push_back(nullptr);
    }
}

std::string QueryRanges::stored(std::string_view written) const {
    std::optional<std::string> canonical = m_resolve ? m_resolve(written) : std::nullopt;
    return canonical ? std::move(*canonical) : std::string(written);
}

bool QueryRanges::read(const std::vector<const JetToken*>& from) {
    if (!m_tables) return false;
    bool expectTable = true;
    int depth = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const JetToken* token = from[i];
        if (!token) {
            expectTable = false;
            --depth;
        } else if (isSymbol(*token, "(")) {
            // a nested join keeps waiting for its first table
            ++depth;
        } else if (isKeyword(token, "JOIN") || isSymbol(*token, ",")) {
            expectTable = true;
        } else if (isKeyword(token, "LEFT") || isKeyword(token, "RIGHT") || isKeyword(token, "OUTER")) {
            return false;
        } else if (expectTable) {
            if (token->kind != JetTokenKind::Identifier) return false;
            QueryRange range{stored(token->text), stored(token->text), nullptr, depth > 0};
            range.columns = m_tables(range.table);
            if (!range.columns) return false;
            if (i + 2 < from.size() && isKeyword(from[i + 1], "AS") && from[i + 2] &&
                from[i + 2]->kind == JetTokenKind::Identifier) {
                range.name = from[i + 2]->text;
                i += 2;
            } else if (i + 1 < from.size() && from[i + 1] && from[i + 1]->kind == JetTokenKind::Identifier) {
                range.name = from[i + 1]->text;
                i += 1;
            }
            m_ranges.push_back(std::move(range));
            expectTable = false;
        }
    }
    return !m_ranges.empty();
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

QueryRange* QueryRanges::rangeOf(const JetToken* qualifier, const JetToken& column, std::string& name) {
    name = stored(column.text);
    QueryRange* found = nullptr;
    for (QueryRange& range : m_ranges) {
        if (qualifier && !sameName(range.name, qualifier->text) && !sameName(range.name, stored(qualifier->text)))
            continue;
        const std::vector<std::string>& columns = range.columns->columns;
        if (std::find(columns.begin(), columns.end(), name) == columns.end()) continue;
        if (found) return nullptr;
        found = &range;
    }
    return found;
}
