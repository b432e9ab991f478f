#include "source/TableRows.h"

#include "source/JetFunctions.h"

#include <algorithm>

namespace {

// A table of at most this many rows (as its definition estimates them) is small enough to be kept whole: the
// taxpayers and their forms, on files far larger than the ones we know; not the declarations or the movements.
constexpr std::uint32_t kSmallTableRows = 16384;

std::uint32_t pointerKey(RowPointer pointer) { return pointer.page << 8 | pointer.row; }

// The rows, in scan order, whose text in `column` may have the collation key `key`. A text of ASCII letters and
// signs (no NUL) has the key of its bytes lowered: it is compared here, byte by byte; any other text is a candidate
// when its own key equals `key` or cannot be told.
TableRows::Picks matchingRows(const TableRows::Rows& rows, std::size_t column, std::string_view key) {
    TableRows::Picks picks;
    std::string rowKey;
    for (std::uint32_t r = 0; r < rows.size(); ++r) {
        const Value& value = rows[r][column];
        if (value.kind() != Value::Kind::Text) continue;  // Null equals nothing
        const std::string& text = value.asText();
        const bool plain =
            std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) - 1u < 0x7Fu; });
        const bool equal =
            plain ? text.size() == key.size() && std::equal(text.begin(), text.end(), key.begin(),
                                                            [](char c, char k) {
                                                                return jetKeyByte(static_cast<unsigned char>(c)) ==
                                                                       static_cast<unsigned char>(k);
                                                            })
                  : !jetTextKey(text, rowKey) || rowKey == key;
        if (equal) picks.push_back(r);
    }
    return picks;
}

}  // namespace

TableRows::TableRows(const JetFile& file, std::size_t table)
    : m_file(file), m_table(table), m_small(file.tables()[table].rowCountEstimate <= kSmallTableRows) {}

TableRows::Image& TableRows::image() {
    if (m_image) return *m_image;
    auto image = std::make_unique<Image>();
    std::vector<std::uint8_t> slots;
    for (const std::uint32_t pg : m_file.dataPages(m_table)) {
        slots.clear();
        const std::size_t first = image->rows->size();
        m_file.rowsOnPage(m_table, pg, *image->rows, &slots);
        for (std::size_t i = 0; i < slots.size(); ++i)
            image->positions.emplace(pointerKey({pg, slots[i]}), std::uint32_t(first + i));
    }
    image->texts.resize(m_file.tables()[m_table].columns.size());
    image->lookedUp.resize(image->texts.size());
    m_image = std::move(image);
    return *m_image;
}

void TableRows::scan(Found& found) {
    if (!m_small) {
        found.pages = true;
        return;
    }
    found.rows = image().rows;
}

