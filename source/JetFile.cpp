#include "source/JetFile.h"

#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"
#include "source/JetHeader.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <mdbtools.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <map>
#include <unordered_map>
#include <optional>
#include <stdexcept>

namespace {

constexpr int kRowOffsetMask = 0x1FFF;
// Row slot flags. 0x4000 alone marks the stub left where a row that grew moved from (its first four bytes point at
// the row's new place, flagged 0x8000); both flags mark a deleted row.
constexpr int kRowMovedFlag = 0x4000;
constexpr int kRowDeletedFlags = 0xC000;
constexpr unsigned char kPageData = 0x01;
constexpr unsigned char kPageIndexNode = 0x03;
constexpr unsigned char kPageIndexLeaf = 0x04;
// On a Jet 4 leaf: the previous leaf at 0x0C, the next one at 0x10, the prefix length at 0x18.
constexpr std::size_t kNextLeafOffset = 0x10;
constexpr std::size_t kMemoHeader = 12;
// A memo longer than this is taken for damage: Jet memos hold at most 1 GB, real ones far less.
constexpr std::uint32_t kMaxMemoBytes = 64u << 20;

std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint32_t u32be(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

template <typename T>
T load(const unsigned char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Text as a Jet file stores it. Jet 4 keeps UTF-16LE, or, after the marker FF FE, runs of one byte per character
// (Latin-1) switched to and from UTF-16 by a zero byte. Jet 3 keeps the code page's bytes.
void appendText(const unsigned char* p, std::size_t size, bool jet3, std::string& out)
{
    if (jet3) {
        appendUtf8FromWindows1252(out, p, size);
        return;
    }
    out.reserve(out.size() + size);
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bool compressed = true;
        std::size_t i = 2;
        while (i < size) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                // Runs of ASCII are copied as they are.
                const std::size_t run = i;
                while (i < size && p[i] != 0 && p[i] < 0x80) ++i;
                if (i > run) {
                    out.append(reinterpret_cast<const char*>(p + run), i - run);
                    continue;
                }
                appendUtf8(out, p[i]);
                ++i;
            } else {
                if (i + 1 >= size) break;
                appendUtf8FromUtf16le(out, p + i, 1);
                i += 2;
            }
        }
        return;
    }
    appendUtf8FromUtf16le(out, p, size / 2);
}

std::string decodeText(const unsigned char* p, std::size_t size, bool jet3)
{
    std::string out;
    appendText(p, size, jet3, out);
    return out;
}

bool keptType(int type, JetType& kept)
{
    switch (type) {
    case MDB_BOOL: kept = JetType::Boolean; return true;
    case MDB_BYTE: kept = JetType::Byte; return true;
    case MDB_INT: kept = JetType::Integer; return true;
    case MDB_LONGINT: kept = JetType::Long; return true;
    case MDB_MONEY: kept = JetType::Currency; return true;
    case MDB_FLOAT: kept = JetType::Single; return true;
    case MDB_DOUBLE: kept = JetType::Double; return true;
    case MDB_DATETIME: kept = JetType::DateTime; return true;
    case MDB_TEXT: kept = JetType::Text; return true;
    case MDB_MEMO: kept = JetType::Memo; return true;
    default: return false;
    }
}

struct TableDefDeleter {
    void operator()(MdbTableDef* table) const noexcept { mdb_free_tabledef(table); }
};
using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefDeleter>;


// Jet's index key of a Long in an ascending index: a flag byte for "not Null", then the number big-endian with
// its sign bit flipped, so that the bytes sort as the numbers do.
std::array<unsigned char, 5> longKey(std::int64_t key)
{
    const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(key)) ^ 0x80000000u;
    return {0x7F, static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

// An index entry, packed: its key bytes (up to five, big-endian, then their count) make one number that sorts as
// the keys do, a key that is a prefix of another sorting first.
struct IndexEntry {
    std::uint64_t key;
    std::uint32_t row;    // data page << 8 | slot
    std::uint32_t child;  // node pages only
};

std::uint64_t packedKey(const unsigned char* bytes, std::size_t length)
{
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 5; ++i) key = key << 8 | (i < length ? bytes[i] : 0);
    return key << 8 | length;
}

