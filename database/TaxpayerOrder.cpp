#include "database/TaxpayerOrder.h"

#include "database/JetSortKey.h"
#include "database/JetTextOrder.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace {

std::uint32_t placeKey(RowPointer place) { return place.page << 8 | place.row; }

// The rows with a name in the order of `nameIndex`; empty when it lists a row twice, a row the scan did not meet, or
// not every row with a name: an index that disagrees with the table is not followed.
std::vector<std::size_t> indexOrder(std::span<const TaxpayerRow> rows, std::span<const RowPointer> places,
                                    const std::vector<RowPointer>& nameIndex, std::size_t named) {
    std::unordered_map<std::uint32_t, std::size_t> atPlace;
    for (std::size_t i = 0; i < places.size(); ++i) atPlace.emplace(placeKey(places[i]), i);
    std::vector<bool> listed(rows.size());
    std::vector<std::size_t> order;
    order.reserve(named);
    for (const RowPointer place : nameIndex) {
        const auto found = atPlace.find(placeKey(place));
        if (found == atPlace.end() || listed[found->second]) return {};
        listed[found->second] = true;
        if (!rows[found->second].CMD_Contribuyente.isNull()) order.push_back(found->second);
    }
    if (order.size() != named) return {};
    return order;
}

// Sorts the rows `named` by their names' keys, made once per name; equal keys keep their order. A name that is not a
// text (a column of another type) sorts as the reads' other values do, a number before every text.
void sortByKeys(std::span<const TaxpayerRow> rows, std::vector<std::size_t>& named) {
    std::vector<std::string> keys(rows.size());
    for (const std::size_t i : named)
        if (rows[i].CMD_Contribuyente.kind() == Value::Kind::Text)
            keys[i] = jetGeneralSortKey(rows[i].CMD_Contribuyente.asText());
    std::stable_sort(named.begin(), named.end(), [&](std::size_t a, std::size_t b) {
        const Value &x = rows[a].CMD_Contribuyente, &y = rows[b].CMD_Contribuyente;
        if (x.kind() == Value::Kind::Text && y.kind() == Value::Kind::Text) return keys[a] < keys[b];
        return compareJetValues(x, y) < 0;
    });
}

}  // namespace

std::vector<std::size_t> taxpayerOrder(std::span<const TaxpayerRow> rows, std::span<const RowPointer> places,
                                       const std::vector<RowPointer>* nameIndex) {
    std::vector<std::size_t> order, named;
    order.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) (rows[i].CMD_Contribuyente.isNull() ? order : named).push_back(i);
    std::vector<std::size_t> indexed;
    if (nameIndex) indexed = indexOrder(rows, places, *nameIndex, named.size());
    if (!indexed.empty())
        named = std::move(indexed);
    else
        sortByKeys(rows, named);
    order.insert(order.end(), named.begin(), named.end());
    return order;
}
