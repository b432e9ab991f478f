#include "jetfile/LibmdbHandle.h"

#include "runtime/RuntimeError.h"

LibmdbHandle::LibmdbHandle(const std::string& path) : m_mdb(mdb_open(path.c_str(), MDB_NOFLAGS)) {
    if (!m_mdb) throw RuntimeError(RuntimeError::DatabaseError, "cannot open database " + path);
}

LibmdbHandle::~LibmdbHandle() noexcept {
    if (m_mdb) mdb_close(m_mdb);
}

LibmdbHandle& LibmdbHandle::operator=(LibmdbHandle&& other) noexcept {
    if (this != &other) {
        if (m_mdb) mdb_close(m_mdb);
        m_mdb = std::exchange(other.m_mdb, nullptr);
        m_loadedPage = std::exchange(other.m_loadedPage, -1);
    }
    return *this;
}
