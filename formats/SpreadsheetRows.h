#pragma once

#include <cstdint>

class ExcelSheet;
class Recordset;

// Writes the twelve header names into row `row` of the workbook being filled, then advances `row` by one.
void Escribir_Cabecera_XLS(ExcelSheet& vExcelSheet, std::int32_t& row);

// Writes the current movement row of `rs` into row `row`, cell by cell; `row` is not changed.
void Escribir_Fila_XLS(ExcelSheet& vExcelSheet, const Recordset& rs, const std::int32_t& row);
