#pragma once

#include <string>

class Form1Controls;
class OutputFile;
struct Movement;

// What a line is written with: the field separator G_SC, the decimal separator G_SD, and the kind of file (for
// "TXT", the agency's text file, dates are yyyymmdd and a missing date is an error).
struct LineFormat {
    const std::string& G_SC;
    const std::string& G_SD;
    const std::string& G_TIPO_ARCHIVO;
};

// Sets G_SC and G_SD from the selected separator option: 2 → ";" and ",", 1 → ";" and ".", 0 → "," and ".".
void Leer_Separadores(const Form1Controls& controls, std::string& G_SC, std::string& G_SD);

// Writes the CSV header line (the twelve quoted names joined by G_SC) to output channel 1.
void Escribir_Cabecera_CSV(OutputFile& file1, const std::string& G_SC);

// Writes the movement as one line to output channel 1 (see recordLine).
void Escribir_Linea(OutputFile& file1, const Movement& movement, const LineFormat& format);

// The line for a movement: twelve fields, each followed by G_SC. Raises Invalid use of Null (94)
// for a Null in a required field (taxpayer reference, voucher, agent CUIT, agent name, both amounts, and the date
// in a TXT line) and Overflow (6) for an amount out of range. A CR or LF inside any field is written as a blank,
// so one movement is always one line.
std::string recordLine(const Movement& movement, const LineFormat& format);
// Raises what recordLine raises for the movement, without making the line.
void checkRecordLine(const Movement& movement, const LineFormat& format);
