#pragma once

#include <filesystem>
#include <string>
#include <vector>

// How a program run ended: its exit status (-1 when it did not exit) and what it wrote to its standard output and
// error, as bytes.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` (UTF-8, each passed whole, blanks and quotes included) and waits for it to end; its
// standard output and error go to the files "stdout" and "stderr" in `folder`, then read back. Linux runs it through
// the shell; Windows passes the arguments on a UTF-16 command line, quoted as its C libraries split them.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder);
