#include "support/MemoryOutputFile.h"

#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"

void MemoryOutputFile::Open(const std::string& path) {
    if (m_open) throw RuntimeError(RuntimeError::FileError, "cannot open output file " + path + ": file already open");
    m_path = path;
    m_bytes.clear();
    m_calls = 0;
    m_open = true;
    m_closed = m_abandoned = false;
}

void MemoryOutputFile::PrintLine(const std::string& utf8Line) {
    if (!m_open) throw RuntimeError(RuntimeError::FileError, "cannot write output file: it is not open");
    if (++m_calls == m_failOn)
        throw RuntimeError(RuntimeError::FileError, "cannot write output file " + m_path + ": No space left on device");
    m_bytes += toWindows1252(utf8Line);
    m_bytes += "\r\n";
}

void MemoryOutputFile::Close() {
    if (!m_open) return;
    m_open = false;
    m_closed = true;
}

void MemoryOutputFile::Abandon() noexcept {
    if (!m_open) return;
    m_open = false;
    m_abandoned = true;
}
