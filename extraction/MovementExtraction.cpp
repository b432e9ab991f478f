#include "extraction/MovementExtraction.h"

#include "extraction/ExportState.h"
#include "formats/RecordLine.h"
#include "formats/SpreadsheetRows.h"
#include "runtime/RuntimeError.h"
#include "source/Recordset.h"

#include <limits>

namespace {

// The two statements differ only in the movement table and the type letter.
std::string movementSql(const std::string& table, const char* tipo, const char* afterTipo, std::int32_t key,
                        std::int32_t sid) {
    return " SELECT Form_Cp01.Cmd_ID, Form_Sid3.Sid_ID, CMD.CMD_NumRef, Form_Cp01.CP01_IngBrut, "
           "       [Sid_Año] & [Sid_Mes] & [Sid_Tramite] & [Sid_Orden] AS anticipo, Form_Sid3.Sid_Tramite_Descrip, "
           "       \"" +
           std::string(tipo) + "\" as tipo," + afterTipo + table + ".Per_Fecha, " + table + ".Per_Año, " + table +
           ".Per_Mes, "
           "       Form_Sid3.Sid_operacion, Form_Sid3.Sid_Orden, " +
           table +
           ".Per_CUIT, "
           "       " +
           table + ".Per_NumAgenteRet, " + table + ".Per_Responsable, " + table +
           ".Per_Concepto, "
           "       " +
           table + ".Per_Monto, " + table +
           ".Per_Monto1 "
           " FROM CMD INNER JOIN ((Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = Form_Sid3.CP01_ID) INNER "
           "JOIN " +
           table + " ON Form_Sid3.Sid_ID = " + table +
           ".Sid_ID) ON CMD.CMD_ID = Form_Cp01.Cmd_ID "
           " WHERE Form_Cp01.Cmd_ID= " +
           std::to_string(key) + "   and Form_Sid3.Sid_ID= " + std::to_string(sid) +
           " ORDER BY [Sid_Año] & [Sid_Mes] & [Sid_Tramite]& [Sid_Orden] DESC;";
}

void exportar(ExportState& form, const std::string& sql, std::int32_t& row) {
    auto rs = form.Conn->OpenRecordset(sql);
    while (!rs->isEOF()) {
        form.stopWhenAsked();
        if (form.G_TIPO_ARCHIVO == "XLS") {
            Escribir_Fila_XLS(*form.vExcelSheet, *rs, row);
            if (row == std::numeric_limits<std::int32_t>::max()) throw RuntimeError::overflow();
            ++row;
        } else {
            Escribir_Linea(*form.file1, *rs, LineFormat{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO});
        }
        if (form.observer) form.observer->movementWritten(*rs);
        rs->MoveNext();
    }
    rs->Close();
}

}  // namespace

std::string retenciones_sql(std::int32_t key, std::int32_t sid) {
    return movementSql("retenciones", "R", "", key, sid);
}

std::string percepciones_sql(std::int32_t key, std::int32_t sid) {
    return movementSql("Percepciones", "P", " ", key, sid);
}

void Exportar_Retenciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row) {
    exportar(form, retenciones_sql(key, sid), row);
}

void Exportar_Percepciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row) {
    exportar(form, percepciones_sql(key, sid), row);
}
