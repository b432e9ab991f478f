#pragma once

#include <unistd.h>

#include <utility>

// An open file descriptor, closed with its owner.
class FileDescriptor {
public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    ~FileDescriptor() noexcept { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    // The descriptor; -1 when none is open.
    int get() const noexcept { return m_fd; }

private:
    void reset() noexcept {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
};
