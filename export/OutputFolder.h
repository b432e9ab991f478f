#pragma once

#include <string>
#include <vector>

struct Form1;

// What preparing an output folder found: the folder, with its trailing separator once it is there; and the
// messages the window shows when something failed, in its order (the existence test's, then the folder's).
struct OutputFolder {
    std::string folder;  // G_CARPETA_GENERACION: without the separator when the folder could not be made
    std::vector<std::string> messages;
    bool ready() const noexcept { return messages.empty(); }
};

// Prepares `folder` (no trailing separator): creates it when it is missing. Shows nothing.
OutputFolder prepareOutputFolder(const std::string& folder);

// Sets G_CARPETA_GENERACION to the program's folder, "/RET-PERC" and "/", creating the folder when it is missing.
// Reports its own errors (prepareOutputFolder's messages, each in a box) and always returns normally.
void Crear_Carpeta(Form1& form);
// The same for the output folder `folder` (no trailing separator), as the command line names it.
void Crear_Carpeta(Form1& form, const std::string& folder);

// True when `path` names an existing file or folder, or when the test itself failed (after its message).
bool EXISTE_ARCHIVO(Form1& form, const std::string& path);
