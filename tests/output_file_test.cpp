#include "platform/OutputFile.h"
#include "runtime/RuntimeError.h"
#include "support/MemoryOutputFile.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

namespace {

struct OutputFileTest : ::testing::Test {
    // The names in the folder: the target only, once the output file is closed or abandoned.
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
    }
    // The description of the file error that `call` raises.
    template <typename F>
    std::string fileError(F&& call) {
        try {
            call();
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::FileError);
            return e.Description();
        }
        return "no error";
    }

    TempDir dir;
    std::string target = (dir.path() / "x.txt").string();
    std::unique_ptr<OutputFile> file = makeOutputFile();
};

TEST_F(OutputFileTest, CloseReplacesTheTarget) {
    writeBytes(target, "old\r\n");
    file->Open(target);
    file->PrintLine("DJ_AÑO;€;中");
    for (int i = 0; i < 9999; ++i) file->PrintLine("0123456789");  // more than one buffer's worth
    EXPECT_EQ(readBytes(target), "old\r\n");
    EXPECT_EQ(entries(), 2u);
    file->Close();
    const std::string bytes = readBytes(target);
    EXPECT_EQ(bytes.substr(0, 12), "DJ_A\xD1O;\x80;?\r\n");
    EXPECT_EQ(bytes.size(), 12u + 9999u * 12u);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(OutputFileTest, AbandonLeavesTheTargetAsItWas) {
    writeBytes(target, "old\r\n");
    file->Open(target);
    for (int i = 0; i < 9999; ++i) file->PrintLine("0123456789");
    file->Abandon();
    file->Open(target);
    file.reset();  // dropped without Close: abandoned too
    EXPECT_EQ(readBytes(target), "old\r\n");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(OutputFileTest, OpenFailuresLeaveNothing) {
    std::filesystem::create_directory(target);
    EXPECT_EQ(fileError([&] { file->Open(target); }), "cannot open output file " + target + ": Is a directory");
    const std::string missing = (dir.path() / "no" / "x.txt").string();
    EXPECT_EQ(fileError([&] { file->Open(missing); }),
              "cannot open output file " + missing + ": No such file or directory");
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(entries(), 1u);
}

// A file-size limit makes the writes fail as a full device would.
TEST_F(OutputFileTest, WriteFailureIsReported) {
    writeBytes(target, "old\r\n");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    file->Open(target);
    const std::string error = fileError([&] {
        for (int i = 0; i < 9999; ++i) file->PrintLine("0123456789");
    });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(error, "cannot write output file " + target + ": File too large");
    EXPECT_EQ(fileError([&] { file->Close(); }), error);  // a partial file never replaces the target
    EXPECT_EQ(readBytes(target), "old\r\n");
    EXPECT_EQ(entries(), 1u);
}

TEST(MemoryOutputFileTest, FailsOnTheChosenLine) {
    MemoryOutputFile file;
    file.failOnPrintLine(2);
    file.Open("/out/x.csv");
    file.PrintLine("DJ_AÑO €");
    EXPECT_THROW(file.PrintLine("second"), RuntimeError);
    EXPECT_EQ(file.bytes(), "DJ_A\xD1O \x80\r\n");
}

}  // namespace
