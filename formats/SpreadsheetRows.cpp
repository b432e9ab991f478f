#include "formats/SpreadsheetRows.h"

#include "database/Database.h"
#include "formats/ExportRecord.h"
#include "formats/Normalizers.h"
#include "runtime/RuntimeError.h"
#include "workbook/Spreadsheet.h"

#include <limits>

void Escribir_Cabecera_XLS(ExcelSheet& vExcelSheet, std::int32_t& row) {
    for (std::int16_t column = 1; column <= 12; ++column)
        vExcelSheet.Application().setCell(row, column, Value::text(kExportFieldNames[column - 1]));
    if (row == std::numeric_limits<std::int32_t>::max()) throw RuntimeError::overflow();
    ++row;
}

void Escribir_Fila_XLS(ExcelSheet& vExcelSheet, const Movement& m, const std::int32_t& row) {
    // Each cell is set as soon as its value is known: a failure leaves the cells before it filled.
    const auto cell = [&](std::int16_t column, const Value& value) {
        vExcelSheet.Application().setCell(row, column, value);
    };
    const auto text = [](std::string&& value) { return Value::text(std::move(value)); };
    cell(1, text(Quitar_Guiones(Conv::CStr(m.CMD_NumRef))));
    cell(2, m.CP01_IngBrut);
    cell(3, m.tipo);
    cell(4, m.Per_Año);
    cell(5, m.Per_Mes);
    std::string fecha;
    appendRpFecha(fecha, m.Per_Fecha, false);
    cell(6, text(std::move(fecha)));
    cell(7, text(Limpiar_Texto(Conv::CStr(m.Per_Concepto))));
    cell(8, m.Per_Monto);
    cell(9, m.Per_Monto1);
    cell(10, text(Quitar_Guiones(Conv::CStr(m.Per_CUIT))));
    cell(11, m.Per_NumAgenteRet);
    cell(12, text(Limpiar_Texto(UCase(Conv::CStr(m.Per_Responsable)))));
}
