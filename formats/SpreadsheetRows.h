#pragma once

#include <cstdint>

class ExcelSheet;
struct Movement;

// Writes the twelve header names into row `row` of the workbook being filled, then advances `row` by one.
void Escribir_Cabecera_XLS(ExcelSheet& vExcelSheet, std::int32_t& row);

// Writes the movement into row `row`, cell by cell; `row` is not changed.
void Escribir_Fila_XLS(ExcelSheet& vExcelSheet, const Movement& movement, const std::int32_t& row);
