#include "formats/SpreadsheetRows.h"

#include "formats/ExportRecord.h"
#include "formats/Normalizers.h"
#include "runtime/RuntimeError.h"
#include "source/Recordset.h"
#include "workbook/Spreadsheet.h"

#include <limits>

void Escribir_Cabecera_XLS(ExcelSheet& vExcelSheet, std::int32_t& row) {
    for (std::int16_t column = 1; column <= 12; ++column)
        vExcelSheet.Application().setCell(row, column, Value::text(kExportFieldNames[column - 1]));
    if (row == std::numeric_limits<std::int32_t>::max()) throw RuntimeError::overflow();
    ++row;
}

void Escribir_Fila_XLS(ExcelSheet& vExcelSheet, const Recordset& rs, const std::int32_t& row) {
    // Each cell is set as soon as its value is known: a failure leaves the cells before it filled.
    const auto cell = [&](std::int16_t column, const Value& value) {
        vExcelSheet.Application().setCell(row, column, value);
    };
    const auto text = [](std::string&& value) { return Value::text(std::move(value)); };
    cell(1, text(Quitar_Guiones(Conv::CStr(rs.Fields("cmd_numref")))));
    cell(2, rs.Fields("CP01_IngBrut"));
    cell(3, rs.Fields("tipo"));
    cell(4, rs.Fields("per_año"));
    cell(5, rs.Fields("per_mes"));
    std::string fecha;
    appendRpFecha(fecha, rs.Fields("Per_Fecha"), false);
    cell(6, text(std::move(fecha)));
    cell(7, text(Limpiar_Texto(Conv::CStr(rs.Fields("Per_concepto")))));
    cell(8, rs.Fields("Per_Monto"));
    cell(9, rs.Fields("Per_Monto1"));
    cell(10, text(Quitar_Guiones(Conv::CStr(rs.Fields("per_cuit")))));
    cell(11, rs.Fields("Per_NumAgenteRet"));
    cell(12, text(Limpiar_Texto(UCase(Conv::CStr(rs.Fields("Per_responsable"))))));
}
