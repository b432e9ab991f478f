#include "support/RunProgram.h"
#include "support/TestFiles.h"

#include <sys/wait.h>

#include <cstdlib>

namespace {

// `text` between single quotes for the shell, a quote in it closed, escaped and opened again.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder) {
    std::string command = quoted(program);
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    command += " >" + quoted(utf8Path(folder / "stdout")) + " 2>" + quoted(utf8Path(folder / "stderr"));
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readBytes(folder / "stdout"), readBytes(folder / "stderr")};
}
