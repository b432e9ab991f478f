#include "jetfile/JetFile.h"

#include "jetfile/IndexReader.h"
#include "jetfile/JetCatalog.h"
#include "jetfile/JetDamage.h"
#include "jetfile/JetHeader.h"
#include "jetfile/PageCache.h"
#include "jetfile/PageSource.h"
#include "jetfile/RowReader.h"
#include "platform/Clock.h"
#include "runtime/RuntimeError.h"

#include <algorithm>
#include <cstdint>

namespace {

// Whether a file stamped `stamp` was modified so shortly before, or after, the clock's time now that a write after
// it may not show in its stamp: the kernel stamps a write when it begins, with a clock that moves in ticks of a few
// milliseconds, so writes within one tick give one stamp, and a long write (a copy over the file, which first
// empties it) goes on under the stamp it began with.
bool justWritten(const FileStamp& stamp, const Clock& clock) {
    const std::int64_t window = std::chrono::nanoseconds(kFileSettles).count();
    const std::int64_t age = clock.now() - stamp.modified;
    return age > -window && age < window;
}

}  // namespace

// The parts of an open file, declared in the order they are built: each part uses those above it.
struct JetFile::Impl {
    Impl(PageSource& source, const JetHeader& header, std::uint32_t pageCount, const FileStamp& stamp,
         bool settledWhenOpened)
        : opened(stamp),
          settled(settledWhenOpened),
          pages(source, header.pageSize, pageCount),
          rows(pages, header.version == JetHeader::Version::Jet3),
          catalog(pages, rows, header.version == JetHeader::Version::Jet3),
          index(pages, header.version == JetHeader::Version::Jet3) {}

    FileStamp opened;
    bool settled;  // not written just before it was opened
    PageCache pages;
    RowReader rows;
    JetCatalog catalog;
    IndexReader index;
};

JetFile::JetFile(std::unique_ptr<PageSource> from, const std::string& password, const Clock& clock)
    : m_source(std::move(from)) {
    PageSource* const source = m_source.get();
    const FileStamp stamp = source->stamp();
    const bool settled = !justWritten(stamp, clock);
    try {
        std::string page0(4096, '\0');
        unsigned char* bytes = reinterpret_cast<unsigned char*>(page0.data());
        const std::span<unsigned char> whole(bytes, page0.size());
        page0.resize(source->read(0, std::span(&whole, 1)));
        const JetHeader header = JetHeader::parse(page0, source->name());
        if (header.pageEncryptionKey != 0)
            throw RuntimeError(RuntimeError::DatabaseError,
                               "La base de datos " + source->name() + " está cifrada: el programa no puede leerla");
        if (!header.password.empty() && header.password != password)
            throw RuntimeError(RuntimeError::DatabaseError,
                               "La contraseña no es válida para la base de datos " + source->name());
        const auto pageCount =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(stamp.size / header.pageSize, 0xFFFFFF));
        m_impl = std::make_unique<Impl>(*source, header, pageCount, stamp, settled);
    } catch (const RuntimeError& e) {
        // What looks damaged in a file being written is the writer's work in progress.
        if (e.Number() != RuntimeError::DatabaseError) throw;
        bool changed = !settled;
        try {
            changed = changed || !source->stillNamed() || !(source->stamp() == stamp);
        } catch (const RuntimeError&) {
            changed = true;
        }
        if (changed) throw fileChanged(source->name());
        throw;
    }
}

bool JetFile::changed() const {
    if (!m_impl->settled) return true;
    try {
        return !(m_source->stamp() == m_impl->opened);
    } catch (const RuntimeError&) {
        return true;
    }
}

bool JetFile::current() const { return !changed() && m_source->stillNamed(); }

JetFile::~JetFile() = default;

const std::string& JetFile::name() const noexcept { return m_source->name(); }

const std::vector<std::string>& JetFile::tableNames() const noexcept { return m_impl->catalog.names(); }

const JetTableInfo& JetFile::table(std::size_t t) const { return m_impl->catalog.table(t); }

void JetFile::scan(std::size_t t, std::span<const int> columns, Value* const* into,
                   const std::function<bool(RowPointer)>& each) const {
    Impl& impl = *m_impl;
    const JetTableInfo& info = impl.catalog.table(t);
    impl.catalog.dataPages(t).forEach([&](std::uint32_t page) {
        return !JetCatalog::isDataPage(impl.pages.page(info.name, page), info) ||
               impl.rows.rowsOnPage(info, page, columns, into, each);
    });
}

bool JetFile::rowBytes(std::size_t t, RowPointer pointer, std::string& into) const {
    Impl& impl = *m_impl;
    const std::string_view bytes = impl.rows.rowBytes(impl.catalog.table(t), pointer);
    if (bytes.empty()) return false;
    into.append(bytes);
    return true;
}

void JetFile::decodeRowBytes(std::size_t t, std::string_view row, std::span<const int> columns,
                             Value* const* into) const {
    Impl& impl = *m_impl;
    impl.rows.decodeBytes(impl.catalog.table(t), row, columns, into);
}

void JetFile::scanBytes(std::size_t t, const std::function<bool(RowPointer, std::string_view)>& each) const {
    Impl& impl = *m_impl;
    const JetTableInfo& info = impl.catalog.table(t);
    impl.catalog.dataPages(t).forEach([&](std::uint32_t page) {
        return !JetCatalog::isDataPage(impl.pages.page(info.name, page), info) ||
               impl.rows.rowBytesOnPage(info, page, each);
    });
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

bool JetFile::indexEntries(std::size_t t, int column, const std::function<void(std::int32_t, RowPointer)>& each) const {
    Impl& impl = *m_impl;
    const JetTableInfo& info = impl.catalog.table(t);
    const auto seekable = std::find(info.seekableColumns.begin(), info.seekableColumns.end(), column);
    if (seekable == info.seekableColumns.end()) return false;
    impl.index.forEachLongEntry(info.name, info.definitionPage,
                                info.seekPages[std::size_t(seekable - info.seekableColumns.begin())], each);
    return true;
}

bool JetFile::inIndexOrder(std::size_t t, int column, std::vector<RowPointer>& found) const {
    Impl& impl = *m_impl;
    const JetTableInfo& info = impl.catalog.table(t);
    found.clear();
    const auto indexed = std::find(info.textIndexColumns.begin(), info.textIndexColumns.end(), column);
    if (indexed == info.textIndexColumns.end()) return false;
    impl.index.inOrder(info.name, info.definitionPage,
                       info.textIndexPages[std::size_t(indexed - info.textIndexColumns.begin())], found);
    // The index points where each row was first stored, which is where a scan meets it; deleted rows are left out.
    std::size_t kept = 0;
    for (const RowPointer row : found)
        if (RowPointer at = row; impl.rows.place(info, at)) found[kept++] = row;
    found.resize(kept);
    return true;
}
