#include "formats/RecordLine.h"

#include "formats/Normalizers.h"
#include "platform/Form1.h"
#include "source/DateSerial.h"
#include "source/Recordset.h"

#include <algorithm>
#include <array>
#include <charconv>
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
std::string dateField(const Value& fecha, bool txt) {
    if (fecha.isNull()) {
        if (txt) throw RuntimeError::invalidUseOfNull();
        return "[--]";
    }
    const CivilDate date = civilFromSerial(fecha.asDouble());
    std::string text;
    if (!txt) text += '[';
    appendNumber(text, date.year, false);
    if (!txt) text += '-';
    appendNumber(text, date.month, true);
    if (!txt) text += '-';
    appendNumber(text, date.day, true);
    if (!txt) text += ']';
    return text;
}

// Appends a field and its separator. A CR or LF inside the field becomes a blank: one movement must stay one
// line, whatever the database holds.
void appendField(std::string& line, std::string_view field, const std::string& separator) {
    const std::size_t start = line.size();
    line += field;
    for (auto it = line.begin() + std::ptrdiff_t(start); it != line.end(); ++it)
        if (*it == '\r' || *it == '\n') *it = ' ';
    line += separator;
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
    // The fields are read in a fixed order, so a row with several faults always reports the same one.
    std::string scratch;
    const std::string fecha = dateField(rs.Fields("Per_Fecha"), form.G_TIPO_ARCHIVO == "TXT");
    const std::string cuit = Quitar_Guiones(Conv::CStr(rs.Fields("cmd_numref"), scratch));
    const std::string facNro = Limpiar_Texto(Conv::CStr(rs.Fields("Per_concepto"), scratch));
    const std::string facMonto = Formatear_Importe(Conv::CDbl(rs.Fields("Per_Monto")), form.G_SD);
    const std::string retPer = Formatear_Importe(Conv::CDbl(rs.Fields("Per_Monto1")), form.G_SD);
    const std::string agCuit = Quitar_Guiones(Conv::CStr(rs.Fields("per_cuit"), scratch));
    const std::string agRazonSocial = Limpiar_Texto(UCase(Conv::CStr(rs.Fields("Per_responsable"), scratch)));

    std::string line;
    line.reserve(256);
    const auto append = [&](std::string_view field) { appendField(line, field, form.G_SC); };
    append(cuit);
    append(textOrEmpty(rs.Fields("CP01_IngBrut"), scratch));
    append(textOrEmpty(rs.Fields("tipo"), scratch));
    append(textOrEmpty(rs.Fields("per_año"), scratch));
    append(textOrEmpty(rs.Fields("per_mes"), scratch));
    append(fecha);
    append(facNro);
    append(facMonto);
    append(retPer);
    append(agCuit);
    append(textOrEmpty(rs.Fields("Per_NumAgenteRet"), scratch));
    append(agRazonSocial);
    return line;
}
