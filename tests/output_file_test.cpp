// The platform on a real file system: what output channel 1 writes, a write failure, which a file size limit
// provokes as a full disk would, and the choice of the working folder.
#include "platform/OutputFile.h"
#include "platform/WorkingFolder.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

namespace {

TEST(OutputFile, ReplacesTheTargetOnlyWhenWhollyWritten) {
    TempDir dir;
    const std::string target = (dir.path() / "x.txt").string();
    const auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    writeBytes(target, "old\r\n");
    std::unique_ptr<OutputFile> file = makeOutputFile();
    file->Open(target);
    file->PrintLine("DJ_AÑO;€;中");
    for (int i = 0; i < 9999; ++i) file->PrintLine("0123456789");  // more than one buffer's worth
    EXPECT_EQ(readBytes(target), "old\r\n");
    file->Close();
    const std::string bytes = readBytes(target);
    EXPECT_EQ(bytes.substr(0, 12), "DJ_A\xD1O;\x80;?\r\n");
    EXPECT_EQ(bytes.size(), 12u + 9999u * 12u);
    EXPECT_EQ(entries(), 1);

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
    EXPECT_EQ(error, "cannot write output file " + target + ": File too large");
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
    EXPECT_EQ(readBytes(target), bytes);
    EXPECT_EQ(entries(), 1);
}

// The executable's folder holds Impuest.mdb for a copy run from its own folder; an installed one gets a folder in
// the user's home; --dir names any other. Only the home folder is ever created, and once.
TEST(WorkingFolder, BesideTheExecutableInTheHomeOrNamed) {
    TempDir dir;
    const std::string bin = dir.str() + "/bin", installed = dir.str() + "/usr-bin", home = dir.str() + "/home";
    for (const std::string& folder : {bin, installed, home}) std::filesystem::create_directories(folder);
    writeBytes(bin + "/Impuest.mdb", "");
    const struct {
        const char* name;
        std::string executable, named, folder;
    } rows[] = {
        {"beside the executable", bin, "", bin},
        {"--dir before the executable's folder", bin, dir.str() + "/other//", dir.str() + "/other"},
        {"the home folder created", installed, "", home + "/Velmora"},
        {"the home folder kept", installed, "", home + "/Velmora"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(std::filesystem::exists(home + "/Velmora/kept"), &row == &rows[3]) << row.name;
        EXPECT_EQ(workingFolder(row.executable, home + "/", row.named), row.folder) << row.name;
        if (std::filesystem::exists(row.folder)) writeBytes(row.folder + "/kept", "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "other"));
    EXPECT_THROW(workingFolder(installed, bin + "/Impuest.mdb", ""), RuntimeError);  // a home that is a file
    EXPECT_THROW(workingFolder(installed, "", ""), RuntimeError);
}

}  // namespace
