#pragma once

#include <memory>
#include <string>
#include <string_view>

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
    virtual void PrintLine(std::string_view utf8Line) = 0;
    virtual void Close() = 0;
    virtual void Abandon() noexcept = 0;
    virtual bool isOpen() const noexcept = 0;
    // Whether the lines printed are kept. One that keeps none (the command line's --count) is printed none: a
    // line's text need not be made, only checked as making it checks.
    virtual bool KeepsLines() const noexcept { return true; }
};

std::unique_ptr<OutputFile> makeOutputFile();
