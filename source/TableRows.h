#pragma once

#include "source/JetFile.h"
#include "source/LruCache.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The rows of one table of a Jet file as the queries on it ask for them, kept where an export asks for the same
// rows again and again. A smaller table (the taxpayers, their forms) scanned whole is kept whole, decoded: later
// scans, searches and lookups of a text read what was kept instead of the file, so that finding a taxpayer by its
// reference costs the same in a file of any size. The rows of a search asked for again (a form's declarations,
// looked up once per declaration) are kept for the times after. Anything else is read from the file as it is
// walked. What is kept lives as long as the reading of the file.
//
// One thread at a time, like the file it reads.
class TableRows {
public:
    using Rows = std::vector<std::vector<Value>>;

    // Positions among a table's kept rows.
    using Picks = std::vector<std::uint32_t>;

    // What a query walks: rows already decoded (those of `rows` at `picks`, or all of them in order without), or
    // the rows at `pointers`, to be decoded one at a time, or, when `pages`, every row of the table's data pages.
    struct Found {
        std::shared_ptr<const Rows> rows;
        std::shared_ptr<const Picks> picks;
        std::vector<RowPointer> pointers;
        bool pages = false;
    };

    TableRows(const JetFile& file, std::size_t table);
    TableRows(const TableRows&) = delete;
    TableRows& operator=(const TableRows&) = delete;

    // Every row, in the order a scan of the data pages meets them. A smaller table is read whole now and kept.
    void scan(Found& found);
    // The rows whose seekable column `column` equals `key`, in index order; false when the column's index cannot be
    // searched.
    bool seek(int column, std::int64_t key, Found& found);
    // Whether lookupText can answer for this table: it is small enough to be kept whole.
    bool looksUpText() const noexcept;
    // The rows whose text column `column` may equal `text` as the jet_text collation compares texts: every row that
    // does, in scan order, and perhaps others, which the caller compares itself. Reads the table whole the first
    // time.
    void lookupText(int column, std::string_view text, Found& found);

private:
    // The rows of a text column by the hash of the key the collation's equality comes to, in order of hash then
    // row; `unsure` are those whose key cannot be told (invalid UTF-8), candidates for every text. Rows whose keys
    // only share a hash are candidates too: the caller compares.
    struct TextIndex {
        std::vector<std::pair<std::size_t, std::uint32_t>> rows;
        std::vector<std::uint32_t> unsure;
    };
    // The table kept whole: its rows in scan order, where each is stored, and the text indexes made so far.
    struct Image {
        std::shared_ptr<Rows> rows = std::make_shared<Rows>();
        std::unordered_map<std::uint32_t, std::uint32_t> positions;  // page << 8 | slot → row
        std::vector<std::optional<TextIndex>> texts;                 // by column
        std::vector<bool> lookedUp;                                  // by column: looked up once, without an index
    };

    Image& image();

    const JetFile& m_file;
    std::size_t m_table;
    bool m_small;
    std::unique_ptr<Image> m_image;
    // A search kept: all of `rows`, read from the file, or those of the kept table's rows at `picks`.
    struct KeptSearch {
        std::shared_ptr<const Rows> rows;
        std::shared_ptr<const Picks> picks;
    };
    // A search asked for lately, by (column + 1) << 32 | key, with the rows its index gave.
    struct Asked {
        std::uint64_t key = 0;
        std::vector<RowPointer> pointers;
    };
    // The searches of a table kept whole are kept at once, the others when asked for again while they are among
    // the last few asked. A long result is never kept.
    static constexpr std::size_t kAskedSearches = 16;
    static constexpr std::size_t kKeptSearchRows = 2048;
    static constexpr std::size_t kLongestKeptSearch = 256;
    std::array<Asked, kAskedSearches> m_asked{};
    // The rows of the searches decoded and kept (a form's declarations), by where each is stored, while they are a
    // few thousand: a row found again by a key its index allows once (a declaration by its number) is read from
    // there, not decoded again.
    struct DecodedRow {
        std::shared_ptr<const Rows> rows;
        std::uint32_t position = 0;
    };
    std::unordered_map<std::uint32_t, DecodedRow> m_decodedRows;
    std::size_t m_nextAsked = 0;
    LruCache<std::uint64_t, KeptSearch> m_searches{kKeptSearchRows, kKeptSearchRows};
};
