#pragma once

#include <cstdint>
#include <string>

struct ExportState;

// The grouped declaration statement for a taxpayer: one row per form and declared month (operations 0 and 1),
// with the greatest ordering key as `maximo`, in ascending order of that key.
std::string grouped_declarations_sql(std::int32_t key);

// Runs the grouped statement `sql`, keeps the declarations that count for the range typed in the form's boxes
// and emits their withholdings, then their perceptions, through the writer G_TIPO_ARCHIVO chooses. `row` is the
// spreadsheet row counter. The observer learns how many declarations the range holds before the first is exported,
// and of each one done; asked before every declaration and movement, it may stop the walk (ExportCancelled).
void recorrer_declaraciones(ExportState& form, const std::string& sql, std::int32_t& key, std::int32_t& row);

// The TXT and CSV drivers: the walk with the output file already open.
void Generar_TXT(ExportState& form, std::int32_t& key);
void Generar_CSV(ExportState& form, std::int32_t& key);

// The statement that finds the declaration of form `cp01` whose ordering key is `maximo`.
std::string obtener_sid_sql(std::int32_t cp01, const std::string& maximo);
// The key of that declaration; raises a run-time error when there is none.
std::int32_t Obtener_Sid(ExportState& form, const std::int32_t& cp01, const std::string& maximo);
