#include "formats/RecordLine.h"

#include "database/Database.h"
#include "formats/ExportRecord.h"
#include "formats/Normalizers.h"
#include "platform/OutputFile.h"
#include "runtime/Numeric.h"
#include "runtime/Text.h"
#include "selection/Form1Controls.h"

#include <algorithm>
#include <charconv>
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

// A line written in place, into a buffer kept from line to line.
class LineBuffer {
public:
    // Writes into `text`, whose size is the room it has.
    explicit LineBuffer(std::string& text) : m_text(text) {}
    // Where to write up to `room` bytes.
    char* room(std::size_t room) {
        if (m_text.size() < room) m_text.resize(room + 256);
        return m_text.data();
    }
    // What was written ends at `end`.
    void wrote(const char* end) { m_used = std::size_t(end - m_text.data()); }
    char* begin() { return m_text.data(); }
    std::string_view written() const { return std::string_view(m_text.data(), m_used); }

private:
    std::string& m_text;
    std::size_t m_used = 0;
};

// The most the text of a stored value takes: a text its size, a number or a date at most 32 bytes.
std::size_t roomFor(const Value& value) {
    return value.kind() == Value::Kind::Text ? value.asText().size() : kDoubleTextMax;
}

char* copy(char* out, std::string_view text) {
    if (text.size() > 16) {
        std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    for (const char c : text) *out++ = c;
    return out;
}

// Writes the runtime's text of a stored value, a Null as nothing.
char* writeStored(char* out, const Value& value, std::string& scratch) {
    switch (value.kind()) {
        case Value::Kind::Null: return out;
        case Value::Kind::Text: return copy(out, value.asText());
        case Value::Kind::Integer: return std::to_chars(out, out + kDoubleTextMax, value.asInteger()).ptr;
        default: return copy(out, Conv::CStr(value, scratch));
    }
}

// Writes the line for the movement into `line`; or, without `kWrite`, only raises what writing it would raise,
// in the same order: every value is converted as the line converts it, and nothing is written.
template <bool kWrite>
void writeRecordLine(LineBuffer* line, const Movement& m, const LineFormat& format) {
    const bool txt = format.G_TIPO_ARCHIVO == "TXT";
    const std::string_view sc = format.G_SC, sd = format.G_SD;
    char* at = nullptr;
    if constexpr (kWrite)
        at = line->room(roomFor(m.CMD_NumRef) + roomFor(m.CP01_IngBrut) + roomFor(m.tipo) + roomFor(m.Per_Año) +
                        roomFor(m.Per_Mes) + kRpFechaMax + roomFor(m.Per_Concepto) + 2 * (kImporteMax + sd.size()) +
                        roomFor(m.Per_CUIT) + roomFor(m.Per_NumAgenteRet) + 3 * roomFor(m.Per_Responsable) +
                        12 * sc.size());
    std::string scratch;
    // The fields are written in line order, each followed by the separator, so a row with several faults always
    // reports the same one.
    const char single = sc.size() == 1 ? sc[0] : '\0';
    const auto separator = [&] {
        if constexpr (kWrite) at = single ? (*at = single, at + 1) : copy(at, sc);
    };
    const auto stored = [&](const Value& value) {
        if constexpr (kWrite)
            at = writeStored(at, value, scratch);
        else if (value.kind() == Value::Kind::Double || value.kind() == Value::Kind::Date)
            Conv::CStr(value, scratch);
        separator();
    };
    // A text field: written by `write` from the value's text.
    const auto text = [&](const Value& value, auto write) {
        const std::string_view converted = Conv::CStr(value, scratch);
        if constexpr (kWrite) at = write(at, converted);
        separator();
    };
    const auto amount = [&](const Value& value) {
        const double converted = Conv::CDbl(value);
        if constexpr (kWrite)
            at = writeImporte(at, converted, sd);
        else
            hundredthsOf(converted);
        separator();
    };
    text(m.CMD_NumRef, writeQuitarGuiones);
    stored(m.CP01_IngBrut);
    stored(m.tipo);
    stored(m.Per_Año);
    stored(m.Per_Mes);
    if constexpr (kWrite)
        at = writeRpFecha(at, m.Per_Fecha, txt);
    else
        rpFecha(m.Per_Fecha, txt);
    separator();
    text(m.Per_Concepto, writeLimpiarTexto);
    amount(m.Per_Monto);
    amount(m.Per_Monto1);
    text(m.Per_CUIT, writeQuitarGuiones);
    stored(m.Per_NumAgenteRet);
    // Upper case first, then cleaned: blanks and the three separators are their own capitals.
    text(m.Per_Responsable, [](char* out, std::string_view name) {
        char* end = writeUCase(out, trimBlanks(name));
        blankSeparators(out, end);
        return end;
    });
    if constexpr (kWrite) {
        line->wrote(at);
        // A CR or LF inside a field becomes a blank: one movement must stay one line, whatever the database holds.
        // The separators are never line breaks, so the whole line can be looked at once.
        const std::string_view written = line->written();
        if (std::memchr(written.data(), '\r', written.size()) || std::memchr(written.data(), '\n', written.size()))
            std::replace_if(
                line->begin(), line->begin() + written.size(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    }
}

}  // namespace

void Escribir_Linea(OutputFile& file1, const Movement& movement, const LineFormat& format) {
    // One buffer for all the lines a thread writes: a long export allocates none per line. A line left half
    // written by an error is emptied by the next one.
    // A file that keeps no lines (one that counts them) is given none: they are only checked.
    if (!file1.KeepsLines()) {
        writeRecordLine<false>(nullptr, movement, format);
        return;
    }
    thread_local std::string buffer;
    LineBuffer line(buffer);
    writeRecordLine<true>(&line, movement, format);
    file1.PrintLine(line.written());
}

std::string recordLine(const Movement& movement, const LineFormat& format) {
    std::string buffer;
    LineBuffer line(buffer);
    writeRecordLine<true>(&line, movement, format);
    return std::string(line.written());
}

void checkRecordLine(const Movement& movement, const LineFormat& format) {
    writeRecordLine<false>(nullptr, movement, format);
}
