#include "formats/ExportRecord.h"

#include "runtime/DateSerial.h"
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "runtime/Value.h"

#include <cstring>

namespace {

// Writes `value` (0 to 9999) in decimal, with at least `width` digits.
char* writeNumber(char* out, int value, int width) {
    if (value >= 1000) {
        *out++ = static_cast<char>('0' + value / 1000);
        value %= 1000;
        width = 3;
    }
    if (value >= 100 || width >= 3) {
        *out++ = static_cast<char>('0' + value / 100);
        value %= 100;
        width = 2;
    }
    if (value >= 10 || width >= 2) *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

}  // namespace

std::optional<CivilDate> rpFecha(const Value& fecha, bool txt) {
    if (!fecha.isNull()) return civilFromSerial(fecha.asDouble());
    if (txt) throw RuntimeError::invalidUseOfNull();
    return std::nullopt;
}

char* writeRpFecha(char* out, const Value& fecha, bool txt) {
    const std::optional<CivilDate> written = rpFecha(fecha, txt);
    if (!written) {
        std::memcpy(out, "[--]", 4);
        return out + 4;
    }
    const CivilDate& date = *written;
    if (!txt) *out++ = '[';
    out = writeNumber(out, date.year, 1);
    if (!txt) *out++ = '-';
    out = writeNumber(out, date.month, 2);
    if (!txt) *out++ = '-';
    out = writeNumber(out, date.day, 2);
    if (!txt) *out++ = ']';
    return out;
}

void appendRpFecha(std::string& out, const Value& fecha, bool txt) {
    char text[kRpFechaMax];
    out.append(text, writeRpFecha(text, fecha, txt));
}
