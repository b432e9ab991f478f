#include "source/JetFile.h"

#include "runtime/RuntimeError.h"
#include "source/FileDescriptor.h"
#include "source/IndexReader.h"
#include "source/JetCatalog.h"
#include "source/JetHeader.h"
#include "source/LibmdbHandle.h"
#include "source/PageCache.h"
#include "source/RowReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

// The parts of an open file, declared in the order they are built: each part uses those above it, and they are
// taken down in reverse (the table definitions before libmdb's handle, the handle before our descriptor).
struct JetFile::Impl {
    Impl(FileDescriptor file, const std::string& path, const JetHeader& header, std::uint32_t pageCount)
        : pages(std::move(file), path, header.pageSize, pageCount),
          mdb(path),
          rows(mdb, pages, header.version == JetHeader::Version::Jet3),
          catalog(mdb, pages, rows, header.version == JetHeader::Version::Jet3),
          index(pages, header.version == JetHeader::Version::Jet3) {}

    PageCache pages;
    LibmdbHandle mdb;
    RowReader rows;
    JetCatalog catalog;
    IndexReader index;
};

JetFile::JetFile(const std::string& path, const std::string& password) {
    // Check the header ourselves before libmdb sees the file: only Jet files with the right password reach it.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path + ": " + std::strerror(errno));
    std::string page0(4096, '\0');
    const ssize_t got = ::pread(file.get(), page0.data(), page0.size(), 0);
    if (got < 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": " + std::strerror(errno));
    page0.resize(static_cast<std::size_t>(got));
    const JetHeader header = JetHeader::parse(page0, path);
    if (header.pageEncryptionKey != 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read encrypted database " + path);
    if (!header.password.empty() && header.password != password)
        throw RuntimeError(RuntimeError::DatabaseError, "not a valid password for database " + path);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::DatabaseError, "not a database file: " + path);
    const auto pageCount = static_cast<std::uint32_t>(std::min<off_t>(st.st_size / header.pageSize, 0xFFFFFF));
    m_impl = std::make_unique<Impl>(std::move(file), path, header, pageCount);
}

JetFile::~JetFile() = default;

const std::vector<JetTableInfo>& JetFile::tables() const noexcept { return m_impl->catalog.tables(); }

const std::vector<std::uint32_t>& JetFile::dataPages(std::size_t t) const { return m_impl->catalog.dataPages(t); }

void JetFile::rowsOnPage(std::size_t t, std::uint32_t pg, std::vector<std::vector<Value>>& rows,
                         std::vector<std::uint8_t>* slots, std::uint64_t columns) const {
    Impl& impl = *m_impl;
    impl.rows.rowsOnPage(impl.catalog.tables()[t], impl.catalog.definition(t), pg, rows, slots, columns);
}

bool JetFile::rowAt(std::size_t t, RowPointer pointer, std::vector<Value>& row, std::uint64_t columns) const {
    Impl& impl = *m_impl;
    return impl.rows.rowAt(impl.catalog.tables()[t], impl.catalog.definition(t), pointer, row, columns);
}

std::optional<std::vector<RowPointer>> JetFile::seek(std::size_t t, int column, std::int64_t key) const {
    Impl& impl = *m_impl;
    const MdbIndex* idx = impl.catalog.seekIndex(t, column);
    if (!idx) return std::nullopt;
    // A key no Long can hold is in no row.
    std::vector<RowPointer> found;
    if (key < INT32_MIN || key > INT32_MAX) return found;
    impl.index.find(impl.catalog.tables()[t].name, std::uint32_t(idx->first_pg), std::int32_t(key), found);
    return found;
}
