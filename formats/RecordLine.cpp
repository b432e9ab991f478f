#include "formats/RecordLine.h"

#include "database/Database.h"
#include "formats/ExportRecord.h"
#include "formats/Normalizers.h"
#include "platform/OutputFile.h"
#include "runtime/Text.h"
#include "selection/Form1Controls.h"

#include <algorithm>
#include <cstring>
#include <string_view>

void Leer_Separadores(const Form1Controls& controls, std::string& G_SC, std::string& G_SD) {
    // Independent tests in this order: should several options be chosen, the last one stands.
    if (controls.chk_separador(2)) {
        G_SC = ";";
        G_SD = ",";
    }
    if (controls.chk_separador(1)) {
        G_SC = ";";
        G_SD = ".";
    }
    if (controls.chk_separador(0)) {
        G_SC = ",";
        G_SD = ".";
    }
}

void Escribir_Cabecera_CSV(OutputFile& file1, const std::string& G_SC) {
    std::string line;
    for (const char* name : kExportFieldNames) {
        if (!line.empty()) line += G_SC;
        line += '"';
        line += name;
        line += '"';
    }
    file1.PrintLine(line);
}

namespace {

// Writes the line for the movement into `line`, which is empty.
void writeRecordLine(std::string& line, const Movement& m, const LineFormat& format) {
    const bool txt = format.G_TIPO_ARCHIVO == "TXT";
    std::string scratch;
    // Each field is written straight into the line, then followed by the separator. The fields are read in line
    // order, so a row with several faults always reports the same one.
    const auto field = [&](auto write) {
        write();
        line += format.G_SC;
    };
    const auto stored = [&](const Value& value) { field([&] { line += Conv::textOrEmpty(value, scratch); }); };
    field([&] { appendQuitarGuiones(line, Conv::CStr(m.CMD_NumRef, scratch)); });
    stored(m.CP01_IngBrut);
    stored(m.tipo);
    stored(m.Per_Año);
    stored(m.Per_Mes);
    field([&] { appendRpFecha(line, m.Per_Fecha, txt); });
    field([&] { appendLimpiarTexto(line, Conv::CStr(m.Per_Concepto, scratch)); });
    field([&] { appendImporte(line, Conv::CDbl(m.Per_Monto), format.G_SD); });
    field([&] { appendImporte(line, Conv::CDbl(m.Per_Monto1), format.G_SD); });
    field([&] { appendQuitarGuiones(line, Conv::CStr(m.Per_CUIT, scratch)); });
    stored(m.Per_NumAgenteRet);
    field([&] {
        // Upper case first, then cleaned: blanks and the three separators are their own capitals.
        const std::size_t start = line.size();
        appendUCase(line, trimBlanks(Conv::CStr(m.Per_Responsable, scratch)));
        blankSeparators(line, start);
    });
    // A CR or LF inside a field becomes a blank: one movement must stay one line, whatever the database holds.
    // The separators are never line breaks, so the whole line can be looked at once.
    if (std::memchr(line.data(), '\r', line.size()) || std::memchr(line.data(), '\n', line.size()))
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
}

}  // namespace

void Escribir_Linea(OutputFile& file1, const Movement& movement, const LineFormat& format) {
    // One buffer for all the lines a thread writes: a long export allocates none per line. A line left half
    // written by an error is emptied by the next one.
    thread_local std::string line;
    line.clear();
    writeRecordLine(line, movement, format);
    file1.PrintLine(line);
}

std::string recordLine(const Movement& movement, const LineFormat& format) {
    std::string line;
    line.reserve(256);
    writeRecordLine(line, movement, format);
    return line;
}
