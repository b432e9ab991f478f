#include "platform/Console.h"

#include "platform/windows/WideText.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <streambuf>

namespace {

// Where a text's last whole UTF-8 sequence ends: a sequence cut short at its end waits for the rest.
std::size_t wholeSequences(const std::string& text) {
    std::size_t start = text.size();
    for (int back = 0; back < 4 && start > 0; ++back) {
        const auto byte = static_cast<unsigned char>(text[--start]);
        if (byte < 0x80) return text.size();
        if (byte >= 0xC0) {
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return text.size() - start >= length ? text.size() : start;
        }
    }
    return text.size();  // no lead byte where one should be: malformed, and written as it is
}

// One standard stream of the process: a console, written in UTF-16, or anything else (a file, a pipe, NUL), written
// in UTF-8; lines end in CR LF on both. What the stream is given is kept until it is flushed (std::cerr flushes
// after each output, std::cout when asked and when this goes away) or grows large.
class StandardBuffer final : public std::streambuf {
public:
    explicit StandardBuffer(DWORD which) : m_handle(::GetStdHandle(which)) {
        DWORD mode = 0;
        m_console = m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(m_handle, &mode);
        // The progress line is redrawn with the terminal's sequences, which a console of Windows 10 and later takes
        // once asked to.
        if (m_console &&
            ::SetConsoleMode(m_handle, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            m_restoredMode = mode;
    }
    ~StandardBuffer() override {
        send(true);
        if (m_restoredMode) ::SetConsoleMode(m_handle, *m_restoredMode);
    }
    StandardBuffer(const StandardBuffer&) = delete;
    StandardBuffer& operator=(const StandardBuffer&) = delete;

    bool isConsole() const noexcept { return m_console; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        m_pending += traits_type::to_char_type(c);
        if (m_pending.size() >= kLarge && !send(false)) return traits_type::eof();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        m_pending.append(text, static_cast<std::size_t>(count));
        if (m_pending.size() >= kLarge && !send(false)) return 0;
        return count;
    }
    int sync() override { return send(false) ? 0 : -1; }

private:
    static constexpr std::size_t kLarge = 8192;

    // Writes what is pending (`all`: a sequence cut short too, as this goes away); false when the stream refused it.
    bool send(bool all) {
        const std::size_t end = all ? m_pending.size() : wholeSequences(m_pending);
        std::string lines;
        lines.reserve(end + end / 32);
        for (std::size_t i = 0; i < end; ++i) {
            if (m_pending[i] == '\n') lines += '\r';
            lines += m_pending[i];
        }
        m_pending.erase(0, end);
        if (lines.empty() || m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE) return true;
        if (m_console) {
            const std::wstring wide = wideText(lines);
            for (std::size_t done = 0; done < wide.size();) {
                DWORD written = 0;
                const auto asked = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 16384));
                if (!::WriteConsoleW(m_handle, wide.data() + done, asked, &written, nullptr) || written == 0)
                    return false;
                done += written;
            }
            return true;
        }
        for (std::size_t done = 0; done < lines.size();) {
            DWORD written = 0;
            const auto asked = static_cast<DWORD>(std::min<std::size_t>(lines.size() - done, 1u << 20));
            if (!::WriteFile(m_handle, lines.data() + done, asked, &written, nullptr) || written == 0) return false;
            done += written;
        }
        return true;
    }

    HANDLE m_handle;
    bool m_console = false;
    std::optional<DWORD> m_restoredMode;
    std::string m_pending;
};

// The arguments of the UTF-16 command line, in UTF-8; those the C library gave when it cannot be split.
std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(utf8Text(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

}  // namespace

// The standard streams' buffers while they are taken over, and those they had.
struct Console::Streams {
    StandardBuffer output{STD_OUTPUT_HANDLE};
    StandardBuffer error{STD_ERROR_HANDLE};
    std::streambuf* outputBefore = nullptr;
    std::streambuf* errorBefore = nullptr;
};

Console::Console(int argc, char** argv)
    : m_streams(std::make_unique<Streams>()), m_arguments(commandLineArguments(argc, argv)) {
    m_outputIsTerminal = m_streams->output.isConsole();
    m_errorIsTerminal = m_streams->error.isConsole();
    std::cout.flush();
    std::cerr.flush();
    m_streams->outputBefore = std::cout.rdbuf(&m_streams->output);
    m_streams->errorBefore = std::cerr.rdbuf(&m_streams->error);
}

Console::~Console() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(m_streams->outputBefore);
    std::cerr.rdbuf(m_streams->errorBefore);
}
