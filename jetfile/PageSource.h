#pragma once

#include "platform/ReadOnlyFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

// Where the reader takes a Jet file's bytes from: the file itself, or memory (tests and the fuzz target). A source
// belongs to one reading of the file, on one thread.
class PageSource {
public:
    virtual ~PageSource() = default;

    // What the source is called in messages: the file's path.
    virtual const std::string& name() const noexcept = 0;
    // Reads the bytes from `offset` on into `pieces`, one after the other, and returns how many it read: fewer than
    // asked only at the end of the source. Raises RuntimeError (DatabaseError) naming the source when it cannot.
    virtual std::size_t read(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) = 0;
    // The source's state now: a write changes it. Raises RuntimeError (DatabaseError) when it cannot be known.
    virtual FileStamp stamp() const = 0;
    // Whether the name still leads to this source: a file put in its place under the name is another.
    virtual bool stillNamed() const = 0;
};

// The database file at `path`, opened read-only and shared with its writers. Raises RuntimeError (DatabaseError)
// when it cannot be opened or is not an ordinary file.
std::unique_ptr<PageSource> openFileSource(const std::string& path);

// A file held in memory, which tests write as another program writes a database: each change gives it a new stamp.
// The sources opened on it read its bytes as they are at each read. Safe to change from one thread while another
// reads.
class MemoryFile {
public:
    explicit MemoryFile(std::string bytes = {}, std::string name = "memoria");

    // Replaces the bytes, or some of them (growing the file when `offset` lies at or past its end), and stamps the
    // change with `modified` (nanoseconds since 1970; the next of a counter when 0).
    void write(std::string bytes, std::int64_t modified = 0);
    void write(std::uint64_t offset, std::string_view bytes, std::int64_t modified = 0);
    // Sets the modification time alone, as `touch` does.
    void touch(std::int64_t modified);
    std::string bytes() const;

    // A source on the file.
    std::unique_ptr<PageSource> open();

private:
    class Source;

    mutable std::mutex m_mutex;
    std::string m_bytes;
    std::string m_name;
    FileStamp m_stamp;
    std::int64_t m_writes = 0;
};
