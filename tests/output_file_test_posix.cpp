// A write that fails on Linux: a file size limit provokes it as a full disk would.
#include "platform/OutputFile.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

namespace {

TEST(OutputFile, AFailedWriteNeverReplacesTheTarget) {
    TempDir dir;
    const std::string target = (dir.path() / "x.txt").string();
    const auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    writeBytes(target, "old\r\n");
    std::unique_ptr<OutputFile> file = makeOutputFile();

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    file->Open(target);
    std::string error;
    try {
        for (int i = 0; i < 9999; ++i) file->PrintLine("0123456789");
    } catch (const RuntimeError& e) {
        error = e.Description();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(error, "No se puede escribir el archivo " + target + ": el archivo es demasiado grande");
    // A file that lost a line never replaces the target, even when it is closed after the error, and even when
    // the writes after the failed one succeed.
    int failedLines = 0;
    for (int i = 0; i < 9999; ++i) {
        try {
            file->PrintLine("0123456789");
        } catch (const RuntimeError&) {
            ++failedLines;
        }
    }
    EXPECT_EQ(failedLines, 9999);
    EXPECT_THROW(file->Close(), RuntimeError);
    EXPECT_EQ(readBytes(target), "old\r\n");
    EXPECT_EQ(entries(), 1);
}

}  // namespace
