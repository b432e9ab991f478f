#include "extraction/DeclarationWalk.h"

#include "extraction/ExportState.h"
#include "extraction/MovementExtraction.h"
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "selection/Form1Controls.h"
#include "source/JetSql.h"
#include "source/Recordset.h"

#include <cmath>
#include <exception>
#include <limits>
#include <vector>

namespace {

std::string groupedSql(std::int32_t key, const char* selectList) {
    return std::string(selectList) +
           " FROM CMD INNER JOIN (Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = Form_Sid3.CP01_ID) ON "
           "CMD.CMD_ID = Form_Cp01.Cmd_ID " +
           " WHERE (((Form_Cp01.Cmd_ID)= " + std::to_string(key) +
           ") AND ((Form_Sid3.Sid_operacion)=0 Or (Form_Sid3.Sid_operacion)=1)) " +
           " GROUP BY Form_Cp01.CP01_id,Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes " +
           " ORDER BY Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden); ";
}

constexpr const char* kGroupedSelect =
    " SELECT Form_Cp01.CP01_id,Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes, Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & "
    "Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden) AS maximo ";
// The TXT driver's copy of the statement has a blank after the first comma; it means the same.
constexpr const char* kGroupedSelectTxt =
    " SELECT Form_Cp01.CP01_id, Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes, Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & "
    "Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden) AS maximo ";

// The month of a grouped row as the number aaaamm: the two texts joined, converted, rounded down.
std::int32_t periodKey(const Recordset& rs) {
    const std::string text = Conv::textOrEmpty(rs.Fields("Sid_Año")) + Conv::textOrEmpty(rs.Fields("Sid_Mes"));
    const double value = std::floor(textToDouble(text));
    if (!(value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max()))
        throw RuntimeError::overflow();
    return static_cast<std::int32_t>(value);
}

// A row of the grouped statement inside the range: its fields as read, converted when the walk reaches it.
struct ChosenDeclaration {
    Value cp01;
    Value maximo;
};

void generarTexto(ExportState& form, std::int32_t& key, const char* selectList) {
    std::int32_t row = 1;
    recorrer_declaraciones(form, groupedSql(key, selectList), key, row);
}

}  // namespace

std::string grouped_declarations_sql(std::int32_t key) { return groupedSql(key, kGroupedSelect); }

void recorrer_declaraciones(ExportState& form, const std::string& sql, std::int32_t& key, std::int32_t& row) {
    if (!form.Conn) throw RuntimeError::databaseNotOpen();
    auto rs = form.Conn->OpenRecordset(sql);
    // The rows are read first, so that the declarations of the range are known before the first is exported. An
    // error met on the way is raised where the walk would have met it: after the declarations before it.
    std::vector<ChosenDeclaration> chosen;
    std::exception_ptr failure;
    try {
        while (!rs->isEOF()) {
            form.stopWhenAsked();
            const std::int32_t period = periodKey(*rs);
            // The range is read afresh for every row, as typed.
            const double desde = textToDouble(form.controls.txt_desde());
            const double hasta = textToDouble(form.controls.txt_hasta());
            if ((desde <= period) & (hasta >= period)) chosen.push_back({rs->Fields("CP01_id"), rs->Fields("maximo")});
            rs->MoveNext();
        }
    } catch (const ExportCancelled&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (form.observer) form.observer->declarationsChosen(static_cast<std::int64_t>(chosen.size()));
    for (const ChosenDeclaration& declaration : chosen) {
        form.stopWhenAsked();
        const std::int32_t cp01 = Conv::CLng(declaration.cp01);
        const std::string maximo = Conv::CStr(declaration.maximo);
        std::int32_t sid = Obtener_Sid(form, cp01, maximo);
        Exportar_Retenciones(form, key, sid, row);
        Exportar_Percepciones(form, key, sid, row);
        if (form.observer) form.observer->declarationDone();
    }
    if (failure) std::rethrow_exception(failure);
    rs->Close();
}

void Generar_TXT(ExportState& form, std::int32_t& key) { generarTexto(form, key, kGroupedSelectTxt); }

void Generar_CSV(ExportState& form, std::int32_t& key) { generarTexto(form, key, kGroupedSelect); }

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

std::int32_t Obtener_Sid(ExportState& form, const std::int32_t& cp01, const std::string& maximo) {
    auto rs = form.Conn->OpenRecordset(obtener_sid_sql(cp01, maximo));
    const std::int32_t sid = Conv::CLng(rs->Fields("Sid_ID"));
    rs->Close();
    return sid;
}
