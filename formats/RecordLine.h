#pragma once

#include <string>

struct Form1;
class Recordset;

// Sets G_SC and G_SD from the selected separator option: 2 → ";" and ",", 1 → ";" and ".", 0 → "," and ".".
void Leer_Separadores(Form1& form);

// Writes the CSV header line (the twelve quoted names joined by G_SC) to output channel 1.
void Escribir_Cabecera_CSV(Form1& form);

// Writes the current movement row of `rs` as one line to output channel 1 (see recordLine). The recordset is
// not moved.
void Escribir_Linea(Form1& form, const Recordset& rs);

// The line for the current movement row: twelve fields, each followed by G_SC. Raises Invalid use of Null (94)
// for a Null in a required field (taxpayer reference, voucher, agent CUIT, agent name, both amounts, and the date
// in a TXT line) and Overflow (6) for an amount out of range. A CR or LF inside any field is written as a blank,
// so one movement is always one line.
std::string recordLine(const Form1& form, const Recordset& rs);
