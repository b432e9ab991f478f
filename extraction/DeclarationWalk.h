#pragma once

#include <cstdint>
#include <string>

struct Form1;

// The grouped declaration statement for a taxpayer: one row per form and declared month (operations 0 and 1),
// with the greatest ordering key as `maximo`, in ascending order of that key.
std::string grouped_declarations_sql(std::int32_t key);

// Runs the grouped statement `sql`, keeps the declarations that count for the typed range and emits their
// withholdings, then their perceptions, through the writer G_TIPO_ARCHIVO chooses. `row` is the spreadsheet row
// counter.
void recorrer_declaraciones(Form1& form, const std::string& sql, std::int32_t& key, std::int32_t& row);

// The TXT and CSV drivers: the walk with the output file already open.
void Generar_TXT(Form1& form, std::int32_t& key);
void Generar_CSV(Form1& form, std::int32_t& key);

// The key of the declaration of form `cp01` whose ordering key is `maximo`; raises a run-time error when none.
std::int32_t Obtener_Sid(Form1& form, const std::int32_t& cp01, const std::string& maximo);
