#include "formats/RecordLine.h"

#include "formats/Normalizers.h"
#include "platform/Form1.h"
#include "source/DateSerial.h"
#include "source/Recordset.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace {

// RP_FECHA: yyyymmdd in a TXT line, [yyyy-mm-dd] otherwise. A CSV line writes a missing date as "[--]"; the
// agency's layout has no empty date, so a TXT line raises Invalid use of Null.
std::string dateField(const Value& fecha, bool txt) {
    if (fecha.isNull()) {
        if (txt) throw RuntimeError::invalidUseOfNull();
        return "[--]";
    }
    const CivilDate date = civilFromSerial(fecha.asDouble());
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, txt ? "%d%02d%02d" : "[%d-%02d-%02d]", date.year, date.month, date.day);
    return buffer;
}

// Appends a field and its separator. A CR or LF inside the field becomes a blank: one movement must stay one
// line, whatever the database holds.
void appendField(std::string& line, std::string_view field, const std::string& separator) {
    const std::size_t start = line.size();
    line += field;
    if (field.find('\r') != std::string_view::npos || field.find('\n') != std::string_view::npos)
        std::replace_if(line.begin() + std::ptrdiff_t(start), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    line += separator;
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
    const std::string fecha = dateField(rs.Fields("Per_Fecha"), form.G_TIPO_ARCHIVO == "TXT");
    const std::string cuit = Quitar_Guiones(Conv::CStr(rs.Fields("cmd_numref")));
    const std::string facNro = Limpiar_Texto(Conv::CStr(rs.Fields("Per_concepto")));
    const std::string facMonto = Formatear_Importe(Conv::CDbl(rs.Fields("Per_Monto")), form.G_SD);
    const std::string retPer = Formatear_Importe(Conv::CDbl(rs.Fields("Per_Monto1")), form.G_SD);
    const std::string agCuit = Quitar_Guiones(Conv::CStr(rs.Fields("per_cuit")));
    const std::string agRazonSocial = Limpiar_Texto(UCase(Conv::CStr(rs.Fields("Per_responsable"))));

    std::string line;
    const auto append = [&](std::string_view field) { appendField(line, field, form.G_SC); };
    append(cuit);
    append(Conv::textOrEmpty(rs.Fields("CP01_IngBrut")));
    append(Conv::textOrEmpty(rs.Fields("tipo")));
    append(Conv::textOrEmpty(rs.Fields("per_año")));
    append(Conv::textOrEmpty(rs.Fields("per_mes")));
    append(fecha);
    append(facNro);
    append(facMonto);
    append(retPer);
    append(agCuit);
    append(Conv::textOrEmpty(rs.Fields("Per_NumAgenteRet")));
    append(agRazonSocial);
    return line;
}
