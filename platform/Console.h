#pragma once

#include <memory>
#include <string>
#include <vector>

// The command line's console, as each system has it, for as long as this object lives.
//
// On Linux the arguments and what std::cout and std::cerr are given are bytes, UTF-8, passed on as they are. On
// Windows the arguments are read from the UTF-16 command line, so that a name the console's code page lacks (Muñoz
// in a Greek code page, a Greek name in any) arrives whole; what std::cout and std::cerr are given goes to a console
// as UTF-16 (WriteConsoleW), so that accents show right in cmd and PowerShell whatever their code page, and to a
// file or a pipe as UTF-8, as on Linux; on both, each "\n" is written as CR LF, as Windows programs end their
// lines. A console there also takes the terminal's control sequences, as on Linux, for the progress line.
class Console {
public:
    Console(int argc, char** argv);
    // Writes out what std::cout and std::cerr still hold, and gives them back as they were.
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // The program's arguments in UTF-8, its name first.
    const std::vector<std::string>& arguments() const noexcept { return m_arguments; }
    // Whether standard output, or standard error, is a terminal (a console on Windows), where a person reads it as
    // it comes, rather than a file or a pipe.
    bool outputIsTerminal() const noexcept { return m_outputIsTerminal; }
    bool errorIsTerminal() const noexcept { return m_errorIsTerminal; }

private:
    struct Streams;
    std::unique_ptr<Streams> m_streams;
    std::vector<std::string> m_arguments;
    bool m_outputIsTerminal = false;
    bool m_errorIsTerminal = false;
};
