#include "runtime/Value.h"

#include "runtime/DateSerial.h"
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

std::string dateText(double serial) {
    const CivilDate date = civilFromSerial(serial);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", date.day, date.month, date.year);
    std::string text = buffer;
    // The fraction is the time of day, counted forward from midnight also for dates before 1899-12-30.
    const double fraction = std::fabs(serial - std::trunc(serial));
    auto seconds = static_cast<long>(std::nearbyint(fraction * 86400.0));
    if (seconds >= 86400) seconds = 86399;  // a fraction a hair below the next midnight stays on its own day
    if (seconds != 0) {
        std::snprintf(buffer, sizeof buffer, " %02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
        text += buffer;
    }
    return text;
}

}  // namespace

void Value::setNull() noexcept {
    m_kind = Kind::Null;
    m_data.emplace<std::monostate>();
}

std::string& Value::setText() {
    m_kind = Kind::Text;
    if (auto* text = std::get_if<std::string>(&m_data)) {
        text->clear();
        return *text;
    }
    return m_data.emplace<std::string>();
}

double Value::asDouble() const {
    switch (m_kind) {
        case Kind::Null: throw RuntimeError::invalidUseOfNull();
        case Kind::Integer: return static_cast<double>(std::get<std::int64_t>(m_data));
        case Kind::Double:
        case Kind::Date: return std::get<double>(m_data);
        case Kind::Text: break;
    }
    throw RuntimeError::typeMismatch();
}

namespace Conv {

std::string CStr(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: throw RuntimeError::invalidUseOfNull();
        case Value::Kind::Integer: return std::to_string(v.asInteger());
        case Value::Kind::Double: return doubleText(v.asDouble());
        case Value::Kind::Date: return dateText(v.asDouble());
        case Value::Kind::Text: break;
    }
    return v.asText();
}

std::string_view CStr(const Value& v, std::string& scratch) {
    if (v.kind() == Value::Kind::Text) return v.asText();
    if (v.kind() == Value::Kind::Integer) {
        // Written where it is kept, as std::to_string writes it: the fields of every line hold numbers.
        scratch.clear();
        appendInteger(scratch, v.asInteger());
        return scratch;
    }
    scratch = CStr(v);
    return scratch;
}

double CDbl(const Value& v) { return v.kind() == Value::Kind::Text ? textToDouble(v.asText()) : v.asDouble(); }

std::int32_t CLng(const Value& v) {
    if (v.kind() == Value::Kind::Integer) {
        const std::int64_t n = v.asInteger();
        if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
            throw RuntimeError::overflow();
        return static_cast<std::int32_t>(n);
    }
    // nearbyint in the default rounding mode takes a tie to the even neighbour, as the runtime does.
    const double rounded = std::nearbyint(CDbl(v));
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throw RuntimeError::overflow();  // NaN too
    return static_cast<std::int32_t>(rounded);
}

std::string textOrEmpty(const Value& v) { return v.isNull() ? std::string() : CStr(v); }

std::string_view textOrEmpty(const Value& v, std::string& scratch) {
    return v.isNull() ? std::string_view() : CStr(v, scratch);
}

}  // namespace Conv
