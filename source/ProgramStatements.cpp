#include "source/ProgramStatements.h"

#include "runtime/Numeric.h"
#include "source/JetSql.h"

#include <string_view>

const char* const kTaxpayerListSql =
    "SELECT CMD.CMD_ID, CMD.CMD_NumRef, CMD.CMD_Contribuyente "
    "FROM CMD order by CMD.CMD_Contribuyente;";

std::string taxpayer_sql(const std::string& reference) {
    // The typed characters are matched as a quoted literal: a quote typed into the box is just a character.
    return "SELECT CMD.CMD_ID, CMD.CMD_NumRef, CMD.CMD_Contribuyente "
           "FROM CMD WHERE CMD.CMD_NumRef = " +
           jetTextConstant(reference);
}

std::string grouped_declarations_sql(std::int32_t key) {
    return std::string(
               " SELECT Form_Cp01.CP01_id,Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes, Max(Form_Sid3.Sid_Año & "
               "Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden) AS maximo ") +
           " FROM CMD INNER JOIN (Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = Form_Sid3.CP01_ID) ON "
           "CMD.CMD_ID = Form_Cp01.Cmd_ID " +
           " WHERE (((Form_Cp01.Cmd_ID)= " + std::to_string(key) +
           ") AND ((Form_Sid3.Sid_operacion)=0 Or (Form_Sid3.Sid_operacion)=1)) " +
           " GROUP BY Form_Cp01.CP01_id,Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes " +
           " ORDER BY Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden); ";
}

std::string obtener_sid_sql(std::int32_t cp01, const std::string& maximo) {
    // The key is compared as the text it is; quoting it keeps the comparison exact on any engine.
    return " SELECT Form_Sid3.Sid_ID, Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & "
           "Form_Sid3.Sid_Orden AS maximo "
           " From Form_Sid3 "
           " WHERE Form_Sid3.CP01_ID=" +
           std::to_string(cp01) +
           " and (((Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden)= " +
           jetTextConstant(maximo) + "));";
}

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

}  // namespace

std::string retenciones_sql(std::int32_t key, std::int32_t sid) {
    static const std::string head = movementHead("retenciones", "R", "");
    return movementSql(head, key, sid);
}

std::string percepciones_sql(std::int32_t key, std::int32_t sid) {
    static const std::string head = movementHead("Percepciones", "P", " ");
    return movementSql(head, key, sid);
}
