#include "selection/TaxpayerList.h"

#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "selection/Form1Controls.h"
#include "source/Database.h"
#include "source/JetSql.h"
#include "source/Recordset.h"

void Cargar_Contribuyentes(Database& Conn, Form1Controls& controls) {
    forEachTaxpayer(Conn, [&](const std::string& reference, const std::string& name) {
        controls.lst_contribuyentes_AddItem(listEntry(reference, name));
    });
}

void forEachTaxpayer(Database& Conn, const TaxpayerVisitor& visit) {
    auto rs = Conn.OpenRecordset(
        "SELECT CMD.CMD_ID, CMD.CMD_NumRef, CMD.CMD_Contribuyente "
        "FROM CMD order by CMD.CMD_Contribuyente;");
    while (!rs->isEOF()) {
        // Read in the order the entry is written, so that a failing field is the one a user would expect.
        const std::string reference = Conv::textOrEmpty(rs->Fields("cmd_numref"));
        visit(reference, Conv::textOrEmpty(rs->Fields("cmd_contribuyente")));
        rs->MoveNext();
    }
    rs->Close();
}

std::string listEntry(const std::string& reference, const std::string& name) { return reference + "- " + name; }

bool Obtener_Contribuyente(Database* Conn, const Form1Controls& controls, std::int32_t& key, std::string& reference) {
    if (!Conn) throw RuntimeError::databaseNotOpen();
    // The typed characters are matched as a quoted literal: a quote typed into the box is just a character.
    const std::string typed = firstCharacters(controls.lst_contribuyentes_Text(), 13);
    auto rs = Conn->OpenRecordset(
        "SELECT CMD.CMD_ID, CMD.CMD_NumRef, CMD.CMD_Contribuyente "
        "FROM CMD WHERE CMD.CMD_NumRef = " +
        jetTextConstant(typed));
    bool found = false;
    key = 0;
    reference.clear();
    if (!rs->isEOF()) {
        key = Conv::CLng(rs->Fields("Cmd_ID"));
        reference = Conv::CStr(rs->Fields("cmd_numref"));
        found = true;
    }
    rs->Close();
    return found;
}
