#include "jetfile/JetCatalog.h"

#include "jetfile/JetBytes.h"
#include "jetfile/JetDamage.h"
#include "jetfile/JetText.h"
#include "jetfile/PageCache.h"
#include "jetfile/RowReader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Where a table definition holds what the reader needs, in Jet 4 and in Jet 3.
struct Layout {
    std::size_t columnCount;  // two bytes, after the count of variable columns
    std::size_t indexCount;   // four bytes each: the logical indexes, then the real ones
    std::size_t usageMap;
    std::size_t columnsStart;  // after one entry per real index
    std::size_t realIndexEntry;
    std::size_t columnEntry;  // and in one: its type at 0, its number, variable entry, flags, fixed offset, size
    std::size_t columnNumber;
    std::size_t columnVariable;
    std::size_t columnFlags;
    std::size_t columnFixedOffset;
    std::size_t columnSize;
    std::size_t realIndexDefinition;  // the real indexes' columns and pages, after the column names
    std::size_t logicalIndexDefinition;
    std::size_t logicalIndexType;
};
constexpr Layout kJet4 = {.columnCount = 45,
                          .indexCount = 47,
                          .usageMap = 55,
                          .columnsStart = 63,
                          .realIndexEntry = 12,
                          .columnEntry = 25,
                          .columnNumber = 5,
                          .columnVariable = 7,
                          .columnFlags = 15,
                          .columnFixedOffset = 21,
                          .columnSize = 23,
                          .realIndexDefinition = 52,
                          .logicalIndexDefinition = 28,
                          .logicalIndexType = 23};
constexpr Layout kJet3 = {.columnCount = 25,
                          .indexCount = 27,
                          .usageMap = 35,
                          .columnsStart = 43,
                          .realIndexEntry = 8,
                          .columnEntry = 18,
                          .columnNumber = 1,
                          .columnVariable = 3,
                          .columnFlags = 13,
                          .columnFixedOffset = 14,
                          .columnSize = 16,
                          .realIndexDefinition = 39,
                          .logicalIndexDefinition = 20,
                          .logicalIndexType = 19};

// The catalog's rows: an object's type in the low seven bits of Type, a table being 1; system tables carry one of
// these flags; an object's Id holds its definition's page in its low three bytes.
constexpr std::int64_t kObjectType = 0x7F;
constexpr std::int64_t kTableObject = 1;
constexpr std::int64_t kSystemObjectFlags = 0x80000002;
constexpr std::uint32_t kDefinitionPageOfId = 0x00FFFFFF;
// An index that allows each key once.
constexpr unsigned kUniqueIndexFlag = 0x01;

constexpr unsigned char kPageDefinition = 0x02;
constexpr unsigned char kPageData = 0x01;
// A definition is short: one that runs on over more pages than this is taken for damage.
constexpr int kMaxDefinitionPages = 64;

bool keptType(unsigned code, JetType& kept) {
    switch (code) {
        case 0x01: kept = JetType::Boolean; return true;
        case 0x02: kept = JetType::Byte; return true;
        case 0x03: kept = JetType::Integer; return true;
        case 0x04: kept = JetType::Long; return true;
        case 0x05: kept = JetType::Currency; return true;
        case 0x06: kept = JetType::Single; return true;
        case 0x07: kept = JetType::Double; return true;
        case 0x08: kept = JetType::DateTime; return true;
        case 0x0A: kept = JetType::Text; return true;
        case 0x0C: kept = JetType::Memo; return true;
        default: return false;
    }
}

// A definition's bytes, read with every offset checked.
class Definition {
public:
    Definition(const std::string& bytes, const std::string& path, const std::string& table)
        : m_bytes(bytes), m_path(path), m_table(table) {}
    const unsigned char* at(std::size_t offset, std::size_t size) const {
        if (offset > m_bytes.size() || size > m_bytes.size() - offset)
            throwDamaged(m_path, m_table, "su definición está mal formada");
        return reinterpret_cast<const unsigned char*>(m_bytes.data()) + offset;
    }
    unsigned u8(std::size_t offset) const { return *at(offset, 1); }
    unsigned u16(std::size_t offset) const { return jetbytes::u16(at(offset, 2)); }
    std::uint32_t u32(std::size_t offset) const { return jetbytes::u32(at(offset, 4)); }

private:
    const std::string& m_bytes;
    const std::string& m_path;
    const std::string& m_table;
};

}  // namespace

