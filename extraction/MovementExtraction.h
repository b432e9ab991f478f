#pragma once

#include <cstdint>

struct ExportState;

// Emit the withholdings (or perceptions) of declaration `sid` of taxpayer `key`, one record per movement, to the
// writer of G_TIPO_ARCHIVO. For "XLS" each row goes to the spreadsheet and `row` advances by one.
void Exportar_Retenciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row);
void Exportar_Percepciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row);
