#include "selection/Form1Controls.h"
#include "selection/RangeValidation.h"
#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

namespace {

const char* const kSelection = "Seleccione un contribuyente de la lista!";
const char* const kPresence = "Debe ingresar un rango de anticipos!!";
const char* const kFormat = "Respete el formato del rango del anticipo!! --> aaaamm ";
const char* const kDigits = "Ingrese sólo números en el rango de anticipos!! ";
const char* const kOrder =
    "Anticipo DESDE mayor que el HASTA???"
    "!! ...corriga el rango. ";
const char* const kFirstMonth = "El MES del anticipo DESDE debe estar entre 01 y 12 !! ";
const char* const kFirstYear = "El año del anticipo DESDE debe mayor a 1900  !! ";
const char* const kLastMonth = "El mes del anticipo HASTA debe estar entre 01 y 12 !! ";
const char* const kLastYear = "El año del anticipo HASTA debe ser mayor a 1900  !! ";

TEST(RangeValidation, MessagesInTheirOrder) {
    struct Row {
        const char* name;
        const char* combo;
        const char* desde;
        const char* hasta;
        const char* message;  // nullptr: the export may go on
    };
    const Row rows[] = {
        {"January to December", "20-12345678-3", "200801", "200812", nullptr},
        {"same period in both boxes", "x", "200805", "200805", nullptr},
        {"January 1900 passes", "x", "190001", "190001", nullptr},
        {"nothing chosen, whatever the boxes hold", "", "2008", "", kSelection},
        {"blanks only in the combo", "   ", "200801", "200812", kSelection},
        {"empty last period", "x", "200801", "", kPresence},
        {"blanks only in a box", "x", "      ", "200812", kPresence},
        {"five characters first", "x", "20081", "200812", kFormat},
        {"five characters last", "x", "200801", "20081", kFormat},
        {"characters, not bytes", "x", "2008ó", "200812", kFormat},
        {"letter among the digits", "x", "2008a1", "200812", kDigits},
        {"December before January", "x", "200812", "200801", kOrder},
        {"month 00 first", "x", "200800", "200812", kFirstMonth},
        {"month 13 first", "x", "200813", "200912", kFirstMonth},
        {"negative month keeps its sign", "x", "-200801", "200812", kFirstMonth},
        {"month rounded half to even", "x", "200800.5", "200812", kFirstMonth},
        {"December 1899 first", "x", "189912", "190001", kFirstYear},
        {"month 13 last", "x", "200801", "200813", kLastMonth},
        {"month 00 last", "x", "200801", "200900", kLastMonth},
        {"year before 1900 last", "x", "1.90001E5", "189912", kLastYear},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PlainControls controls;
        controls.combo = row.combo;
        controls.desde = row.desde;
        controls.hasta = row.hasta;
        ScriptedMessageBoxes boxes;
        EXPECT_EQ(Validar_Datos(controls, boxes), row.message == nullptr);
        std::vector<ShownBox> expected;
        if (row.message) expected.push_back({row.message, MsgIcon::Critical, MsgButtons::OK, std::nullopt});
        EXPECT_EQ(boxes.shown(), expected);
    }
}

}  // namespace
