#pragma once

#include <optional>
#include <string>
#include <vector>

struct Form1;

// What preparing an output folder found: the folder, with its trailing separator; and the
// messages the window shows when something failed, in its order (the existence test's, then the folder's).
struct OutputFolder {
    std::string folder;  // G_CARPETA_GENERACION, with its trailing separator
    std::vector<std::string> messages;
    bool ready() const noexcept { return messages.empty(); }
};

// Prepares `folder` (no trailing separator): creates it when it is missing. Shows nothing.
OutputFolder prepareOutputFolder(const std::string& folder);

// Why files cannot be written into `folder` (one prepareOutputFolder made ready), in the user's words: it is not a
// folder, or a new file cannot be made in it; nothing when they can.
std::optional<std::string> unusableOutputFolder(const std::string& folder);

// Sets G_CARPETA_GENERACION to the program's folder, "/RET-PERC" and "/", creating the folder when it is missing.
// Reports its own errors (prepareOutputFolder's messages, each in a box) and always returns normally.
void Crear_Carpeta(Form1& form);
// The same for the output folder `folder` (no trailing separator), as the command line names it.
void Crear_Carpeta(Form1& form, const std::string& folder);

// True when `path` names an existing file or folder, or when the test itself failed (after its message).
bool EXISTE_ARCHIVO(Form1& form, const std::string& path);
