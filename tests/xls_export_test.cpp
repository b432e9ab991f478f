// The workbook command on a taxpayer with more movements than an Excel 97 sheet has rows.
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(XlsExport, MoreRowsThanTheFormatHoldsEndsInTheErrorPathWithoutAFile) {
    TempDir dir;
    fs::create_symlink(shared("bench/impuest-m.mdb"), dir.path() / "Impuest.mdb");
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form(controls, boxes, dir.str());
    Form_Load(form);
    ASSERT_TRUE(boxes.shown().empty());

    // About 80,000 movements from 2019 to 2025.
    controls.combo = "30-00000001-7";
    controls.desde = "200001";
    controls.hasta = "222201";
    BTN_XLS_Click(form);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::None);
    EXPECT_NE(boxes.shown()[0].text.find("65,536 rows"), std::string::npos) << boxes.shown()[0].text;
    EXPECT_EQ(boxes.shown()[1].icon, MsgIcon::Information);
    EXPECT_TRUE(fs::is_empty(dir.path() / "RET-PERC"));
}
