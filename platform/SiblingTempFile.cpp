#include "platform/SiblingTempFile.h"

#include <utility>

// What both systems share; the file itself is each system's (platform/posix, platform/windows).

SiblingTempFile::SiblingTempFile(SiblingTempFile&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_path(std::exchange(other.m_path, {})),
      m_file(std::exchange(other.m_file, nullptr)),
      m_writtenBack(std::exchange(other.m_writtenBack, 0)) {}

SiblingTempFile& SiblingTempFile::operator=(SiblingTempFile&& other) noexcept {
    if (this != &other) {
        discard();
        m_target = std::move(other.m_target);
        m_path = std::exchange(other.m_path, {});
        m_file = std::exchange(other.m_file, nullptr);
        m_writtenBack = std::exchange(other.m_writtenBack, 0);
    }
    return *this;
}

SiblingTempFile::~SiblingTempFile() { discard(); }
