#include "formats/RecordLine.h"

#include "formats/Normalizers.h"
#include "runtime/Text.h"
#include "platform/Form1.h"
#include "runtime/DateSerial.h"
#include "source/Recordset.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

namespace {

// Appends `value` with at least two digits.
void appendNumber(std::string& out, int value, bool twoDigits) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    if (twoDigits && value >= 0 && value < 10) out += '0';
    out.append(digits, end);
}

// RP_FECHA: yyyymmdd in a TXT line, [yyyy-mm-dd] otherwise. A CSV line writes a missing date as "[--]"; the
// agency's layout has no empty date, so a TXT line raises Invalid use of Null.
void appendDate(std::string& out, const Value& fecha, bool txt) {
    if (fecha.isNull()) {
        if (txt) throw RuntimeError::invalidUseOfNull();
        out += "[--]";
        return;
    }
    const CivilDate date = civilFromSerial(fecha.asDouble());
    if (!txt) out += '[';
    appendNumber(out, date.year, false);
    if (!txt) out += '-';
    appendNumber(out, date.month, true);
    if (!txt) out += '-';
    appendNumber(out, date.day, true);
    if (!txt) out += ']';
}

// The field as stored, Null as the empty text.
std::string_view textOrEmpty(const Value& v, std::string& scratch) {
    return v.isNull() ? std::string_view() : Conv::CStr(v, scratch);
}

}  // namespace

void Leer_Separadores(Form1& form) {
    // Independent tests in this order: should several options be chosen, the last one stands.
    if (form.controls.chk_separador(2)) {
        form.G_SC = ";";
        form.G_SD = ",";
    }
    if (form.controls.chk_separador(1)) {
        form.G_SC = ";";
        form.G_SD = ".";
    }
    if (form.controls.chk_separador(0)) {
        form.G_SC = ",";
        form.G_SD = ".";
    }
}

void Escribir_Cabecera_CSV(Form1& form) {
    static constexpr std::array<const char*, 12> names = {
        "CUIT", "IIB", "TIPO", "DJ_AÑO", "DJ_MES", "RP_FECHA", "FAC_NRO", "FAC_MONTO", "RET_PER", "AG_CUIT",
        "AG_NRO", "AG_RAZON_SOCIAL"};
    std::string line;
    for (const char* name : names) {
        if (!line.empty()) line += form.G_SC;
        line += '"';
        line += name;
        line += '"';
    }
    form.file1->PrintLine(line);
}

void Escribir_Linea(Form1& form, const Recordset& rs) { form.file1->PrintLine(recordLine(form, rs)); }

std::string recordLine(const Form1& form, const Recordset& rs) {
    const bool txt = form.G_TIPO_ARCHIVO == "TXT";
    std::string scratch;
    std::string line;
    line.reserve(256);
    // Each field is written straight into the line, then followed by the separator. The fields are read in line
    // order, so a row with several faults always reports the same one.
    const auto field = [&](auto write) {
        write();
        line += form.G_SC;
    };
    const auto stored = [&](const char* name) { field([&] { line += textOrEmpty(rs.Fields(name), scratch); }); };
    field([&] { appendQuitarGuiones(line, Conv::CStr(rs.Fields("cmd_numref"), scratch)); });
    stored("CP01_IngBrut");
    stored("tipo");
    stored("per_año");
    stored("per_mes");
    field([&] { appendDate(line, rs.Fields("Per_Fecha"), txt); });
    field([&] { appendLimpiarTexto(line, Conv::CStr(rs.Fields("Per_concepto"), scratch)); });
    field([&] { appendImporte(line, Conv::CDbl(rs.Fields("Per_Monto")), form.G_SD); });
    field([&] { appendImporte(line, Conv::CDbl(rs.Fields("Per_Monto1")), form.G_SD); });
    field([&] { appendQuitarGuiones(line, Conv::CStr(rs.Fields("per_cuit"), scratch)); });
    stored("Per_NumAgenteRet");
    field([&] {
        // Upper case first, then cleaned: blanks and the three separators are their own capitals.
        const std::size_t start = line.size();
        appendUCase(line, trimBlanks(Conv::CStr(rs.Fields("Per_responsable"), scratch)));
        for (auto it = line.begin() + std::ptrdiff_t(start); it != line.end(); ++it)
            if (*it == ';' || *it == ',' || *it == '.') *it = ' ';
    });
    // A CR or LF inside a field becomes a blank: one movement must stay one line, whatever the database holds.
    // The separators are never line breaks, so the whole line can be looked at once.
    if (std::memchr(line.data(), '\r', line.size()) || std::memchr(line.data(), '\n', line.size()))
        std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}
