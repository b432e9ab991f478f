#include "source/SortElision.h"

#include <glib.h>

#include <algorithm>
#include <span>

namespace {

// Tells whether every row of a query has the same sort key; see sortWithOneKey.
class SortElision {
public:
    SortElision(const NameResolver& resolve, const TableLookup& tables) : m_resolve(resolve), m_tables(tables) {}

    std::size_t run(const std::vector<JetNode>& nodes) const;

private:
    // A table as the query names it: its stored name and the name its columns are qualified with.
    struct Range {
        std::string table;
        std::string name;
        const TableColumns* columns;
        bool pinned = false;
    };

    // The tokens of a sequence with its groups opened: a group's "(" token, its contents, then nullptr.
    static void flatten(std::span<const JetNode> nodes, std::vector<const JetToken*>& out) {
        for (const JetNode& node : nodes) {
            out.push_back(&node.token);
            if (!node.group) continue;
            flatten(node.children, out);
            out.push_back(nullptr);
        }
    }

    static bool isKeyword(const JetToken* token, std::string_view word) {
        return token && token->kind == JetTokenKind::Keyword && token->text == word;
    }

    std::string stored(std::string_view written) const {
        std::optional<std::string> canonical = m_resolve ? m_resolve(written) : std::nullopt;
        return canonical ? std::move(*canonical) : std::string(written);
    }

    // The tables of a FROM clause made of tables and inner joins; false for anything else.
    bool readRanges(const std::vector<const JetToken*>& from, std::vector<Range>& ranges) const {
        bool expectTable = true;
        for (std::size_t i = 0; i < from.size(); ++i) {
            const JetToken* token = from[i];
            if (!token) {
                expectTable = false;
            } else if (isSymbol(*token, "(")) {
                // a nested join keeps waiting for its first table
            } else if (isKeyword(token, "JOIN") || isSymbol(*token, ",")) {
                expectTable = true;
            } else if (isKeyword(token, "LEFT") || isKeyword(token, "RIGHT") || isKeyword(token, "OUTER")) {
                return false;
            } else if (expectTable) {
                if (token->kind != JetTokenKind::Identifier) return false;
                Range range{stored(token->text), stored(token->text), nullptr};
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
                ranges.push_back(std::move(range));
                expectTable = false;
            }
        }
        return !ranges.empty();
    }

    static bool sameName(std::string_view a, std::string_view b) {
        return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
    }

    // The table a column reference reads (`table.column` or a column only one of the tables has) and the
    // column's stored name; null when that cannot be told.
    Range* rangeOf(const JetToken* qualifier, const JetToken& column, std::vector<Range>& ranges,
                   std::string& name) const {
        name = stored(column.text);
        Range* found = nullptr;
        for (Range& range : ranges) {
            if (qualifier && !sameName(range.name, qualifier->text) && !sameName(range.name, stored(qualifier->text)))
                continue;
            const std::vector<std::string>& columns = range.columns->columns;
            if (std::find(columns.begin(), columns.end(), name) == columns.end()) continue;
            if (found) return nullptr;
            found = &range;
        }
        return found;
    }

    // Marks the tables that a conjunction of the WHERE clause pins to one row.
    void pin(std::span<const JetNode> where, std::vector<Range>& ranges) const {
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
                pin(term[0]->children, ranges);
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
                Range* range = rangeOf(qualified ? &column[0]->token : nullptr, name, ranges, columnName);
                if (!range) continue;
                const auto& unique = range->columns->uniqueColumns;
                if (std::find(unique.begin(), unique.end(), columnName) != unique.end()) range->pinned = true;
            }
        }
    }

    const NameResolver& m_resolve;
    const TableLookup& m_tables;
};

// Where the ORDER BY clause starts when its terms read only tables pinned to one row; 0 otherwise.
std::size_t SortElision::run(const std::vector<JetNode>& nodes) const {
    if (!m_tables) return 0;
    std::size_t from = 0, where = 0, order = 0;
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        const JetToken& token = nodes[i].token;
        if (token.kind != JetTokenKind::Keyword) continue;
        if (token.text == "DISTINCT" || token.text == "GROUP" || token.text == "HAVING" || token.text == "SELECT")
            return 0;
        if (token.text == "FROM" && !from)
            from = i;
        else if (token.text == "WHERE" && !where)
            where = i;
        else if (token.text == "ORDER" && i + 1 < nodes.size() && nodes[i + 1].token.text == "BY")
            order = i;
    }
    if (!from || !where || !order || !(from < where && where < order)) return 0;
    std::vector<const JetToken*> all;
    flatten(nodes, all);
    for (std::size_t i = 1; i < all.size(); ++i)
        if (isKeyword(all[i], "SELECT")) return 0;  // a subquery

    std::vector<const JetToken*> fromTokens;
    flatten(std::span(nodes).subspan(from + 1, where - from - 1), fromTokens);
    std::vector<Range> ranges;
    if (!readRanges(fromTokens, ranges)) return 0;
    pin(std::span(nodes).subspan(where + 1, order - where - 1), ranges);

    // A name the select list gives a column stands for that column in ORDER BY, whatever the tables hold.
    std::vector<const JetToken*> selectList;
    flatten(std::span(nodes).subspan(1, from - 1), selectList);
    std::vector<std::string> aliases;
    for (std::size_t i = 0; i + 1 < selectList.size(); ++i)
        if (isKeyword(selectList[i], "AS") && selectList[i + 1]) aliases.emplace_back(selectList[i + 1]->text);

    std::vector<const JetToken*> terms;
    flatten(std::span(nodes).subspan(order + 2), terms);
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
        const Range* range =
            rangeOf(qualified ? token : nullptr, qualified ? *terms[i + 2] : *token, ranges, columnName);
        if (!range || !range->pinned) return 0;
        anyColumn = true;
        if (qualified) i += 2;
    }
    return anyColumn ? order : 0;
}

}  // namespace

std::size_t sortWithOneKey(const std::vector<JetNode>& nodes, const NameResolver& resolve, const TableLookup& tables) {
    return SortElision(resolve, tables).run(nodes);
}