struct IndexPage {
    unsigned char type;
    std::uint32_t next;  // leaves: the next leaf in key order
    std::vector<IndexEntry> entries;
};

// The entries of an index page. Entry ends are marked in a bitmap; entries after the first may leave out the
// prefix their page's keys share; each ends with its row's page (3 bytes) and slot, then, on node pages, the
// child page (4 bytes), all big-endian.
// Raises std::invalid_argument naming what is wrong; the caller words it for the table.
std::vector<IndexEntry> indexEntries(const unsigned char* p, std::uint32_t pageSize, bool jet3)
{
    const std::size_t bitmapStart = jet3 ? 0x16 : 0x1B;
    const std::size_t entriesStart = jet3 ? 0xF8 : 0x1E0;
    const std::size_t prefix = u16(p + (jet3 ? 0x14 : 0x18));
    const bool node = p[0] == kPageIndexNode;
    const std::size_t tail = node ? 8 : 4;
    std::vector<IndexEntry> entries;
    std::size_t marked = 0;
    std::size_t i = bitmapStart;
    for (; i + 8 <= entriesStart; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        marked += std::size_t(std::popcount(word));
    }
    for (; i < entriesStart; ++i) marked += std::size_t(std::popcount(unsigned(p[i])));
    entries.reserve(marked);
    std::array<unsigned char, 5> first{};
    std::size_t begin = entriesStart;
    // Bit n marks an entry ending at entriesStart + n; bit 0 marks none.
    for (std::size_t byte = bitmapStart; byte < entriesStart; ++byte) {
        for (unsigned bits = p[byte] & (byte == bitmapStart ? 0xFEu : 0xFFu); bits != 0; bits &= bits - 1) {
            const std::size_t bit = (byte - bitmapStart) * 8 + std::size_t(std::countr_zero(bits));
            const std::size_t end = entriesStart + bit;
            if (end > pageSize) throw std::invalid_argument("index entry outside its page");
            const bool isFirst = entries.empty();
            const std::size_t omitted = isFirst ? 0 : (prefix > 1 ? prefix : 0);
            const std::size_t stored = end - begin;
            if (stored < tail || omitted > 5) throw std::invalid_argument("index entry malformed");
            const std::size_t keyStored = stored - tail;
            std::array<unsigned char, 5> key{};
            const std::size_t keyLength = std::min<std::size_t>(omitted + keyStored, 5);
            for (std::size_t i = 0; i < keyLength; ++i) key[i] = i < omitted ? first[i] : p[begin + i - omitted];
            if (isFirst) first = key;
            const unsigned char* t = p + end - tail;
            IndexEntry e{};
            e.key = packedKey(key.data(), keyLength);
            e.row = std::uint32_t(t[0]) << 24 | std::uint32_t(t[1]) << 16 | std::uint32_t(t[2]) << 8 | t[3];
            if (node) e.child = u32be(t + 4);
            entries.push_back(e);
            begin = end;
        }
    }
    return entries;
}


}  // namespace

