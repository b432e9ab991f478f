#include "formats/ExportRecord.h"

#include "runtime/DateSerial.h"
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "runtime/Value.h"

namespace {

// Appends `value`, with a leading zero when it has one digit and `twoDigits` is asked for.
void appendNumber(std::string& out, int value, bool twoDigits) {
    if (twoDigits && value >= 0 && value < 10) out += '0';
    appendInteger(out, value);
}

}  // namespace

void appendRpFecha(std::string& out, const Value& fecha, bool txt) {
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
