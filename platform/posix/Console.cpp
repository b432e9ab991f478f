#include "platform/Console.h"

#include <unistd.h>

// Nothing to take over: the streams write their bytes as they are.
struct Console::Streams {};

Console::Console(int argc, char** argv)
    : m_arguments(argv, argv + argc),
      m_outputIsTerminal(::isatty(STDOUT_FILENO) == 1),
      m_errorIsTerminal(::isatty(STDERR_FILENO) == 1) {}

Console::~Console() = default;