struct JetFile::Impl {
    std::string path;
    MdbHandle* mdb = nullptr;
    int fd = -1;
    bool jet3 = false;
    std::uint32_t pageSize = 4096;
    std::uint32_t pageCount = 0;
    // The catalog entries the table definitions point at; they outlive the definitions.
    std::vector<std::unique_ptr<MdbCatalogEntry>> entries;
    std::vector<TableDefPtr> defs;                        // parallel to JetFile::m_tables
    std::vector<std::vector<MdbIndex*>> seekIndex;        // per table, per kept column: a searchable index or null
    mutable std::vector<std::optional<std::vector<std::uint32_t>>> pages;  // data pages, read on first use
    mutable long loadedPage = -1;                         // the page libmdb's page buffer holds
    // Pages read lately, kept so that the lookups of an export do not read the same pages again and again: the
    // declarations of a taxpayer, the index pages, the taxpayer's row. Replaced in turn once all are in use.
    static constexpr std::size_t kCachedPages = 256;
    mutable std::vector<std::string> cachedPages;
    mutable std::vector<std::uint32_t> cachedPageNumbers;
    mutable std::map<std::uint32_t, std::size_t> cachedSlots;
    mutable std::size_t nextSlot = 0;
    static constexpr std::uint32_t kReadAhead = 8;
    mutable std::array<std::uint32_t, 4> nextInSequence{};  // the page after each of the last runs read
    mutable std::size_t nextSequence = 0;
    mutable std::vector<MdbField> fields;
    // Decoded rows of the smaller tables, by table, page and slot.
    static constexpr std::size_t kKeptRows = 2048;
    static constexpr std::uint32_t kKeptRowsTableLimit = 50000;
    mutable std::unordered_map<std::uint64_t, std::shared_ptr<const std::vector<Value>>> keptRows;
    // Index pages already taken apart, by page number: an export searches the same few pages again and again.
    mutable std::map<std::uint32_t, std::shared_ptr<const IndexPage>> indexPages;

    ~Impl()
    {
        defs.clear();
        entries.clear();
        if (mdb) mdb_close(mdb);
        if (fd >= 0) ::close(fd);
    }

    [[noreturn]] void damaged(const std::string& table, const std::string& what) const
    {
        throw RuntimeError(RuntimeError::DatabaseError,
                           "cannot read table " + table + " of " + path + ": " + what + " (the file is damaged)");
    }

    const unsigned char* page() const { return reinterpret_cast<const unsigned char*>(mdb->pg_buf); }

    // A slot of the page cache for a page about to be read: a new one while there is room, else the next in turn.
    std::size_t takeSlot() const
    {
        std::size_t slot;
        if (cachedPages.size() < kCachedPages) {
            slot = cachedPages.size();
            cachedPages.emplace_back(pageSize, '\0');
            cachedPageNumbers.push_back(0);
        } else {
            slot = nextSlot++ % kCachedPages;
        }
        if (cachedPageNumbers[slot] != 0) cachedSlots.erase(cachedPageNumbers[slot]);
        cachedPageNumbers[slot] = 0;
        return slot;
    }

    // Page `pg` of the file, from the pages read lately or from the file. A page read right after the one before
    // it is read with the few that follow, in one call: the rows of a declaration lie on consecutive pages.
    const unsigned char* readPage(const std::string& table, std::uint32_t pg) const
    {
        if (auto it = cachedSlots.find(pg); it != cachedSlots.end())
            return reinterpret_cast<const unsigned char*>(cachedPages[it->second].data());
        if (pg == 0 || pg >= pageCount) damaged(table, "page " + std::to_string(pg) + " is outside the file");
        // Several walks may go on at once (a table's rows, its index, the rows it points at): each is followed.
        std::uint32_t count = 1;
        const auto sequence = std::find(nextInSequence.begin(), nextInSequence.end(), pg);
        if (sequence != nextInSequence.end())
            while (count < kReadAhead && pg + count < pageCount && !cachedSlots.count(pg + count)) ++count;
        std::array<std::size_t, kReadAhead> slots{};
        std::array<iovec, kReadAhead> pieces{};
        for (std::uint32_t i = 0; i < count; ++i) {
            slots[i] = takeSlot();
            pieces[i] = {cachedPages[slots[i]].data(), pageSize};
        }
        const ssize_t got = ::preadv(fd, pieces.data(), int(count), off_t(pg) * pageSize);
        if (got < ssize_t(pageSize)) damaged(table, "page " + std::to_string(pg) + " cannot be read");
        // Pages past a short read stay unread.
        count = std::min<std::uint32_t>(count, std::uint32_t(std::size_t(got) / pageSize));
        for (std::uint32_t i = 0; i < count; ++i) {
            cachedPageNumbers[slots[i]] = pg + i;
            cachedSlots.emplace(pg + i, slots[i]);
        }
        if (sequence != nextInSequence.end()) *sequence = pg + count;
        else nextInSequence[nextSequence++ % nextInSequence.size()] = pg + count;
        return reinterpret_cast<const unsigned char*>(cachedPages[slots[0]].data());
    }

