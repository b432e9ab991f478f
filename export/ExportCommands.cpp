#include "export/ExportCommands.h"

#include "export/Form1.h"
#include "export/OutputFolder.h"
#include "extraction/DeclarationWalk.h"
#include "formats/RecordLine.h"
#include "formats/SpreadsheetRows.h"
#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "selection/RangeValidation.h"
#include "selection/TaxpayerList.h"

namespace {

struct TextCommand {
    const char* notFound;
    const char* extension;
    const char* existsQuestion;
    const char* errorLine1;
    const char* errorLine2;
    bool csv;
};

constexpr TextCommand kTxt{"No se pudo encontrar el ID del contribuyente!!!",
                           ".txt",
                           "  El archivo ya existe! ... ",
                           "Error al crear el archivo!!, si lo tiene abierto en otro programa ",
                           "ciérrelo y vuelva a intentarlo.",
                           false};
constexpr TextCommand kCsv{" No se pudo encontrar el ID del contribuyente!!!",
                           ".csv",
                           "El archivo ya existe! ... ",
                           "Error al crear el archivo!!, si lo tiene abierto en MS Excel",
                           "u otro programa, ciérrelo y vuelva a intentarlo.",
                           true};

constexpr const char* kCancelled = "Exportación cancelada. No se generó el archivo.";

// The number of a run-time error; 0 for another failure.
int errorNumber(const std::exception& e) {
    const auto* runtime = dynamic_cast<const RuntimeError*>(&e);
    return runtime ? runtime->Number() : 0;
}

// The command's reading of the database file, dropped when the command ends unless the form keeps it for the next
// command (a batch's).
class CommandReading {
public:
    explicit CommandReading(Form1& form) : m_form(form) {}
    ~CommandReading() {
        if (!m_form.keepsReading) m_form.reading.reset();
    }
    CommandReading(const CommandReading&) = delete;
    CommandReading& operator=(const CommandReading&) = delete;

private:
    Form1& m_form;
};

// Throws away what an export read from a file that changed meanwhile, before it starts again.
void restart(Form1& form) {
    if (form.file1->isOpen()) form.file1->Abandon();
    form.vExcelSheet.reset();
    form.movementsWritten = 0;
    if (form.observer) form.observer->exportRestarted();
}

// The chosen taxpayer's key and reference; false, after `notFound` is shown, when the list has none such.
bool buscarContribuyente(Form1& form, const char* notFound, std::int32_t& key, std::string& reference) {
    if (!form.Conn) throw RuntimeError::databaseNotOpen();
    bool found = false;
    readUnchangedFile(*form.Conn, form.reading,
                      [&](Reading& reading) { found = Obtener_Contribuyente(reading, form.controls, key, reference); });
    if (found) return true;
    form.messages.MsgBox(notFound, MsgIcon::Critical, MsgButtons::OK);
    return false;
}

ExportOutcome exportText(Form1& form, const TextCommand& command) {
    ExportOutcome outcome;
    const CommandReading commandReading(form);
    try {
        if (!Validar_Datos(form.controls, form.messages)) return outcome;
        if (command.csv) {
            Leer_Separadores(form.controls, form.G_SC, form.G_SD);
            form.G_TIPO_ARCHIVO = "CSV";
        } else {
            form.G_SC = ";";
            form.G_SD = "";
            form.G_TIPO_ARCHIVO = "TXT";
        }
        std::int32_t key = 0;
        std::string reference;
        if (!buscarContribuyente(form, command.notFound, key, reference)) {
            outcome.kind = ExportOutcome::Kind::NotFound;
            return outcome;
        }
        outcome.reference = reference;
        const std::string path = ruta_salida(form, reference, command.extension);
        outcome.path = path;
        if (EXISTE_ARCHIVO(form, path)) {
            const MsgAnswer answer = form.messages.MsgBox(
                std::string(command.existsQuestion) + "\n\n" + " Desea sobreescribir el archivo?? ", MsgIcon::Question,
                MsgButtons::YesNo);
            if (answer == MsgAnswer::No) {
                outcome.kind = ExportOutcome::Kind::Kept;
                return outcome;
            }
        }
        if (form.observer) form.observer->exportStarted(reference);
        form.movementsWritten = 0;
        // The file is written aside and takes the target's place only when the whole export succeeded, from a
        // reading of the database during which the file did not change.
        readUnchangedFile(
            *form.Conn, form.reading,
            [&](Reading&) {
                form.file1->Open(path);
                if (command.csv) {
                    Escribir_Cabecera_CSV(*form.file1, form.G_SC);
                    Generar_CSV(form, key);
                } else {
                    Generar_TXT(form, key);
                }
            },
            [&] { restart(form); });
        form.file1->Close();
        outcome.kind = ExportOutcome::Kind::Written;
        outcome.movements = form.movementsWritten;
        form.messages.MsgBox(" Archivo Generado : " + path, MsgIcon::Information, MsgButtons::OK);
    } catch (const ExportCancelled&) {
        if (form.file1->isOpen()) form.file1->Abandon();
        outcome.kind = ExportOutcome::Kind::Cancelled;
        form.messages.MsgBox(kCancelled, MsgIcon::Information, MsgButtons::OK);
    } catch (const std::exception& e) {
        if (form.file1->isOpen()) form.file1->Abandon();
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
        outcome.error = errorNumber(e);
        form.messages.MsgBox(
            std::string(command.errorLine1) + "\r" + command.errorLine2 + "\r\r" + "Motivo: " + outcome.description,
            MsgIcon::Critical, MsgButtons::OK, "** ERROR **");
    }
    return outcome;
}

}  // namespace

