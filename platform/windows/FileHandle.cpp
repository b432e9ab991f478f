#include "platform/FileHandle.h"

#include <windows.h>

void FileHandle::close() noexcept {
    if (m_value != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(m_value, kNone)));
}