    // Brings data page `pg` into libmdb's page buffer, where its row functions look.
    void loadDataPage(const std::string& table, std::uint32_t pg) const
    {
        if (loadedPage == long(pg)) return;
        loadedPage = -1;
        std::memcpy(mdb->pg_buf, readPage(table, pg), pageSize);
        loadedPage = long(pg);
    }

    // An index page taken apart, read apart from libmdb's buffers so that a search never disturbs a row being
    // read, and kept while the file is open (a few hundred pages at most are kept).
    std::shared_ptr<const IndexPage> indexPage(const std::string& table, std::uint32_t pg) const
    {
        if (auto it = indexPages.find(pg); it != indexPages.end()) return it->second;
        const unsigned char* p = readPage(table, pg);
        if (p[0] != kPageIndexLeaf && p[0] != kPageIndexNode)
            damaged(table, "index page " + std::to_string(pg) + " has the wrong type");
        auto parsed = std::make_shared<IndexPage>();
        parsed->type = p[0];
        parsed->next = u32(p + kNextLeafOffset);
        try {
            parsed->entries = indexEntries(p, pageSize, jet3);
        } catch (const std::invalid_argument& e) {
            damaged(table, e.what());
        }
        // Full: the leaves go, the few node pages every search starts from stay.
        if (indexPages.size() >= 128) std::erase_if(indexPages, [](const auto& kept) { return kept.second->type == kPageIndexLeaf; });
        if (indexPages.size() >= 128) indexPages.clear();
        indexPages.emplace(pg, parsed);
        return parsed;
    }