std::string ruta_salida(const Form1& form, const std::string& reference, const std::string& extension) {
    std::string digits;
    for (char c : reference)
        if (c != '-') digits.push_back(c);
    const std::string name = "RET-PERC-IB-" + std::string(trimBlanks(digits)) + "-" + form.controls.txt_desde() + "-" +
                             form.controls.txt_hasta() + extension;
    // The reference is the database's: a separator in it would name a file in another folder.
    if (name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) throw RuntimeError::badFileName(name);
    return form.G_CARPETA_GENERACION + name;
}

ExportOutcome btn_gen_txt_orv_Click(Form1& form) { return exportText(form, kTxt); }

ExportOutcome btn_gen_csv_Click(Form1& form) { return exportText(form, kCsv); }

ExportOutcome BTN_XLS_Click(Form1& form) { return exportWorkbook(form, ".XLS"); }

ExportOutcome exportWorkbook(Form1& form, const std::string& extension) {
    ExportOutcome outcome;
    const CommandReading commandReading(form);
    try {
        if (!Validar_Datos(form.controls, form.messages)) return outcome;
        form.G_TIPO_ARCHIVO = "XLS";
        std::int32_t key = 0;
        std::string reference;
        if (!buscarContribuyente(form, kTxt.notFound, key, reference)) {
            outcome.kind = ExportOutcome::Kind::NotFound;
            return outcome;
        }
        outcome.reference = reference;
        outcome.path = ruta_salida(form, reference, extension);
        if (form.observer && form.observer->keepsExistingWorkbook() && EXISTE_ARCHIVO(form, outcome.path)) {
            outcome.kind = ExportOutcome::Kind::Kept;
            return outcome;
        }
        if (form.observer) form.observer->exportStarted(reference);
        const ExportOutcome generated = Generar_XLS(form, key, outcome.path);
        outcome.kind = generated.kind;
        outcome.movements = generated.movements;
        outcome.description = generated.description;
        outcome.error = generated.error;
    } catch (const std::exception& e) {
        form.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
        outcome.error = errorNumber(e);
        form.messages.MsgBox(std::string("Error al crear el archivo!! ") + "\r\r" + "Motivo: " + outcome.description,
                             MsgIcon::Critical, MsgButtons::OK, "** ERROR **");
    }
    return outcome;
}

ExportOutcome Generar_XLS(Form1& form, std::int32_t& key, const std::string& path) {
    ExportOutcome outcome;
    const CommandReading commandReading(form);
    outcome.path = path;
    bool created = false;
    try {
        if (!form.Conn) throw RuntimeError::databaseNotOpen();
        form.movementsWritten = 0;
        // The workbook is filled from a reading of the database during which the file did not change.
        readUnchangedFile(
            *form.Conn, form.reading,
            [&](Reading&) {
                form.vExcelSheet = form.createObject("Excel.Sheet");
                created = true;
                form.vExcelSheet->Application().setVisible(false);
                std::int32_t row = 1;
                Escribir_Cabecera_XLS(*form.vExcelSheet, row);
                recorrer_declaraciones(form, key, row);
            },
            [&] {
                created = false;
                restart(form);
            });
        form.vExcelSheet->SaveAs(path);
        form.vExcelSheet->Application().Quit();
        form.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Written;
        outcome.movements = form.movementsWritten;
        form.messages.MsgBox("Archivo Generado : " + path, MsgIcon::Information, MsgButtons::OK);
    } catch (const ExportCancelled&) {
        // Asked for by the user: the workbook is dropped unsaved, and nothing is shown to be closed.
        form.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Cancelled;
        form.messages.MsgBox(kCancelled, MsgIcon::Information, MsgButtons::OK);
    } catch (const std::exception& e) {
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
        outcome.error = errorNumber(e);
        form.messages.MsgBox(outcome.description, MsgIcon::None, MsgButtons::OK);
        if (created) {
            // No spreadsheet application is there to show the partly filled workbook: it is discarded unsaved.
            form.vExcelSheet->Application().setVisible(true);
            form.vExcelSheet.reset();
            form.messages.MsgBox(
                "Se detectó un error, cierre MS Excel si lo tiene abierto, e intente generar la planilla nuevamente.",
                MsgIcon::Information, MsgButtons::OK);
        }
    }
    return outcome;
}
