#pragma once

#include "database/Database.h"
#include "jetfile/JetFile.h"

#include <cstddef>
#include <span>
#include <vector>

// The order of the taxpayers' list, as positions in `rows`: the rows of CMD as a scan meets them, stored at
// `places`. Rows with a Null name come first, in the order stored; then the others by name in Access's text order.
// `nameIndex` is what the table's ascending index on the name lists (JetFile::inIndexOrder), nullptr without one:
// the names take its order when it lists each row with a name exactly once and no other row but those with a Null
// name, each at most once (an index may leave them out). Otherwise, and without an index, they are sorted by their
// keys (jetGeneralSortKey), names with equal keys in the order stored.
std::vector<std::size_t> taxpayerOrder(std::span<const TaxpayerRow> rows, std::span<const RowPointer> places,
                                       const std::vector<RowPointer>* nameIndex);