    std::string readMemo(const std::string& table, const unsigned char* field, std::size_t size) const
    {
        if (size < kMemoHeader) return {};
        const std::uint32_t header = u32(field);
        const std::uint32_t length = header & 0x3FFFFFFF;
        if (header & 0x80000000) return decodeText(field + kMemoHeader, size - kMemoHeader, jet3);
        if (length > kMaxMemoBytes) damaged(table, "memo length out of range");
        std::int32_t pgRow = static_cast<std::int32_t>(u32(field + 4));
        void* buf = nullptr;
        int offset = 0;
        std::size_t len = 0;
        if (header & 0x40000000) {
            if (std::uint32_t(pgRow) >> 8 >= pageCount || mdb_find_pg_row(mdb, pgRow, &buf, &offset, &len) != 0 ||
                offset + len > pageSize)
                damaged(table, "memo page unreadable");
            return decodeText(static_cast<unsigned char*>(buf) + offset, std::min<std::size_t>(len, length), jet3);
        }
        if ((header & 0xFF000000) != 0) damaged(table, "unknown memo storage");
        std::string bytes;
        bytes.reserve(length);
        // Each page in the chain adds at least one byte, so a chain longer than the memo is a loop.
        for (std::uint32_t hops = 0; pgRow != 0; ++hops) {
            if (hops > length) damaged(table, "memo page chain loops");
            if (std::uint32_t(pgRow) >> 8 >= pageCount || mdb_find_pg_row(mdb, pgRow, &buf, &offset, &len) != 0 ||
                len < 4 || offset + len > pageSize)
                damaged(table, "memo page unreadable");
            const auto* chunk = static_cast<unsigned char*>(buf) + offset;
            if (bytes.size() + (len - 4) > length) damaged(table, "memo longer than its length");
            bytes.append(reinterpret_cast<const char*>(chunk + 4), len - 4);
            pgRow = static_cast<std::int32_t>(u32(chunk));
        }
        return decodeText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), jet3);
    }

    // The slot `row` of the loaded page: its offset with flags, and its size; false when the slot is unusable.
    bool slot(unsigned row, int& start, std::size_t& size) const
    {
        return mdb_find_row(mdb, static_cast<int>(row), &start, &size) == 0 && size != 0;
    }

    // Decodes the row in [start, start + size) of the loaded page into `values`, whose texts keep their buffers.
    void decodeRow(const JetTableInfo& info, MdbTableDef* table, int start, std::size_t size,
                   std::vector<Value>& values) const
    {
        if (start + int(size) > int(pageSize)) damaged(info.name, "row outside its page");
        fields.resize(table->num_cols);
        if (mdb_crack_row(table, start, size, fields.data()) < 0) damaged(info.name, "row unreadable");
        values.resize(info.columns.size());
        for (std::size_t c = 0; c < info.columns.size(); ++c) {
            const JetColumn& column = info.columns[c];
            const MdbField& f = fields[column.index];
            if (column.type == JetType::Boolean) {
                // A Yes/No value lives in the null mask: a set bit is Yes (-1).
                values[c].setInteger(f.is_null ? 0 : -1);
                continue;
            }
            if (f.is_null) {
                values[c].setNull();
                continue;
            }
            if (f.siz < 0 || f.start < start || f.start + f.siz > start + int(size))
                damaged(info.name, "field outside its row");
            const unsigned char* p = page() + f.start;
            const auto need = [&](int bytes) {
                if (f.siz < bytes) damaged(info.name, "field shorter than its type");
            };
            switch (column.type) {
            case JetType::Byte: need(1); values[c].setInteger(p[0]); break;
            case JetType::Integer: need(2); values[c].setInteger(load<std::int16_t>(p)); break;
            case JetType::Long: need(4); values[c].setInteger(load<std::int32_t>(p)); break;
            case JetType::Currency: need(8); values[c].setReal(double(load<std::int64_t>(p)) / 10000.0); break;
            case JetType::Single: need(4); values[c].setReal(load<float>(p)); break;
            case JetType::Double: need(8); values[c].setReal(load<double>(p)); break;
            case JetType::DateTime: need(8); values[c].setDate(load<double>(p)); break;
            case JetType::Text: appendText(p, std::size_t(f.siz), jet3, values[c].setText()); break;
            case JetType::Memo: values[c].setText() = readMemo(info.name, p, std::size_t(f.siz)); break;
            case JetType::Boolean: break;
            }
        }
    }

    // A table definition read through libmdb, after checking that the page is one and that its counts are
    // within Jet's limits (libmdb allocates and loops by them).
    TableDefPtr readTable(MdbCatalogEntry* entry) const
    {
        const std::string name = entry->object_name;
        if (entry->table_pg == 0 || entry->table_pg >= pageCount) damaged(name, "definition outside the file");
        std::string bytes(pageSize, '\0');
        if (::pread(fd, bytes.data(), pageSize, off_t(entry->table_pg) * pageSize) != ssize_t(pageSize))
            damaged(name, "definition unreadable");
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const unsigned columns = u16(p + mdb->fmt->tab_num_cols_offset);
        const std::uint32_t indexes = u32(p + mdb->fmt->tab_num_idxs_offset);
        const std::uint32_t realIndexes = u32(p + mdb->fmt->tab_num_ridxs_offset);
        if (p[0] != 0x02 || columns > 255 || indexes > 64 || realIndexes > 64) damaged(name, "definition malformed");
        loadedPage = -1;
        TableDefPtr table(mdb_read_table(entry));
        if (!table || !mdb_read_columns(table.get()) || table->num_cols != columns) damaged(name, "definition unreadable");
        return table;
    }

    // The data pages of a table, in the order the usage map lists them.
    std::vector<std::uint32_t> pagesOf(const std::string& name, MdbTableDef* table) const
    {
        std::vector<std::uint32_t> list;
        // libmdb leaves the map out when it cannot read it, and would then read through a null pointer.
        if (!table->usage_map || table->map_sz < 1) damaged(name, "page map unreadable");
        mdb_rewind_table(table);
        table->cur_pg_num = 1;
        loadedPage = -1;
        // A damaged map could cycle, but never past the file's page count.
        while (mdb_read_next_dpg(table)) {
            if (list.size() > pageCount) damaged(name, "page map loops");
            list.push_back(table->cur_phys_pg);
        }
        loadedPage = -1;
        return list;
    }

    void rowsOn(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg, std::vector<std::vector<Value>>& rows) const
    {
        if (table->num_cols == 0) return;
        loadDataPage(info.name, pg);
        checkDataPage(info, table, pg);
        const unsigned count = u16(page() + mdb->fmt->row_count_offset);
        for (unsigned row = 0; row < count; ++row) {
            int start = 0;
            std::size_t size = 0;
            if (!slot(row, start, size) || (start & kRowMovedFlag)) continue;
            decodeRow(info, table, start & kRowOffsetMask, size, rows.emplace_back());
        }
    }

    void checkDataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const
    {
        const unsigned char* p = page();
        if (p[0] != kPageData || u32(p + 4) != table->entry->table_pg)
            damaged(info.name, "page " + std::to_string(pg) + " is not one of its data pages");
        if (u16(p + mdb->fmt->row_count_offset) > pageSize / 2) damaged(info.name, "row count out of range");
    }
};


