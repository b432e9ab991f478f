#include "export/StartUp.h"

#include "export/Form1.h"
#include "export/OutputFolder.h"
#include "platform/FileSystem.h"
#include "runtime/RuntimeError.h"
#include "selection/TaxpayerList.h"

void Form_Load(Form1& form) {
    try {
        Crear_Carpeta(form);
        const bool connected = Conectar_Base(form);
        if (connected) Cargar_Contribuyentes(*form.Conn, form.controls);
    } catch (const std::exception& e) {
        form.messages.MsgBox("Error : FORM_LOAD -" + RuntimeError::describe(e), MsgIcon::Critical, MsgButtons::OK);
    }
}

bool Conectar_Base(Form1& form) { return Conectar_Base(form, FileSystem::joinPath(form.appPath, "Impuest.mdb")); }

std::unique_ptr<Database> openDatabase(Workspace& workspace, const std::string& path) {
    try {
        return workspace.OpenDatabase(path, false, false, ";pwd=Kb7731R28");
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool Conectar_Base(Form1& form, const std::string& path) {
    try {
        form.WS = form.createWorkspace();
        form.Conn = openDatabase(*form.WS, path);
    } catch (const std::exception&) {
        form.Conn.reset();
    }
    if (form.Conn) return true;
    form.messages.MsgBox(kConnectionFailed, MsgIcon::Information, MsgButtons::OK, "Atención");
    return false;
}

void Command2_Click(Form1& form) {
    form.controls.set_txt_desde("200001");
    form.controls.set_txt_hasta("222201");
}

void btn_borrar_Click(Form1& form) {
    form.controls.set_txt_desde("");
    form.controls.set_txt_hasta("");
}

void Command3_Click(Form1& form) {
    if (form.Conn) form.Conn->Close();
    if (form.WS) form.WS->Close();
    form.Conn.reset();
    form.WS.reset();
}
