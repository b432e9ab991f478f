#include "selection/TaxpayerList.h"

#include "database/Database.h"
#include "runtime/Text.h"
#include "selection/Form1Controls.h"

void Cargar_Contribuyentes(Database& Conn, Form1Controls& controls) {
    std::vector<std::string> entries;
    readUnchangedFile(
        Conn,
        [&](Reading& reading) {
            forEachTaxpayer(reading, [&](const std::string& reference, const std::string& name) {
                entries.push_back(listEntry(reference, name));
            });
        },
        [&] { entries.clear(); });
    for (const std::string& entry : entries) controls.lst_contribuyentes_AddItem(entry);
}

void forEachTaxpayer(Reading& reading, const TaxpayerVisitor& visit) {
    for (const TaxpayerRow& row : reading.taxpayers())
        visit(Conv::textOrEmpty(row.CMD_NumRef), Conv::textOrEmpty(row.CMD_Contribuyente));
}

std::string listEntry(const std::string& reference, const std::string& name) { return reference + "- " + name; }

bool Obtener_Contribuyente(Reading& reading, const Form1Controls& controls, std::int32_t& key, std::string& reference) {
    const std::optional<FoundTaxpayer> row =
        reading.taxpayerByReference(firstCharacters(controls.lst_contribuyentes_Text(), 13));
    key = 0;
    reference.clear();
    if (!row) return false;
    key = Conv::CLng(row->CMD_ID);
    reference = Conv::CStr(row->CMD_NumRef);
    return true;
}