JetFile::JetFile(const std::string& path, const std::string& password) : m_impl(std::make_unique<Impl>())
{
    Impl& impl = *m_impl;
    impl.path = path;
    // Check the header ourselves before libmdb sees the file: only Jet files with the right password reach it.
    impl.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (impl.fd < 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path + ": " + std::strerror(errno));
    std::string page0(4096, '\0');
    const ssize_t got = ::pread(impl.fd, page0.data(), page0.size(), 0);
    if (got < 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": " + std::strerror(errno));
    page0.resize(static_cast<std::size_t>(got));
    const JetHeader header = JetHeader::parse(page0, path);
    if (header.pageEncryptionKey != 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read encrypted database " + path);
    if (!header.password.empty() && header.password != password)
        throw RuntimeError(RuntimeError::DatabaseError, "not a valid password for database " + path);
    impl.jet3 = header.version == JetHeader::Version::Jet3;
    impl.pageSize = header.pageSize;
    struct stat st {};
    if (::fstat(impl.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::DatabaseError, "not a database file: " + path);
    impl.pageCount = static_cast<std::uint32_t>(std::min<off_t>(st.st_size / impl.pageSize, 0xFFFFFF));

    impl.mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!impl.mdb) throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path);

    // The catalog: the rows of MSysObjects, read here rather than by libmdb, which also decodes every object's
    // properties and can spend minutes on a damaged file doing it. Only names, types, pages and flags are needed.
    struct CatalogRow {
        std::string name;
        std::uint32_t page;
    };
    std::vector<CatalogRow> catalog;
    {
        auto msys = std::make_unique<MdbCatalogEntry>();
        std::memset(msys.get(), 0, sizeof(MdbCatalogEntry));
        msys->mdb = impl.mdb;
        msys->object_type = MDB_TABLE;
        msys->table_pg = 2;
        std::snprintf(msys->object_name, sizeof msys->object_name, "%s", "MSysObjects");
        TableDefPtr table = impl.readTable(msys.get());
        JetTableInfo info;
        info.name = "MSysObjects";
        for (unsigned c = 0; c < table->num_cols; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
            const std::string name = col->name;
            if ((name == "Id" || name == "Flags") && col->col_type == MDB_LONGINT)
                info.columns.push_back({name, JetType::Long, int(c)});
            else if (name == "Type" && col->col_type == MDB_INT)
                info.columns.push_back({name, JetType::Integer, int(c)});
            else if (name == "Name" && col->col_type == MDB_TEXT)
                info.columns.push_back({name, JetType::Text, int(c)});
        }
        if (info.columns.size() != 4) impl.damaged("MSysObjects", "catalog columns missing");
        const auto find = [&](const char* name) {
            for (std::size_t i = 0; i < info.columns.size(); ++i)
                if (info.columns[i].name == name) return i;
            return std::size_t(0);
        };
        const std::size_t id = find("Id"), name = find("Name"), type = find("Type"), flags = find("Flags");
        std::vector<std::vector<Value>> rows;
        for (std::uint32_t pg : impl.pagesOf(info.name, table.get())) {
            rows.clear();
            impl.rowsOn(info, table.get(), pg, rows);
            for (const auto& row : rows) {
                if (row[type].isNull() || row[id].isNull() || row[name].isNull() || (row[type].asInteger() & 0x7F) != MDB_TABLE)
                    continue;
                // System tables carry these flags.
                if (!row[flags].isNull() && (row[flags].asInteger() & 0x80000002)) continue;
                catalog.push_back({row[name].asText(), std::uint32_t(row[id].asInteger()) & 0x00FFFFFF});
            }
        }
        table.reset();
        impl.loadedPage = -1;
    }

    for (const CatalogRow& row : catalog) {
        auto entry = std::make_unique<MdbCatalogEntry>();
        std::memset(entry.get(), 0, sizeof(MdbCatalogEntry));
        entry->mdb = impl.mdb;
        entry->object_type = MDB_TABLE;
        entry->table_pg = row.page;
        std::snprintf(entry->object_name, sizeof entry->object_name, "%s", row.name.c_str());
        TableDefPtr table = impl.readTable(entry.get());
        impl.entries.push_back(std::move(entry));
        const MdbCatalogEntry* entryPtr = impl.entries.back().get();
        JetTableInfo info;
        info.name = entryPtr->object_name;
        info.rowCountEstimate = table->num_rows;
        std::vector<MdbIndex*> seekable;
        for (unsigned c = 0; c < table->num_cols; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
            JetType type;
            if (keptType(col->col_type, type)) {
                info.columns.push_back({col->name, type, static_cast<int>(c)});
                seekable.push_back(nullptr);
            }
        }
        // libmdb fills the table's index list; its return value says nothing useful.
        mdb_read_indices(table.get());
        for (unsigned x = 0; table->indices && x < table->num_idxs; ++x) {
            auto* idx = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, x));
            if (idx->num_keys < 1) continue;
            for (std::size_t c = 0; c < info.columns.size(); ++c) {
                if (info.columns[c].index + 1 != idx->key_col_num[0]) continue;
                info.indexedColumns.push_back(int(c));
                // Jet 3 index pages are laid out differently; its small files are scanned.
                if (!impl.jet3 && idx->num_keys == 1 && idx->key_col_order[0] == MDB_ASC && info.columns[c].type == JetType::Long &&
                    idx->first_pg > 0 && idx->first_pg < impl.pageCount && !seekable[c]) {
                    seekable[c] = idx;
                    info.seekableColumns.push_back(int(c));
                    if (idx->flags & MDB_IDX_UNIQUE) info.uniqueColumns.push_back(int(c));
                }
            }
        }
        m_tables.push_back(std::move(info));
        impl.defs.push_back(std::move(table));
        impl.seekIndex.push_back(std::move(seekable));
    }
    impl.pages.resize(m_tables.size());
}

