#pragma once

#include <cstdint>
#include <utility>

// The system's handle of an open file (a file descriptor on Linux, a HANDLE on Windows), closed by its one owner.
// Both systems mark "no file" with -1 (INVALID_HANDLE_VALUE is the handle -1).
class FileHandle {
public:
    static constexpr std::intptr_t kNone = -1;

    FileHandle() noexcept = default;
    explicit FileHandle(std::intptr_t value) noexcept : m_value(value) {}
    FileHandle(FileHandle&& other) noexcept : m_value(std::exchange(other.m_value, kNone)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            close();
            m_value = std::exchange(other.m_value, kNone);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }

    std::intptr_t get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != kNone; }
    // Gives the handle up without closing it: its new owner closes it.
    std::intptr_t release() noexcept { return std::exchange(m_value, kNone); }
    // Closes the file, when there is one; a failure to close a file only read is of no consequence.
    void close() noexcept;

private:
    std::intptr_t m_value = kNone;
};