JetCatalog::JetCatalog(PageCache& pages, RowReader& rows, bool jet3) : m_pages(pages), m_jet3(jet3) {
    // The catalog is a table of its own, defined on page 2: a row per object, of which the user tables are kept.
    JetTableInfo catalog = readDefinition("MSysObjects", 2);
    std::vector<int> columns;
    for (const char* name : {"Id", "Name", "Type", "Flags"})
        for (std::size_t c = 0; c < catalog.columns.size(); ++c)
            if (catalog.columns[c].name == name) columns.push_back(int(c));
    const JetType types[] = {JetType::Long, JetType::Text, JetType::Integer, JetType::Long};
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (catalog.columns[std::size_t(columns[i])].type != types[i]) columns.clear();
    if (columns.size() != 4) throwDamaged(m_pages.path(), "MSysObjects", "faltan columnas del catálogo");
    Value id, name, type, flags;
    Value* const into[] = {&id, &name, &type, &flags};
    pagesOf(catalog).forEach([&](std::uint32_t pg) {
        if (!isDataPage(m_pages.page("MSysObjects", pg), catalog)) return true;
        rows.rowsOnPage(catalog, pg, columns, into, [&](RowPointer) {
            if (type.isNull() || id.isNull() || name.isNull() || (type.asInteger() & kObjectType) != kTableObject)
                return true;
            if (!flags.isNull() && (flags.asInteger() & kSystemObjectFlags)) return true;
            m_names.push_back(name.asText());
            m_definitionPages.push_back(std::uint32_t(id.asInteger()) & kDefinitionPageOfId);
            return true;
        });
        return true;
    });
    m_tables.resize(m_names.size());
    m_dataPages.resize(m_names.size());
}

// The definition of a table, from its first page on: the first page whole, then each page it runs on to (the
// page named at offset 4) from its eighth byte.
std::string JetCatalog::definitionBytes(const std::string& name, std::uint32_t page) {
    std::string bytes;
    for (int read = 0; page != 0; ++read) {
        if (read == kMaxDefinitionPages || page >= m_pages.pageCount())
            throwDamaged(m_pages.path(), name, "su definición está fuera del archivo");
        const unsigned char* p = m_pages.page(name, page);
        if (p[0] != kPageDefinition) throwDamaged(m_pages.path(), name, "su definición no se puede leer");
        const std::size_t from = read == 0 ? 0 : 8;
        bytes.append(reinterpret_cast<const char*>(p) + from, m_pages.pageSize() - from);
        page = jetbytes::u32(p + 4);
    }
    return bytes;
}

