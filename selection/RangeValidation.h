#pragma once

#include <string>

class Form1Controls;
class MessageBoxes;

// Checks the selection and the typed range in the program's order. Shows the failing check's message (critical
// icon) and returns false, or returns true when an export may go on.
bool Validar_Datos(const Form1Controls& controls, MessageBoxes& messages);

// Checks the form of the two period texts; returns "OK" or the message to show.
std::string Validar_Formato_Rango(const Form1Controls& controls);
