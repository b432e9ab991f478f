#include "source/JetFile.h"

#include "platform/RuntimeError.h"
#include "source/JetHeader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <mdbtools.h>
#include <unistd.h>

namespace {

constexpr int kRowOffsetMask = 0x1FFF;
constexpr int kRowDeletedFlag = 0x4000;  // a deleted row, or the stub left where a grown row moved from
constexpr std::size_t kMemoHeader = 12;
// A memo longer than this is taken for damage: Jet memos hold at most 1 GB, real ones far less.
constexpr std::uint32_t kMaxMemoBytes = 64u << 20;

std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

template <typename T>
T load(const unsigned char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void appendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16LE units to UTF-8; a lone surrogate becomes U+FFFD.
void appendUtf16(std::string& out, const unsigned char* p, std::size_t units)
{
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t cp = u16(p + 2 * i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = u16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
}

// Windows-1252 bytes 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// Text as a Jet file stores it. Jet 4 keeps UTF-16LE, or, after the marker FF FE, runs of one byte per character
// (Latin-1) switched to and from UTF-16 by a zero byte. Jet 3 keeps the code page's bytes.
std::string decodeText(const unsigned char* p, std::size_t size, bool jet3)
{
    std::string out;
    out.reserve(size);
    if (jet3) {
        for (std::size_t i = 0; i < size; ++i)
            appendUtf8(out, p[i] >= 0x80 && p[i] < 0xA0 ? kCp1252High[p[i] - 0x80] : p[i]);
        return out;
    }
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bool compressed = true;
        std::size_t i = 2;
        while (i < size) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                appendUtf8(out, p[i]);
                ++i;
            } else {
                if (i + 1 >= size) break;
                appendUtf16(out, p + i, 1);
                i += 2;
            }
        }
        return out;
    }
    appendUtf16(out, p, size / 2);
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

}  // namespace

struct JetFile::Impl {
    std::string path;
    MdbHandle* mdb = nullptr;
    bool jet3 = false;
    std::vector<MdbCatalogEntry*> entries;  // parallel to JetFile::m_tables

    ~Impl()
    {
        if (mdb) mdb_close(mdb);
    }

    [[noreturn]] void damaged(const std::string& table, const std::string& what) const
    {
        throw RuntimeError(RuntimeError::DatabaseError,
                           "cannot read table " + table + " of " + path + ": " + what + " (the file is damaged)");
    }

    std::string readMemo(const std::string& table, const unsigned char* field, std::size_t size)
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
            if (mdb_find_pg_row(mdb, pgRow, &buf, &offset, &len) != 0 || offset + len > std::size_t(mdb->fmt->pg_size))
                damaged(table, "memo page unreadable");
            return decodeText(static_cast<unsigned char*>(buf) + offset, std::min<std::size_t>(len, length), jet3);
        }
        if ((header & 0xFF000000) != 0) damaged(table, "unknown memo storage");
        std::string bytes;
        bytes.reserve(length);
        // Each page in the chain adds at least one byte, so a chain longer than the memo is a loop.
        for (std::uint32_t hops = 0; pgRow != 0; ++hops) {
            if (hops > length) damaged(table, "memo page chain loops");
            if (mdb_find_pg_row(mdb, pgRow, &buf, &offset, &len) != 0 || len < 4 || offset + len > std::size_t(mdb->fmt->pg_size))
                damaged(table, "memo page unreadable");
            const auto* chunk = static_cast<unsigned char*>(buf) + offset;
            if (bytes.size() + (len - 4) > length) damaged(table, "memo longer than its length");
            bytes.append(reinterpret_cast<const char*>(chunk + 4), len - 4);
            pgRow = static_cast<std::int32_t>(u32(chunk));
        }
        return decodeText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), jet3);
    }
};

JetFile::JetFile(const std::string& path, const std::string& password) : m_impl(std::make_unique<Impl>())
{
    m_impl->path = path;
    {
        // Check the header ourselves before libmdb sees the file: only Jet files with the right password reach it.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path + ": " + std::strerror(errno));
        std::string page(4096, '\0');
        const ssize_t got = ::pread(fd, page.data(), page.size(), 0);
        ::close(fd);
        if (got < 0)
            throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": " + std::strerror(errno));
        page.resize(static_cast<std::size_t>(got));
        const JetHeader header = JetHeader::parse(page, path);
        if (header.pageEncryptionKey != 0)
            throw RuntimeError(RuntimeError::DatabaseError, "cannot read encrypted database " + path);
        if (!header.password.empty() && header.password != password)
            throw RuntimeError(RuntimeError::DatabaseError, "not a valid password for database " + path);
        m_impl->jet3 = header.version == JetHeader::Version::Jet3;
    }

    m_impl->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!m_impl->mdb) throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path);
    if (!mdb_read_catalog(m_impl->mdb, MDB_TABLE))
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read the catalog of " + path);

    MdbHandle* mdb = m_impl->mdb;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry)) continue;
        TableDefPtr table(mdb_read_table(entry));
        if (!table) throw RuntimeError(RuntimeError::DatabaseError, std::string("cannot read table ") + entry->object_name + " of " + path);
        if (!mdb_read_columns(table.get()))
            throw RuntimeError(RuntimeError::DatabaseError, std::string("cannot read the columns of ") + entry->object_name + " in " + path);
        JetTableInfo info;
        info.name = entry->object_name;
        for (unsigned c = 0; c < table->num_cols; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
            JetType type;
            if (keptType(col->col_type, type)) info.columns.push_back({col->name, type, static_cast<int>(c)});
        }
        // libmdb fills the table's index list; its return value says nothing useful.
        mdb_read_indices(table.get());
        if (table->indices) {
            for (unsigned x = 0; x < table->num_idxs; ++x) {
                auto* idx = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, x));
                if (idx->num_keys < 1 || idx->key_col_num[0] < 1 || idx->key_col_num[0] > int(table->num_cols)) continue;
                auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, idx->key_col_num[0] - 1));
                info.indexedColumns.push_back(col->name);
            }
        }
        m_tables.push_back(std::move(info));
        m_impl->entries.push_back(entry);
    }
}

