#include "export/OutputFolder.h"

#include "export/Form1.h"
#include "platform/FileSystem.h"
#include "platform/SiblingTempFile.h"
#include "platform/SystemError.h"
#include "runtime/RuntimeError.h"

OutputFolder prepareOutputFolder(const std::string& folder) {
    OutputFolder prepared{folder, {}};
    try {
        bool exists = true;
        try {
            exists = FileSystem::exists(folder);
        } catch (const RuntimeError&) {
            // A test that cannot be made counts as an existing entry, after its message.
            prepared.messages.push_back("ERROR : EXISTE_ARCHIVO - " + folder);
        }
        if (!exists) FileSystem::MkDir(folder);
    } catch (const RuntimeError& e) {
        prepared.messages.push_back("Error : " + folder + "-" + e.Description());
    }
    // With its separator even when it could not be made: a file's name joined to the folder's would name a file
    // beside it, which nobody asked for. The export then fails in the missing folder, saying so.
    prepared.folder = FileSystem::joinPath(folder, "");
    return prepared;
}

std::optional<std::string> unusableOutputFolder(const std::string& folder) {
    const std::string named = FileSystem::withoutTrailingSeparators(folder);
    if (!FileSystem::isFolder(named))
        return "La carpeta de salida " + named + " no es una carpeta: es un archivo. Indique otra carpeta.";
    try {
        // A file made and dropped at once, as an export makes its file before it takes the target's place.
        const SiblingTempFile probe(FileSystem::childPath(named, "velmora-prueba"));
    } catch (const std::system_error& e) {
        return "No se pueden guardar archivos en la carpeta de salida " + named + ": " + systemErrorText(e.code()) +
               ". Indique otra carpeta, o pida permiso para escribir en ella.";
    }
    return std::nullopt;
}

void Crear_Carpeta(Form1& form) { Crear_Carpeta(form, FileSystem::joinPath(form.appPath, "RET-PERC")); }

void Crear_Carpeta(Form1& form, const std::string& folder) {
    const OutputFolder prepared = prepareOutputFolder(folder);
    form.G_CARPETA_GENERACION = prepared.folder;
    for (const std::string& message : prepared.messages)
        form.messages.MsgBox(message, MsgIcon::Critical, MsgButtons::OK);
}

bool EXISTE_ARCHIVO(Form1& form, const std::string& path) {
    try {
        return FileSystem::exists(path);
    } catch (const RuntimeError&) {
        form.messages.MsgBox("ERROR : EXISTE_ARCHIVO - " + path, MsgIcon::Critical, MsgButtons::OK);
        return true;
    }
}