JetFile::~JetFile() = default;

const std::vector<std::uint32_t>& JetFile::dataPages(std::size_t t) const
{
    Impl& impl = *m_impl;
    if (!impl.pages[t]) impl.pages[t] = impl.pagesOf(m_tables[t].name, impl.defs[t].get());
    return *impl.pages[t];
}

void JetFile::rowsOnPage(std::size_t t, std::uint32_t pg, std::vector<std::vector<Value>>& rows) const
{
    m_impl->rowsOn(m_tables[t], m_impl->defs[t].get(), pg, rows);
}

const std::vector<Value>* JetFile::rowAt(std::size_t t, RowPointer pointer, RowBuffer& buffer) const
{
    const Impl& impl = *m_impl;
    const JetTableInfo& info = m_tables[t];
    MdbTableDef* table = impl.defs[t].get();
    const bool keep = info.rowCountEstimate <= Impl::kKeptRowsTableLimit;
    const std::uint64_t key = std::uint64_t(t) << 40 | std::uint64_t(pointer.page) << 8 | pointer.row;
    if (keep) {
        if (auto it = impl.keptRows.find(key); it != impl.keptRows.end()) {
            buffer.kept = it->second;
            return buffer.kept.get();
        }
    }
    for (int hop = 0; hop < 2; ++hop) {
        impl.loadDataPage(info.name, pointer.page);
        impl.checkDataPage(info, table, pointer.page);
        int start = 0;
        std::size_t size = 0;
        if (pointer.row >= u16(impl.page() + impl.mdb->fmt->row_count_offset) || !impl.slot(pointer.row, start, size))
            impl.damaged(info.name, "index points at a missing row");
        if ((start & kRowDeletedFlags) == kRowDeletedFlags) return nullptr;
        if (!(start & kRowMovedFlag)) {
            if (!keep) {
                impl.decodeRow(info, table, start & kRowOffsetMask, size, buffer.own);
                return &buffer.own;
            }
            auto row = std::make_shared<std::vector<Value>>();
            impl.decodeRow(info, table, start & kRowOffsetMask, size, *row);
            if (impl.keptRows.size() >= Impl::kKeptRows) impl.keptRows.clear();
            impl.keptRows.emplace(key, row);
            buffer.kept = std::move(row);
            return buffer.kept.get();
        }
        // A row that grew: its new place is in the stub's first four bytes (slot, then page).
        const unsigned char* stub = impl.page() + (start & kRowOffsetMask);
        if (size < 4) impl.damaged(info.name, "moved row without its new place");
        pointer = {std::uint32_t(stub[1]) | std::uint32_t(stub[2]) << 8 | std::uint32_t(stub[3]) << 16, stub[0]};
    }
    impl.damaged(info.name, "moved row points at another moved row");
}

