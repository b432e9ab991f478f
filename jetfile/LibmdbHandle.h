#pragma once

// GLib first: libmdb includes it inside extern "C", where its C++ parts cannot go.
#include <glib.h>
#include <mdbtools.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

// libmdb's handle on a Jet file, opened read-only and closed with its owner. Only the file reader's .cpp files
// include this header: libmdb's is C with GLib types.
//
// libmdb's row functions read the page in the handle's page buffer. The handle remembers which data page it put
// there, so that the rows of one page are read without copying the page again; whatever lets libmdb read pages of
// its own (table definitions, page maps, memo pages) must forget it.
class LibmdbHandle {
public:
    // Opens `path` read-only. Raises RuntimeError when libmdb cannot.
    explicit LibmdbHandle(const std::string& path);
    ~LibmdbHandle() noexcept;
    LibmdbHandle(LibmdbHandle&& other) noexcept
        : m_mdb(std::exchange(other.m_mdb, nullptr)), m_loadedPage(std::exchange(other.m_loadedPage, -1)) {}
    LibmdbHandle& operator=(LibmdbHandle&& other) noexcept;
    LibmdbHandle(const LibmdbHandle&) = delete;
    LibmdbHandle& operator=(const LibmdbHandle&) = delete;

    MdbHandle* get() const noexcept { return m_mdb; }
    const MdbFormatConstants& format() const noexcept { return *m_mdb->fmt; }

    // The page buffer, where libmdb's row functions look.
    const unsigned char* page() const noexcept { return m_mdb->pg_buf; }
    bool holds(std::uint32_t pg) const noexcept { return m_loadedPage == long(pg); }
    // Copies data page `pg` (`size` bytes at `bytes`) into the page buffer.
    void load(std::uint32_t pg, const unsigned char* bytes, std::size_t size) noexcept {
        std::memcpy(m_mdb->pg_buf, bytes, size);
        m_loadedPage = long(pg);
    }
    void forgetPage() noexcept { m_loadedPage = -1; }

private:
    MdbHandle* m_mdb = nullptr;
    long m_loadedPage = -1;
};
