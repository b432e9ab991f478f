// The platform on a real file system: what output channel 1 writes, and the choice of the working folder. How a
// write fails is each system's own (output_file_test_posix.cpp, output_file_test_windows.cpp).
#include "platform/FileSystem.h"
#include "platform/OutputFile.h"
#include "platform/WorkingFolder.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

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

    // Abandoned, or opened on a folder, it leaves everything as it was.
    file->Open(target);
    file->PrintLine("new");
    file->Abandon();
    EXPECT_FALSE(file->isOpen());
    std::filesystem::create_directory(dir.path() / "folder");
    EXPECT_THROW(file->Open((dir.path() / "folder").string()), RuntimeError);
    EXPECT_EQ(readBytes(target), bytes);
    EXPECT_EQ(entries(), 2);
}

// The executable's folder holds Impuest.mdb for a copy run from its own folder; an installed one gets a folder in
// the user's folder; --dir names any other. Only the user's folder is ever created, and once.
TEST(WorkingFolder, BesideTheExecutableInTheHomeOrNamed) {
    TempDir dir;
    const auto in = [](const std::string& folder, const std::string& name) {
        return FileSystem::childPath(folder, name);
    };
    const std::string bin = in(dir.str(), "bin"), installed = in(dir.str(), "usr-bin"), home = in(dir.str(), "home");
    for (const std::string& folder : {bin, installed, home}) std::filesystem::create_directories(pathOf(folder));
    writeBytes(pathOf(in(bin, "Impuest.mdb")), "");
    const struct {
        const char* name;
        std::string executable, named, folder;
    } rows[] = {
        {"beside the executable", bin, "", bin},
        {"--dir before the executable's folder", bin, dir.str() + "/other//", dir.str() + "/other"},
        {"the home folder created", installed, "", in(home, "Velmora")},
        {"the home folder kept", installed, "", in(home, "Velmora")},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(std::filesystem::exists(pathOf(in(in(home, "Velmora"), "kept"))), &row == &rows[3]) << row.name;
        EXPECT_EQ(workingFolder(row.executable, home + "/", row.named), row.folder) << row.name;
        if (std::filesystem::exists(pathOf(row.folder))) writeBytes(pathOf(in(row.folder, "kept")), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "other"));
    EXPECT_THROW(workingFolder(installed, in(bin, "Impuest.mdb"), ""), RuntimeError);  // a home that is a file
    EXPECT_THROW(workingFolder(installed, "", ""), RuntimeError);
}

}  // namespace
