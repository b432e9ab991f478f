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
            QueryRange range{stored(token->text), stored(token->text), nullptr, depth > 0, {}, nullptr};
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

void QueryRanges::pin(std::span<const JetNode> where) {
    std::vector<std::vector<const JetNode*>> terms(1);
    for (const JetNode& node : where) {
        if (node.token.kind == JetTokenKind::Keyword && node.token.text == "OR") return;
        if (node.token.kind == JetTokenKind::Keyword && node.token.text == "AND")
            terms.emplace_back();
        else
            terms.back().push_back(&node);
    }
    for (const std::vector<const JetNode*>& term : terms) {
        if (term.size() == 1 && term[0]->group) {
            pin(term[0]->children);
            continue;
        }
        // column = number, number = column, the column qualified or not
        std::vector<const JetNode*> sides[2];
        int side = 0;
        for (const JetNode* node : term) {
            if (isSymbol(node->token, "=") && !node->group && side == 0)
                side = 1;
            else
                sides[side].push_back(node);
        }
        if (side != 1) continue;
        for (int s = 0; s < 2; ++s) {
            const auto& column = sides[s];
            const auto& number = sides[1 - s];
            if (number.size() != 1 || number[0]->group || number[0]->token.kind != JetTokenKind::Number) continue;
            const bool plain = column.size() == 1 && !column[0]->group;
            const bool qualified =
                column.size() == 3 && !column[0]->group && isSymbol(column[1]->token, ".") && !column[2]->group;
            if (!plain && !qualified) continue;
            const JetToken& name = (qualified ? column[2] : column[0])->token;
            if (name.kind != JetTokenKind::Identifier ||
                (qualified && column[0]->token.kind != JetTokenKind::Identifier))
                continue;
            std::string columnName;
            QueryRange* range = rangeOf(qualified ? &column[0]->token : nullptr, name, columnName);
            if (!range || range->pinValue) continue;
            const auto& unique = range->columns->uniqueColumns;
            if (std::find(unique.begin(), unique.end(), columnName) == unique.end()) continue;
            range->pinColumn = std::move(columnName);
            range->pinValue = &number[0]->token;
        }
    }
}
