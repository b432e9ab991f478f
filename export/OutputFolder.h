#pragma once

#include <string>

struct Form1;

// Sets G_CARPETA_GENERACION to the program's folder, "/RET-PERC" and "/", creating the folder when it is missing.
// Reports its own errors and always returns normally.
void Crear_Carpeta(Form1& form);
// The same for the output folder `folder` (no trailing separator), as the command line names it.
void Crear_Carpeta(Form1& form, const std::string& folder);

// True when `path` names an existing file or folder, or when the test itself failed (after its message).
bool EXISTE_ARCHIVO(Form1& form, const std::string& path);
