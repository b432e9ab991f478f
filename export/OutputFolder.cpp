#include "export/OutputFolder.h"

#include "export/Form1.h"
#include "platform/FileSystem.h"
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
        prepared.folder += "/";
    } catch (const RuntimeError& e) {
        prepared.messages.push_back("Error : " + prepared.folder + "-" + e.Description());
    }
    return prepared;
}

void Crear_Carpeta(Form1& form) { Crear_Carpeta(form, form.appPath + "/RET-PERC"); }

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
