// Start-up without a window: the output folder, the connection and the taxpayer list, and their messages.
#include "export/StartUp.h"
#include "export/Form1.h"
#include "export/OutputFolder.h"
#include "runtime/RuntimeError.h"
#include "support/FakeRecordset.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const ShownBox kAtencion{"No se ha podido realizar la conexión al servidor", MsgIcon::Information, MsgButtons::OK,
                         "Atención"};

struct StartUp : ::testing::Test {
    TempDir dir;
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form{controls, boxes, dir.str()};

    void withDatabase() { fs::copy_file(shared("fixtures/impuest-cases.mdb"), dir.path() / "Impuest.mdb"); }
};

// A database whose taxpayer list fails after its first two rows.
class FailingListDatabase : public Database {
public:
    std::unique_ptr<Recordset> OpenRecordset(const std::string&) override {
        auto rows = std::vector<FakeRecordset::Row>{
            {{"CMD_ID", Value::integer(1)},
             {"CMD_NumRef", Value::text("20-12345678-3")},
             {"CMD_Contribuyente", Value::text("Uno")}},
            {{"CMD_ID", Value::integer(2)},
             {"CMD_NumRef", Value::text("27-23456789-4")},
             {"CMD_Contribuyente", Value::text("Dos")}},
            {{"CMD_ID", Value::integer(3)}, {"CMD_NumRef", Value::text("30-71234567-1")}}};
        return std::make_unique<FakeRecordset>(std::move(rows));
    }
    void Close() override {}
};

class FailingListWorkspace : public Workspace {
public:
    std::unique_ptr<Database> OpenDatabase(const std::string&, bool, bool, const std::string&) override {
        return std::make_unique<FailingListDatabase>();
    }
    void Close() override {}
};

}  // namespace

TEST_F(StartUp, LoadsTheListInNameOrder) {
    withDatabase();
    Form_Load(form);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(form.G_CARPETA_GENERACION, dir.str() + "/RET-PERC/");
    EXPECT_TRUE(fs::is_directory(dir.path() / "RET-PERC"));
    ASSERT_EQ(controls.list.size(), 14u);
    EXPECT_EQ(controls.list.front(), "20-11111111-2- ");  // a Null name sorts first and adds nothing
    EXPECT_EQ(controls.list[1], "30-66666666-7- Cooperativa Agrícola La Unión Ltda.");
    Command3_Click(form);
    EXPECT_FALSE(form.Conn);
    EXPECT_FALSE(form.WS);
}

TEST_F(StartUp, MissingDatabaseShowsAtencionAndLeavesTheListEmpty) {
    Form_Load(form);
    EXPECT_EQ(boxes.shown(), std::vector<ShownBox>{kAtencion});
    EXPECT_TRUE(controls.list.empty());
    EXPECT_FALSE(form.Conn);
    EXPECT_TRUE(fs::is_directory(dir.path() / "RET-PERC"));  // the folder comes first
    Command3_Click(form);                                    // and Salir still works
}

TEST_F(StartUp, AFolderThatCannotBeCreatedIsReportedAndTheListStillLoads) {
    withDatabase();
    // An immutable folder refuses new entries even to root.
    if (std::system(("chattr +i '" + dir.str() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system cannot make a folder immutable";
    Form_Load(form);
    std::system(("chattr -i '" + dir.str() + "'").c_str());
    ASSERT_EQ(boxes.shown().size(), 1u);
    const std::string folder = dir.str() + "/RET-PERC";
    EXPECT_EQ(boxes.shown()[0].text,
              "Error : " + folder + "-cannot create folder " + folder + ": Operation not permitted");
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(form.G_CARPETA_GENERACION, folder);  // without its final separator
    EXPECT_EQ(controls.list.size(), 14u);
}

TEST_F(StartUp, AFileNamedLikeTheFolderCountsAsTheFolder) {
    withDatabase();
    writeBytes(dir.path() / "RET-PERC", "not a folder");
    Form_Load(form);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(form.G_CARPETA_GENERACION, dir.str() + "/RET-PERC/");
}

TEST_F(StartUp, AFailureWhileTheListLoadsKeepsTheEntriesReadBeforeIt) {
    form.createWorkspace = [] { return std::make_unique<FailingListWorkspace>(); };
    Form_Load(form);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, "Error : FORM_LOAD -Item not found in this collection: cmd_contribuyente");
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown()[0].title, std::nullopt);
    EXPECT_EQ(controls.list, (std::vector<std::string>{"20-12345678-3- Uno", "27-23456789-4- Dos"}));
    EXPECT_TRUE(form.Conn);
}

TEST_F(StartUp, ExistenceTest) {
    writeBytes(dir.path() / "file", "x");
    EXPECT_TRUE(EXISTE_ARCHIVO(form, (dir.path() / "file").string()));
    EXPECT_TRUE(EXISTE_ARCHIVO(form, dir.str()));
    EXPECT_FALSE(EXISTE_ARCHIVO(form, (dir.path() / "nothing").string()));
    // A path that names nothing because an ordinary file or a missing folder stands on its way.
    EXPECT_FALSE(EXISTE_ARCHIVO(form, (dir.path() / "file" / "below").string()));
    EXPECT_FALSE(EXISTE_ARCHIVO(form, (dir.path() / "nothing" / "below").string()));
    EXPECT_TRUE(boxes.shown().empty());
    // A test that cannot be made counts as an existing entry, after its message: a loop of links, a name too long.
    fs::create_symlink("loop", dir.path() / "loop");
    const std::string impossible[] = {(dir.path() / "loop" / "below").string(),
                                      (dir.path() / std::string(300, 'x')).string()};
    std::vector<ShownBox> failed;
    for (const std::string& path : impossible) {
        EXPECT_TRUE(EXISTE_ARCHIVO(form, path));
        failed.push_back({"ERROR : EXISTE_ARCHIVO - " + path, MsgIcon::Critical, MsgButtons::OK, {}});
    }
    EXPECT_EQ(boxes.shown(), failed);
}
