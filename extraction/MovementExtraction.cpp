#include "extraction/MovementExtraction.h"

#include "extraction/ExportState.h"
#include "formats/RecordLine.h"
#include "formats/SpreadsheetRows.h"
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "source/Recordset.h"

#include <limits>
#include <string_view>

namespace {

// The two statements differ only in the movement table and the type letter, and a statement from the next of its
// table only in the two keys at its end: the text before them is made once per table.
std::string movementHead(const std::string& table, const char* tipo, const char* afterTipo) {
    std::string sql;
    sql.reserve(1024);
    const auto column = [&](const char* name, const char* after) {
        sql += table;
        sql += name;
        sql += after;
    };
    sql +=
        " SELECT Form_Cp01.Cmd_ID, Form_Sid3.Sid_ID, CMD.CMD_NumRef, Form_Cp01.CP01_IngBrut, "
        "       [Sid_Año] & [Sid_Mes] & [Sid_Tramite] & [Sid_Orden] AS anticipo, Form_Sid3.Sid_Tramite_Descrip, "
        "       \"";
    sql += tipo;
    sql += "\" as tipo,";
    sql += afterTipo;
    column(".Per_Fecha", ", ");
    column(".Per_Año", ", ");
    column(".Per_Mes",
           ", "
           "       Form_Sid3.Sid_operacion, Form_Sid3.Sid_Orden, ");
    column(".Per_CUIT",
           ", "
           "       ");
    column(".Per_NumAgenteRet", ", ");
    column(".Per_Responsable", ", ");
    column(".Per_Concepto",
           ", "
           "       ");
    column(".Per_Monto", ", ");
    column(".Per_Monto1",
           " "
           " FROM CMD INNER JOIN ((Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = "
           "Form_Sid3.CP01_ID) INNER JOIN ");
    sql += table;
    sql += " ON Form_Sid3.Sid_ID = ";
    column(".Sid_ID",
           ") ON CMD.CMD_ID = Form_Cp01.Cmd_ID "
           " WHERE Form_Cp01.Cmd_ID= ");
    return sql;
}

std::string movementSql(const std::string& head, std::int32_t key, std::int32_t sid) {
    static constexpr std::string_view kBetween = "   and Form_Sid3.Sid_ID= ";
    static constexpr std::string_view kTail = " ORDER BY [Sid_Año] & [Sid_Mes] & [Sid_Tramite]& [Sid_Orden] DESC;";
    std::string sql;
    sql.reserve(head.size() + kBetween.size() + kTail.size() + 24);
    sql += head;
    appendInteger(sql, key);
    sql += kBetween;
    appendInteger(sql, sid);
    sql += kTail;
    return sql;
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
    static const std::string head = movementHead("retenciones", "R", "");
    return movementSql(head, key, sid);
}

std::string percepciones_sql(std::int32_t key, std::int32_t sid) {
    static const std::string head = movementHead("Percepciones", "P", " ");
    return movementSql(head, key, sid);
}

void Exportar_Retenciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row) {
    exportar(form, retenciones_sql(key, sid), row);
}

void Exportar_Percepciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row) {
    exportar(form, percepciones_sql(key, sid), row);
}