JetTableInfo JetCatalog::readDefinition(const std::string& name, std::uint32_t page) {
    if (page == 0 || page >= m_pages.pageCount())
        throwDamaged(m_pages.path(), name, "su definición está fuera del archivo");
    const std::string bytes = definitionBytes(name, page);
    const Definition d(bytes, m_pages.path(), name);
    const Layout& l = m_jet3 ? kJet3 : kJet4;
    JetTableInfo info;
    info.name = name;
    info.definitionPage = page;
    info.variableColumns = d.u16(l.columnCount - 2);
    const unsigned columnCount = d.u16(l.columnCount);
    const std::uint32_t logicalIndexes = d.u32(l.indexCount);
    std::uint32_t realIndexes = d.u32(l.indexCount + 4);
    info.usageMap = d.u32(l.usageMap);
    if (columnCount > 255 || logicalIndexes > 64 || realIndexes > 64)
        throwDamaged(m_pages.path(), name, "su definición está mal formada");

    // The columns, then their names, in the same order; kept in the order of their numbers.
    struct Stored {
        JetColumn column;
        bool kept;
    };
    std::vector<Stored> stored;
    std::size_t at = l.columnsStart + realIndexes * l.realIndexEntry;
    for (unsigned c = 0; c < columnCount; ++c, at += l.columnEntry) {
        const unsigned code = d.u8(at);
        Stored s{{}, keptType(code, s.column.type)};
        s.column.number = int(d.u8(at + l.columnNumber));
        s.column.varNumber = int(d.u16(at + l.columnVariable));
        s.column.fixed = d.u8(at + l.columnFlags) & 0x01;
        s.column.fixedOffset = int(d.u16(at + l.columnFixedOffset));
        s.column.size = code == 0x01 ? 0 : int(d.u16(at + l.columnSize));
        stored.push_back(std::move(s));
    }
    for (Stored& s : stored) {
        const std::size_t length = m_jet3 ? d.u8(at) : d.u16(at);
        at += m_jet3 ? 1 : 2;
        appendJetText(d.at(at, length), length, m_jet3, s.column.name);
        at += length;
    }
    std::stable_sort(stored.begin(), stored.end(),
                     [](const Stored& a, const Stored& b) { return a.column.number < b.column.number; });
    int fixedBefore = 0;
    std::vector<int> kept(stored.size(), -1);  // by position among all columns: position among the kept
    for (std::size_t c = 0; c < stored.size(); ++c) {
        stored[c].column.fixedOrdinal = fixedBefore;
        fixedBefore += stored[c].column.fixed;
        if (!stored[c].kept) continue;
        kept[c] = int(info.columns.size());
        info.columns.push_back(std::move(stored[c].column));
    }

    // The real indexes: up to ten key columns each (by number, with its order), its first page and its flags. Only
    // those a logical index other than a foreign key stands for count.
    const std::size_t realStart = at;
    const std::size_t logicalStart = realStart + realIndexes * l.realIndexDefinition;
    std::uint32_t backed = 0;
    for (std::uint32_t x = 0; x < logicalIndexes; ++x)
        backed += d.u8(logicalStart + x * l.logicalIndexDefinition + l.logicalIndexType) != 2;
    realIndexes = std::min(realIndexes, backed);
    for (std::uint32_t x = 0; x < realIndexes; ++x) {
        std::size_t p = realStart + x * l.realIndexDefinition + (m_jet3 ? 0 : 4);
        int keys = 0, first = -1;
        bool ascending = false;
        for (int k = 0; k < 10; ++k, p += 3) {
            const unsigned number = d.u16(p);
            if (number == 0xFFFF) continue;
            const auto column = std::find_if(stored.begin(), stored.end(),
                                             [&](const Stored& s) { return unsigned(s.column.number) == number; });
            if (column == stored.end()) continue;
            if (keys++ == 0) {
                first = kept[std::size_t(column - stored.begin())];
                ascending = d.u8(p + 2) != 0;
            }
        }
        const std::uint32_t firstPage = d.u32(p + 4);
        const unsigned flags = d.u8(p + (m_jet3 ? 8 : 12));
        // Jet 3 index pages are laid out differently; its small files are scanned.
        if (m_jet3 || keys != 1 || first < 0 || !ascending || firstPage == 0 || firstPage >= m_pages.pageCount())
            continue;
        const JetType type = info.columns[std::size_t(first)].type;
        const auto known = [&](const std::vector<int>& columns) {
            return std::find(columns.begin(), columns.end(), first) != columns.end();
        };
        if (type == JetType::Long && !known(info.seekableColumns)) {
            info.seekableColumns.push_back(first);
            info.seekPages.push_back(firstPage);
            if (flags & kUniqueIndexFlag) info.uniqueColumns.push_back(first);
        } else if (type == JetType::Text && !known(info.textIndexColumns)) {
            info.textIndexColumns.push_back(first);
            info.textIndexPages.push_back(firstPage);
        }
    }
    return info;
}

const JetTableInfo& JetCatalog::table(std::size_t t) {
    if (!m_tables[t]) m_tables[t] = readDefinition(m_names[t], m_definitionPages[t]);
    return *m_tables[t];
}

