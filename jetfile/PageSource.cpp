#include "jetfile/PageSource.h"

#include "platform/SystemError.h"
#include "runtime/RuntimeError.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

class FileSource final : public PageSource {
public:
    explicit FileSource(const std::string& path) : m_path(path), m_file(open(path)) {}

    const std::string& name() const noexcept override { return m_path; }

    std::size_t read(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) override {
        try {
            return m_file.readAt(offset, pieces);
        } catch (const std::system_error& e) {
            throw RuntimeError(RuntimeError::DatabaseError,
                               "No se puede leer la base de datos " + m_path + ": " + systemErrorText(e.code()));
        }
    }

    FileStamp stamp() const override {
        try {
            return m_file.stamp();
        } catch (const std::system_error& e) {
            throw RuntimeError(RuntimeError::DatabaseError,
                               "No se puede leer la base de datos " + m_path + ": " + systemErrorText(e.code()));
        }
    }

    bool stillNamed() const override {
        try {
            return m_file.namedBy(m_path);
        } catch (const std::system_error&) {
            return false;
        }
    }

private:
    static ReadOnlyFile open(const std::string& path) {
        try {
            return ReadOnlyFile(path);
        } catch (const std::system_error& e) {
            if (e.code() == std::errc::not_supported)
                throw RuntimeError(RuntimeError::DatabaseError, "El archivo " + path + " no es una base de datos");
            throw RuntimeError(RuntimeError::DatabaseError,
                               "No se puede abrir la base de datos " + path + ": " + systemErrorText(e.code()));
        }
    }

    std::string m_path;
    ReadOnlyFile m_file;
};

}  // namespace

std::unique_ptr<PageSource> openFileSource(const std::string& path) { return std::make_unique<FileSource>(path); }

class MemoryFile::Source final : public PageSource {
public:
    explicit Source(MemoryFile& file) : m_file(file) {}

    const std::string& name() const noexcept override { return m_file.m_name; }

    std::size_t read(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) override {
        const std::lock_guard lock(m_file.m_mutex);
        const std::string& bytes = m_file.m_bytes;
        std::size_t read = 0;
        for (const std::span<unsigned char> piece : pieces) {
            if (offset + read >= bytes.size()) break;
            const std::size_t n = std::min<std::size_t>(piece.size(), bytes.size() - (offset + read));
            std::memcpy(piece.data(), bytes.data() + offset + read, n);
            read += n;
            if (n < piece.size()) break;
        }
        return read;
    }

    FileStamp stamp() const override {
        const std::lock_guard lock(m_file.m_mutex);
        return m_file.m_stamp;
    }

    bool stillNamed() const override { return true; }

private:
    MemoryFile& m_file;
};

MemoryFile::MemoryFile(std::string bytes, std::string name) : m_name(std::move(name)) { write(std::move(bytes), 1); }

void MemoryFile::write(std::string bytes, std::int64_t modified) {
    const std::lock_guard lock(m_mutex);
    m_bytes = std::move(bytes);
    m_stamp = {m_bytes.size(), modified != 0 ? modified : ++m_writes, m_stamp.changed + 1};
}

void MemoryFile::write(std::uint64_t offset, std::string_view bytes, std::int64_t modified) {
    const std::lock_guard lock(m_mutex);
    if (m_bytes.size() < offset + bytes.size()) m_bytes.resize(offset + bytes.size(), '\0');
    std::memcpy(m_bytes.data() + offset, bytes.data(), bytes.size());
    m_stamp = {m_bytes.size(), modified != 0 ? modified : ++m_writes, m_stamp.changed + 1};
}

void MemoryFile::touch(std::int64_t modified) {
    const std::lock_guard lock(m_mutex);
    m_stamp.modified = modified;
    ++m_stamp.changed;
}

std::string MemoryFile::bytes() const {
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

std::unique_ptr<PageSource> MemoryFile::open() { return std::make_unique<Source>(*this); }