bool TableRows::seek(int column, std::int64_t key, Found& found) {
    const std::uint64_t asked = std::uint64_t(column + 1) << 32 | std::uint32_t(key);
    if (const KeptSearch* kept = m_searches.find(asked)) {
        found.rows = kept->rows;
        found.picks = kept->picks;
        return true;
    }
    const auto before = std::find_if(m_asked.begin(), m_asked.end(), [&](const Asked& a) { return a.key == asked; });
    std::vector<RowPointer> pointers;
    if (before != m_asked.end()) {
        pointers = std::move(before->pointers);
        before->key = 0;
    } else if (std::optional<std::vector<RowPointer>> sought = m_file.seek(m_table, column, key)) {
        pointers = std::move(*sought);
    } else {
        return false;
    }
    if (pointers.size() > kLongestKeptSearch) {
        found.pointers = std::move(pointers);
        return true;
    }
    if (m_image) {
        // Rows that moved since they were first written are not where the index points: those are read afresh.
        auto picks = std::make_shared<Picks>();
        picks->reserve(pointers.size());
        for (const RowPointer pointer : pointers) {
            const auto it = m_image->positions.find(pointerKey(pointer));
            if (it == m_image->positions.end()) {
                found.pointers = std::move(pointers);
                return true;
            }
            picks->push_back(it->second);
        }
        found.rows = m_image->rows;
        found.picks = picks;
        m_searches.insert(asked, {m_image->rows, std::move(picks)}, std::max<std::size_t>(pointers.size(), 1));
        return true;
    }
    // A row found by a key its index allows once is asked for again at once (a declaration, by each statement of its
    // movements): it is decoded whole and kept the first time, not decoded by each.
    const auto& unique = m_file.tables()[m_table].uniqueColumns;
    const bool once = std::find(unique.begin(), unique.end(), column) != unique.end();
    if (before == m_asked.end() && !once) {
        Asked& slot = m_asked[m_nextAsked++ % m_asked.size()];
        slot.key = asked;
        slot.pointers = pointers;
        found.pointers = std::move(pointers);
        return true;
    }
    if (once && pointers.size() == 1) {
        if (const auto it = m_decodedRows.find(pointerKey(pointers.front())); it != m_decodedRows.end()) {
            auto picks = std::make_shared<Picks>(1, it->second.position);
            found.rows = it->second.rows;
            found.picks = picks;
            m_searches.insert(asked, {it->second.rows, std::move(picks)});
            return true;
        }
    }
    auto rows = std::make_shared<Rows>();
    rows->reserve(pointers.size());
    for (const RowPointer pointer : pointers)
        if (!m_file.rowAt(m_table, pointer, rows->emplace_back())) rows->pop_back();
    m_searches.insert(asked, {rows, nullptr}, std::max<std::size_t>(rows->size(), 1));
    if (!once && rows->size() == pointers.size()) {
        if (m_decodedRows.size() + rows->size() > kKeptSearchRows) m_decodedRows.clear();
        for (std::size_t i = 0; i < pointers.size(); ++i)
            m_decodedRows.insert_or_assign(pointerKey(pointers[i]), DecodedRow{rows, std::uint32_t(i)});
    }
    found.rows = std::move(rows);
    return true;
}

bool TableRows::looksUpText() const noexcept { return m_small; }

void TableRows::lookupText(int column, std::string_view text, Found& found) {
    Image& kept = image();
    found.rows = kept.rows;
    std::string key;
    if (!jetTextKey(text, key)) return;
    std::optional<TextIndex>& index = kept.texts[std::size_t(column)];
    if (!index && !kept.lookedUp[std::size_t(column)]) {
        kept.lookedUp[std::size_t(column)] = true;
        // The first lookup of a column compares every row with the text: one export asks for one taxpayer, and
        // making the index costs several times that. The index is made when the column is looked up again.
        found.picks = std::make_shared<Picks>(matchingRows(*kept.rows, std::size_t(column), key));
        return;
    }
    const auto hash = [](const std::string& k) { return std::hash<std::string>{}(k); };
    if (!index) {
        index.emplace();
        std::string rowKey;
        const Rows& rows = *kept.rows;
        index->rows.reserve(rows.size());
        for (std::uint32_t r = 0; r < rows.size(); ++r) {
            const Value& value = rows[r][std::size_t(column)];
            // Null equals nothing.
            if (value.kind() != Value::Kind::Text) continue;
            if (jetTextKey(value.asText(), rowKey))
                index->rows.emplace_back(hash(rowKey), r);
            else
                index->unsure.push_back(r);
        }
        std::sort(index->rows.begin(), index->rows.end());
    }
    const std::size_t sought = hash(key);
    auto picks = std::make_shared<Picks>();
    auto it =
        std::lower_bound(index->rows.begin(), index->rows.end(), std::pair<std::size_t, std::uint32_t>(sought, 0));
    for (; it != index->rows.end() && it->first == sought; ++it) picks->push_back(it->second);
    if (!index->unsure.empty()) {
        // In scan order, with the rows whose key could not be told among them.
        picks->insert(picks->end(), index->unsure.begin(), index->unsure.end());
        std::sort(picks->begin(), picks->end());
    }
    found.picks = std::move(picks);
}