std::optional<std::vector<RowPointer>> JetFile::seek(std::size_t t, int column, std::int64_t key) const
{
    const Impl& impl = *m_impl;
    const JetTableInfo& info = m_tables[t];
    MdbIndex* idx = impl.seekIndex[t][std::size_t(column)];
    if (!idx) return std::nullopt;
    std::vector<RowPointer> found;
    if (key < INT32_MIN || key > INT32_MAX) return found;
    const std::array<unsigned char, 5> bytes = longKey(key);
    const std::uint64_t target = packedKey(bytes.data(), bytes.size());

    // Down the nodes: each entry holds the last key of its child, so the first entry not below the key leads to
    // the leaf where its rows start. Past a node's last entry, the key can only be on the leaves that follow the
    // last child, which the chain of leaves reaches even when no node lists them yet.
    std::uint32_t pg = idx->first_pg;
    std::size_t visited = 0;
    for (;;) {
        if (++visited > impl.pageCount) impl.damaged(info.name, "index pages loop");
        const auto page = impl.indexPage(info.name, pg);
        if (page->type == kPageIndexLeaf) break;
        if (page->entries.empty()) return found;
        const auto it = std::find_if(page->entries.begin(), page->entries.end(),
                                     [&](const IndexEntry& e) { return e.key >= target; });
        pg = (it == page->entries.end() ? page->entries.back() : *it).child;
    }
    // Along the leaves, in key order, until a key above the one sought.
    for (;;) {
        const auto page = impl.indexPage(info.name, pg);
        if (page->type != kPageIndexLeaf) impl.damaged(info.name, "index page " + std::to_string(pg) + " has the wrong type");
        // Entries are in key order: start at the first that is not below the key.
        auto it = std::lower_bound(page->entries.begin(), page->entries.end(), target,
                                   [](const IndexEntry& e, std::uint64_t k) { return e.key < k; });
        for (; it != page->entries.end(); ++it) {
            if (it->key > target) return found;
            found.push_back({it->row >> 8, std::uint8_t(it->row)});
        }
        if (page->next == 0) return found;
        if (++visited > impl.pageCount) impl.damaged(info.name, "index pages loop");
        pg = page->next;
    }
}
