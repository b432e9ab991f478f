#pragma once

#include "platform/OutputFile.h"

#include <string>

// An output file kept in memory, for tests: it encodes lines as the real file does and can fail on purpose.
class MemoryOutputFile final : public OutputFile {
public:
    // Starts a new file: forgets the bytes, the lines counted and how the last file ended.
    void Open(const std::string& path) override;
    // Appends the line in Windows-1252 with CR LF. The line chosen with failOnPrintLine raises the error a full
    // device gives instead, and writes nothing.
    void PrintLine(const std::string& utf8Line) override;
    void Close() override;
    void Abandon() noexcept override;
    bool isOpen() const noexcept override { return m_open; }

    // Makes the `n`th PrintLine after Open (from 1) fail; 0 never fails.
    void failOnPrintLine(int n) { m_failOn = n; }

    // Everything written since the last Open, kept after Close and Abandon.
    const std::string& bytes() const noexcept { return m_bytes; }
    const std::string& path() const noexcept { return m_path; }
    int printLineCalls() const noexcept { return m_calls; }
    // True when the last file was closed (put in place of its target), false when it was abandoned or is open.
    bool closed() const noexcept { return m_closed; }
    bool abandoned() const noexcept { return m_abandoned; }

private:
    std::string m_bytes;
    std::string m_path;
    int m_failOn = 0;
    int m_calls = 0;
    bool m_open = false;
    bool m_closed = false;
    bool m_abandoned = false;
};
