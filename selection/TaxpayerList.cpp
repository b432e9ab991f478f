#include "selection/TaxpayerList.h"

#include "database/Database.h"
#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "selection/Form1Controls.h"

void Cargar_Contribuyentes(Database& Conn, Form1Controls& controls) {
    forEachTaxpayer(Conn, [&](const std::string& reference, const std::string& name) {
        controls.lst_contribuyentes_AddItem(listEntry(reference, name));
    });
}

void forEachTaxpayer(Database& Conn, const TaxpayerVisitor& visit) {
    for (const TaxpayerRow& row : Conn.taxpayers())
        visit(Conv::textOrEmpty(row.CMD_NumRef), Conv::textOrEmpty(row.CMD_Contribuyente));
}

std::string listEntry(const std::string& reference, const std::string& name) { return reference + "- " + name; }

bool Obtener_Contribuyente(Database* Conn, const Form1Controls& controls, std::int32_t& key, std::string& reference) {
    if (!Conn) throw RuntimeError::databaseNotOpen();
    const std::optional<FoundTaxpayer> row =
        Conn->taxpayerByReference(firstCharacters(controls.lst_contribuyentes_Text(), 13));
    key = 0;
    reference.clear();
    if (!row) return false;
    key = Conv::CLng(row->CMD_ID);
    reference = Conv::CStr(row->CMD_NumRef);
    return true;
}
