#include "platform/FileHandle.h"

#include <unistd.h>

void FileHandle::close() noexcept {
    if (m_value != kNone) ::close(static_cast<int>(std::exchange(m_value, kNone)));
}
