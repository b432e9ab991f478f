#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Value;

struct ExportState;

// Reads the taxpayer's grouped declarations, keeps those that count for the range typed in the form's boxes and
// emits their withholdings, then their perceptions, through the writer G_TIPO_ARCHIVO chooses. `row` is the
// spreadsheet row counter. The observer learns how many declarations the range holds before the first is exported,
// and of each one done; asked before every declaration and movement, it may stop the walk (ExportCancelled).
void recorrer_declaraciones(ExportState& form, std::int32_t& key, std::int32_t& row);

// Whether a declaration of year `year` and month `month` (Sid_Año and Sid_Mes as stored) may be one the walk
// exports for the range typed in the form's boxes: its month lies in the range, or cannot be told (the walk would
// meet an error there). What a batch reads ahead.
bool mayBeExported(const ExportState& form, const Value& year, const Value& month);

// How many movements the walk would export for taxpayer `key` and the range typed, read but not written, counted up
// to `limit` (more than that is told as limit + 1). Where the walk would meet an error, the count stops: the walk
// meets it itself.
std::int64_t contarMovimientos(ExportState& form, std::int32_t key, std::int64_t limit);

// The TXT and CSV drivers: the walk with the output file already open.
void Generar_TXT(ExportState& form, std::int32_t& key);
void Generar_CSV(ExportState& form, std::int32_t& key);

// The key of the declaration of form `cp01` whose ordering key is `maximo`; raises a run-time error when there is
// none.
std::int32_t Obtener_Sid(ExportState& form, const std::int32_t& cp01, const std::string& maximo);