JetFile::~JetFile() = default;
JetFile::JetFile(JetFile&&) noexcept = default;
JetFile& JetFile::operator=(JetFile&&) noexcept = default;

void JetFile::scan(const JetTableInfo& info, const std::function<void(const std::vector<Value>&)>& emit) const
{
    std::size_t which = 0;
    while (which < m_tables.size() && &m_tables[which] != &info) ++which;
    if (which == m_tables.size()) throw RuntimeError(RuntimeError::DatabaseError, "unknown table " + info.name);

    MdbHandle* mdb = m_impl->mdb;
    TableDefPtr table(mdb_read_table(m_impl->entries[which]));
    if (!table || !mdb_read_columns(table.get()))
        m_impl->damaged(info.name, "table definition unreadable");
    if (table->num_cols == 0) return;
    for (const JetColumn& column : info.columns)
        if (column.index >= int(table->num_cols)) m_impl->damaged(info.name, "table definition changed");

    std::vector<MdbField> fields(table->num_cols);
    std::vector<Value> values(info.columns.size());
    const int pageSize = static_cast<int>(mdb->fmt->pg_size);
    const int rowCountOffset = mdb->fmt->row_count_offset;

    mdb_rewind_table(table.get());
    table->cur_pg_num = 1;
    if (!mdb_read_next_dpg(table.get())) return;
    unsigned row = 0;
    // Guards against a usage map that keeps returning pages: no table has more pages than the file.
    for (;;) {
        const unsigned rows = u16(reinterpret_cast<unsigned char*>(mdb->pg_buf) + rowCountOffset);
        if (rows > unsigned(pageSize / 2)) m_impl->damaged(info.name, "row count out of range");
        if (row >= rows) {
            row = 0;
            if (!mdb_read_next_dpg(table.get())) break;
            continue;
        }
        int start = 0;
        std::size_t size = 0;
        const int found = mdb_find_row(mdb, static_cast<int>(row), &start, &size);
        ++row;
        if (found != 0 || size == 0 || (start & kRowDeletedFlag)) continue;
        start &= kRowOffsetMask;
        if (start + int(size) > pageSize) m_impl->damaged(info.name, "row outside its page");
        if (mdb_crack_row(table.get(), start, size, fields.data()) < 0) m_impl->damaged(info.name, "row unreadable");

        const auto* page = reinterpret_cast<const unsigned char*>(mdb->pg_buf);
        for (std::size_t c = 0; c < info.columns.size(); ++c) {
            const JetColumn& column = info.columns[c];
            const MdbField& f = fields[column.index];
            if (column.type == JetType::Boolean) {
                // A Yes/No value lives in the null mask: a set bit is Yes (-1).
                values[c] = Value::integer(f.is_null ? 0 : -1);
                continue;
            }
            if (f.is_null) {
                values[c] = Value::null();
                continue;
            }
            if (f.siz < 0 || f.start < start || f.start + f.siz > start + int(size))
                m_impl->damaged(info.name, "field outside its row");
            const unsigned char* p = page + f.start;
            const auto need = [&](int bytes) {
                if (f.siz < bytes) m_impl->damaged(info.name, "field shorter than its type");
            };
            switch (column.type) {
            case JetType::Byte: need(1); values[c] = Value::integer(p[0]); break;
            case JetType::Integer: need(2); values[c] = Value::integer(load<std::int16_t>(p)); break;
            case JetType::Long: need(4); values[c] = Value::integer(load<std::int32_t>(p)); break;
            case JetType::Currency: need(8); values[c] = Value::real(double(load<std::int64_t>(p)) / 10000.0); break;
            case JetType::Single: need(4); values[c] = Value::real(load<float>(p)); break;
            case JetType::Double: need(8); values[c] = Value::real(load<double>(p)); break;
            case JetType::DateTime: need(8); values[c] = Value::date(load<double>(p)); break;
            case JetType::Text: values[c] = Value::text(decodeText(p, std::size_t(f.siz), m_impl->jet3)); break;
            case JetType::Memo: values[c] = Value::text(m_impl->readMemo(info.name, p, std::size_t(f.siz))); break;
            case JetType::Boolean: break;
            }
        }
        emit(values);
    }
}
