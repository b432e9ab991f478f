#include "selection/RangeValidation.h"

#include "formats/Normalizers.h"
#include "platform/Form1.h"
#include "platform/RuntimeError.h"
#include "source/Value.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

// Characters, not bytes: a UTF-8 continuation byte does not start a character.
std::size_t characterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips a run of digits; returns how many there were.
std::size_t skipDigits(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
    return pos - start;
}

// The number without its surrounding blanks when `text` reads as one, else the empty view.
std::string_view numericPart(std::string_view text) {
    const std::string_view number = trimBlanks(text);
    std::size_t pos = 0;
    if (pos < number.size() && (number[pos] == '+' || number[pos] == '-')) ++pos;
    std::size_t digits = skipDigits(number, pos);
    if (pos < number.size() && number[pos] == '.') {
        ++pos;
        digits += skipDigits(number, pos);
    }
    if (digits == 0) return {};
    if (pos < number.size() && (number[pos] == 'e' || number[pos] == 'E')) {
        ++pos;
        if (pos < number.size() && (number[pos] == '+' || number[pos] == '-')) ++pos;
        if (skipDigits(number, pos) == 0) return {};
    }
    return pos == number.size() ? number : std::string_view();
}

// The month of a period: the value rounded to a 32-bit integer, its remainder by 100 keeping the value's sign.
std::int32_t periodMonth(double value) { return Conv::CLng(Value::real(value)) % 100; }

// The year of a period: the value divided by 100 and rounded, ties to even.
double periodYear(double value) { return std::nearbyint(value / 100.0); }

bool isMonth(std::int32_t month) { return month >= 1 && month <= 12; }

}  // namespace

bool Validar_Datos(Form1& form) {
    std::string message;
    if (trimBlanks(form.controls.lst_contribuyentes_Text()).empty()) {
        message = "Seleccione un contribuyente de la lista!";
    } else if (trimBlanks(form.controls.txt_desde()).empty() || trimBlanks(form.controls.txt_hasta()).empty()) {
        message = "Debe ingresar un rango de anticipos!!";
    } else {
        message = Validar_Formato_Rango(form.controls);
        if (message == "OK") return true;
    }
    form.messages.MsgBox(message, MsgIcon::Critical, MsgButtons::OK);
    return false;
}

std::string Validar_Formato_Rango(const Form1Controls& controls) {
    const std::string desde = controls.txt_desde();
    const std::string hasta = controls.txt_hasta();
    if (characterCount(desde) < 6 || characterCount(hasta) < 6)
        return "Respete el formato del rango del anticipo!! --> aaaamm ";
    if (!IsNumeric(desde) || !IsNumeric(hasta)) return "Ingrese sólo números en el rango de anticipos!! ";
    // Byte order of UTF-8 is code point order: the exact comparison of the two texts, not a numeric one.
    // Split where "??!" would read as a trigraph warning.
    if (desde > hasta) return "Anticipo DESDE mayor que el HASTA???" "!! ...corriga el rango. ";
    const double first = textToDouble(desde);
    if (!isMonth(periodMonth(first))) return "El MES del anticipo DESDE debe estar entre 01 y 12 !! ";
    if (periodYear(first) < 1900) return "El año del anticipo DESDE debe mayor a 1900  !! ";
    const double last = textToDouble(hasta);
    if (!isMonth(periodMonth(last))) return "El mes del anticipo HASTA debe estar entre 01 y 12 !! ";
    if (periodYear(last) >= 1900) return "OK";
    return "El año del anticipo HASTA debe ser mayor a 1900  !! ";
}

bool IsNumeric(const std::string& text) { return !numericPart(text).empty(); }

double textToDouble(const std::string& text) {
    const std::string number(numericPart(text));
    if (number.empty()) throw RuntimeError::typeMismatch();
    // The decimal point is ".", whatever locale the window set for the process.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t());
    errno = 0;
    const double value = strtod_l(number.c_str(), nullptr, cLocale);
    // Too small a number reads as zero; too large a one does not fit a Double.
    if (errno == ERANGE && std::fabs(value) > 1.0) throw RuntimeError::overflow();
    return value;
}
