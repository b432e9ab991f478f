#pragma once

#include <memory>
#include <string>

// The sequential text output the export commands write through (the runtime's file number 1).
//
// Open creates a temporary file beside the target; PrintLine appends one line in Windows-1252 ("?" for a
// character the code page lacks) followed by CR LF; Close flushes it and puts it in place of the target, so the
// target changes only when a whole export succeeded; Abandon removes the temporary file and leaves the target as
// it was. Every failure raises RuntimeError (FileError) whose description names the operation and the path.
class OutputFile {
public:
    virtual ~OutputFile() = default;

    virtual void Open(const std::string& path) = 0;
    virtual void PrintLine(const std::string& utf8Line) = 0;
    virtual void Close() = 0;
    virtual void Abandon() noexcept = 0;
    virtual bool isOpen() const noexcept = 0;
};

std::unique_ptr<OutputFile> makeOutputFile();
