#include "selection/RangeValidation.h"

#include "platform/MessageBoxes.h"
#include "runtime/Numeric.h"
#include "runtime/Text.h"
#include "runtime/Value.h"
#include "selection/Form1Controls.h"

#include <cmath>

namespace {

// The month of a period: the value rounded to a 32-bit integer, its remainder by 100 keeping the value's sign.
std::int32_t periodMonth(double value) { return Conv::CLng(Value::real(value)) % 100; }

// The year of a period: the value divided by 100 and rounded, ties to even.
double periodYear(double value) { return std::nearbyint(value / 100.0); }

bool isMonth(std::int32_t month) { return month >= 1 && month <= 12; }

}  // namespace

std::optional<std::string> refusalOf(const Form1Controls& controls) {
    if (trimBlanks(controls.lst_contribuyentes_Text()).empty()) return "Seleccione un contribuyente de la lista!";
    if (trimBlanks(controls.txt_desde()).empty() || trimBlanks(controls.txt_hasta()).empty())
        return "Debe ingresar un rango de anticipos!!";
    std::string message = Validar_Formato_Rango(controls);
    if (message == "OK") return std::nullopt;
    return message;
}

bool Validar_Datos(const Form1Controls& controls, MessageBoxes& messages) {
    const std::optional<std::string> refused = refusalOf(controls);
    if (!refused) return true;
    messages.MsgBox(*refused, MsgIcon::Critical, MsgButtons::OK);
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
    if (desde > hasta)
        return "Anticipo DESDE mayor que el HASTA???"
               "!! ...corriga el rango. ";
    const double first = textToDouble(desde);
    if (!isMonth(periodMonth(first))) return "El MES del anticipo DESDE debe estar entre 01 y 12 !! ";
    if (periodYear(first) < 1900) return "El año del anticipo DESDE debe mayor a 1900  !! ";
    const double last = textToDouble(hasta);
    if (!isMonth(periodMonth(last))) return "El mes del anticipo HASTA debe estar entre 01 y 12 !! ";
    if (periodYear(last) >= 1900) return "OK";
    return "El año del anticipo HASTA debe ser mayor a 1900  !! ";
}
