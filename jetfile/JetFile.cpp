#include "jetfile/JetFile.h"

#include "jetfile/FileDescriptor.h"
#include "jetfile/IndexReader.h"
#include "jetfile/JetCatalog.h"
#include "jetfile/JetDamage.h"
#include "jetfile/JetHeader.h"
#include "jetfile/PageCache.h"
#include "jetfile/RowReader.h"
#include "runtime/RuntimeError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::int64_t kSettledNanoseconds = std::int64_t(kFileSettlesMilliseconds) * 1'000'000;

// The file's state that changes when it is written: its size, its modification and change times.
struct FileState {
    off_t size;
    timespec modified;
    timespec changed;
    bool operator==(const FileState& other) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return size == other.size && same(modified, other.modified) && same(changed, other.changed);
    }
};

FileState stateOf(const struct stat& st) { return {st.st_size, st.st_mtim, st.st_ctim}; }

// Whether the file was modified so shortly before `st` was taken that a write after it may not show in its state:
// the kernel stamps a write when it begins, with a clock that moves in ticks of a few milliseconds, so writes
// within one tick give one state, and a long write (a copy over the file, which first empties it) goes on under
// the stamp it began with. A time ahead of the clock (a file server's) is taken as it is.
bool justWritten(const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto ns = [](const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    const std::int64_t age = ns(now) - ns(st.st_mtim);
    return age > -kSettledNanoseconds && age < kSettledNanoseconds;
}

}  // namespace

// The parts of an open file, declared in the order they are built: each part uses those above it.
struct JetFile::Impl {
    Impl(FileDescriptor file, const std::string& path, const JetHeader& header, std::uint32_t pageCount,
         const struct stat& st)
        : opened(stateOf(st)),
          settled(!justWritten(st)),
          device(st.st_dev),
          inode(st.st_ino),
          descriptor(file.get()),
          pages(std::move(file), path, header.pageSize, pageCount),
          rows(pages, header.version == JetHeader::Version::Jet3),
          catalog(pages, rows, header.version == JetHeader::Version::Jet3),
          index(pages, header.version == JetHeader::Version::Jet3) {}

    FileState opened;
    bool settled;  // not written just before it was opened
    dev_t device;
    ino_t inode;
    int descriptor;
    PageCache pages;
    RowReader rows;
    JetCatalog catalog;
    IndexReader index;
};

JetFile::JetFile(const std::string& path, const std::string& password) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::DatabaseError, "not a database file: " + path);
    try {
        std::string page0(4096, '\0');
        const ssize_t got = ::pread(file.get(), page0.data(), page0.size(), 0);
        if (got < 0)
            throw RuntimeError(RuntimeError::DatabaseError,
                               "cannot read database " + path + ": " + std::strerror(errno));
        page0.resize(static_cast<std::size_t>(got));
        const JetHeader header = JetHeader::parse(page0, path);
        if (header.pageEncryptionKey != 0)
            throw RuntimeError(RuntimeError::DatabaseError, "cannot read encrypted database " + path);
        if (!header.password.empty() && header.password != password)
            throw RuntimeError(RuntimeError::DatabaseError, "not a valid password for database " + path);
        const auto pageCount = static_cast<std::uint32_t>(std::min<off_t>(st.st_size / header.pageSize, 0xFFFFFF));
        m_impl = std::make_unique<Impl>(std::move(file), path, header, pageCount, st);
    } catch (const RuntimeError& e) {
        // What looks damaged in a file being written is the writer's work in progress. The descriptor may have
        // gone with the parts made: the file is the one under its name, unless that is another by now.
        struct stat now {};
        if (e.Number() == RuntimeError::DatabaseError &&
            (justWritten(st) || ::stat(path.c_str(), &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev ||
             !(stateOf(now) == stateOf(st))))
            throw fileChanged(path);
        throw;
    }
}

bool JetFile::changed() const {
    if (!m_impl->settled) return true;
    struct stat st {};
    if (::fstat(m_impl->descriptor, &st) != 0) return true;
    return !(stateOf(st) == m_impl->opened);
}

bool JetFile::current() const {
    struct stat st {};
    if (changed() || ::stat(m_impl->pages.path().c_str(), &st) != 0) return false;
    return st.st_dev == m_impl->device && st.st_ino == m_impl->inode;
}

JetFile::~JetFile() = default;

const std::vector<std::string>& JetFile::tableNames() const noexcept { return m_impl->catalog.names(); }

const JetTableInfo& JetFile::table(std::size_t t) const { return m_impl->catalog.table(t); }

void JetFile::scan(std::size_t t, std::span<const int> columns, Value* const* into,
                   const std::function<bool(RowPointer)>& each) const {
    Impl& impl = *m_impl;
    const JetTableInfo& info = impl.catalog.table(t);
    for (const std::uint32_t page : impl.catalog.dataPages(t))
        if (!impl.rows.rowsOnPage(info, page, columns, into, each)) return;
}

bool JetFile::rowAt(std::size_t t, RowPointer pointer, std::span<const int> columns, Value* const* into) const {
    Impl& impl = *m_impl;
    return impl.rows.rowAt(impl.catalog.table(t), pointer, columns, into);
}

bool JetFile::seek(std::size_t t, int column, std::int64_t key, std::vector<RowPointer>& found) const {
    Impl& impl = *m_impl;
    const JetTableInfo& info = impl.catalog.table(t);
    const auto seekable = std::find(info.seekableColumns.begin(), info.seekableColumns.end(), column);
    if (seekable == info.seekableColumns.end()) return false;
    found.clear();
    // A key no Long can hold is in no row.
    if (key < INT32_MIN || key > INT32_MAX) return true;
    impl.index.find(info.name, info.seekPages[std::size_t(seekable - info.seekableColumns.begin())], std::int32_t(key),
                    found);
    return true;
}
