#pragma once

#include <optional>
#include <string>

class Form1Controls;
class MessageBoxes;

// Checks the selection and the typed range in the program's order: the failing check's message, or nothing when an
// export may go on. A text that passed the numeric test but cannot be converted raises the run-time error.
std::optional<std::string> refusalOf(const Form1Controls& controls);

// Checks as refusalOf does; shows the failing check's message (critical icon) and returns false, or returns true
// when an export may go on.
bool Validar_Datos(const Form1Controls& controls, MessageBoxes& messages);

// Checks the form of the two period texts; returns "OK" or the message to show.
std::string Validar_Formato_Rango(const Form1Controls& controls);
