#include "formats/SpreadsheetRows.h"

#include "formats/Normalizers.h"
#include "platform/Form1.h"
#include "runtime/RuntimeError.h"
#include "runtime/DateSerial.h"
#include "source/Recordset.h"

#include <array>
#include <cstdio>
#include <limits>

namespace {

constexpr std::array<const char*, 12> kHeader = {"CUIT",    "IIB",       "TIPO",    "DJ_AÑO",  "DJ_MES", "RP_FECHA",
                                                 "FAC_NRO", "FAC_MONTO", "RET_PER", "AG_CUIT", "AG_NRO", "AG_RAZON_SOCIAL"};

// "[yyyy-mm-dd]"; a movement without a date has no date parts and gives "[--]".
std::string bracketedDate(const Value& fecha)
{
    if (fecha.isNull()) return "[--]";
    const CivilDate d = civilFromSerial(fecha.asDouble());
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "[%d-%02d-%02d]", d.year, d.month, d.day);
    return buffer;
}

}  // namespace

void Escribir_Cabecera_XLS(Form1& form, std::int32_t& row)
{
    for (std::int16_t column = 1; column <= 12; ++column)
        form.vExcelSheet->Application().setCell(row, column, Value::text(kHeader[column - 1]));
    if (row == std::numeric_limits<std::int32_t>::max()) throw RuntimeError::overflow();
    ++row;
}

void Escribir_Fila_XLS(Form1& form, const Recordset& rs, const std::int32_t& row)
{
    // Each cell is set as soon as its value is known: a failure leaves the cells before it filled.
    const auto cell = [&](std::int16_t column, const Value& value) {
        form.vExcelSheet->Application().setCell(row, column, value);
    };
    cell(1, Value::text(Quitar_Guiones(Conv::CStr(rs.Fields("cmd_numref")))));
    cell(2, rs.Fields("CP01_IngBrut"));
    cell(3, rs.Fields("tipo"));
    cell(4, rs.Fields("per_año"));
    cell(5, rs.Fields("per_mes"));
    cell(6, Value::text(bracketedDate(rs.Fields("Per_Fecha"))));
    cell(7, Value::text(Limpiar_Texto(Conv::CStr(rs.Fields("Per_concepto")))));
    cell(8, rs.Fields("Per_Monto"));
    cell(9, rs.Fields("Per_Monto1"));
    cell(10, Value::text(Quitar_Guiones(Conv::CStr(rs.Fields("per_cuit")))));
    cell(11, rs.Fields("Per_NumAgenteRet"));
    cell(12, Value::text(Limpiar_Texto(UCase(Conv::CStr(rs.Fields("Per_responsable"))))));
}