// The data pages of a table, as its usage map lists them: a map of type 0 is a bitmap of the pages from the one it
// names on; one of type 1 names the pages holding such bitmaps, each for the pages from its own place on. A map of
// another type lists no pages: then every page of the file is looked at. Pages that are not data pages of the
// table are passed over, and a page 0 ends the list.
void PageSet::add(std::uint32_t page) {
    if (m_bits.empty()) m_first = page;
    const std::size_t bit = page - m_first;
    if (bit / 64 >= m_bits.size()) m_bits.resize(bit / 64 + 1);
    m_bits[bit / 64] |= std::uint64_t(1) << (bit % 64);
}

bool JetCatalog::isDataPage(const unsigned char* page, const JetTableInfo& table) {
    return page[0] == kPageData && jetbytes::u32(page + 4) == table.definitionPage;
}

PageSet JetCatalog::pagesOf(const JetTableInfo& table) {
    const std::string& name = table.name;
    const std::uint32_t pageCount = m_pages.pageCount();
    const std::uint32_t pg = table.usageMap >> 8;
    if (pg == 0 || pg >= pageCount) throwDamaged(m_pages.path(), name, "su mapa de páginas no se puede leer");
    const std::string mapPage(reinterpret_cast<const char*>(m_pages.page(name, pg)), m_pages.pageSize());
    const auto* page = reinterpret_cast<const unsigned char*>(mapPage.data());
    std::uint32_t start = 0, size = 0;
    if (!RowReader::slot(page, table.usageMap & 0xFF, m_pages.pageSize(), m_jet3, start, size))
        throwDamaged(m_pages.path(), name, "su mapa de páginas no se puede leer");
    const unsigned char* map = page + start;
    PageSet candidates;
    bool ended = false;
    // The pages whose bits are set in `bits` (`bytes` of them), the first bit standing for page `first`.
    const auto collect = [&](const unsigned char* bits, std::size_t bytes, std::uint64_t first) {
        for (std::size_t b = 0; b < bytes && !ended; ++b) {
            // A map is mostly zeros: eight bytes of them are passed at once.
            for (std::uint64_t word; b + 8 <= bytes && (std::memcpy(&word, bits + b, 8), word == 0);) b += 8;
            if (b == bytes) break;
            for (unsigned byte = bits[b]; byte != 0 && !ended; byte &= byte - 1) {
                const std::uint64_t number = first + b * 8 + unsigned(std::countr_zero(byte));
                if (number == 0 || number >= pageCount)
                    ended = true;
                else
                    candidates.add(std::uint32_t(number));
            }
        }
    };
    if (map[0] == 0 && size >= 5) {
        collect(map + 5, size - 5, jetbytes::u32(map + 1));
    } else if (map[0] == 1) {
        const std::uint64_t perPage = std::uint64_t(m_pages.pageSize() - 4) * 8;
        for (std::uint32_t k = 0; 1 + 4 * (k + 1) <= size && !ended; ++k) {
            const std::uint32_t bitmapPage = jetbytes::u32(map + 1 + 4 * k);
            if (bitmapPage == 0) continue;
            if (bitmapPage >= pageCount)
                throwDamaged(m_pages.path(), name, "su mapa de páginas está fuera del archivo");
            const std::string bitmap(reinterpret_cast<const char*>(m_pages.page(name, bitmapPage)) + 4,
                                     m_pages.pageSize() - 4);
            collect(reinterpret_cast<const unsigned char*>(bitmap.data()), bitmap.size(), k * perPage);
        }
    } else if (map[0] != 0) {
        for (std::uint32_t p = 1; p < pageCount; ++p) candidates.add(p);
    }
    // The pages are not read here: a scan reads each once, and passes over those that are not the table's.
    return candidates;
}

const PageSet& JetCatalog::dataPages(std::size_t t) {
    if (!m_dataPages[t]) m_dataPages[t] = pagesOf(table(t));
    return *m_dataPages[t];
}
