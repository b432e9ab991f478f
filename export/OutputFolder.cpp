#include "export/OutputFolder.h"

#include "export/Form1.h"
#include "platform/FileSystem.h"
#include "runtime/RuntimeError.h"

void Crear_Carpeta(Form1& form) { Crear_Carpeta(form, form.appPath + "/RET-PERC"); }

void Crear_Carpeta(Form1& form, const std::string& folder) {
    try {
        form.G_CARPETA_GENERACION = folder;
        if (!EXISTE_ARCHIVO(form, form.G_CARPETA_GENERACION)) FileSystem::MkDir(form.G_CARPETA_GENERACION);
        form.G_CARPETA_GENERACION += "/";
    } catch (const RuntimeError& e) {
        form.messages.MsgBox("Error : " + form.G_CARPETA_GENERACION + "-" + e.Description(), MsgIcon::Critical,
                             MsgButtons::OK);
    }
}

bool EXISTE_ARCHIVO(Form1& form, const std::string& path) {
    try {
        return FileSystem::exists(path);
    } catch (const RuntimeError&) {
        form.messages.MsgBox("ERROR : EXISTE_ARCHIVO - " + path, MsgIcon::Critical, MsgButtons::OK);
        return true;
    }
}
