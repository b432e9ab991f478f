#include "export/ExportCommands.h"

#include "export/Form1.h"
#include "extraction/DeclarationWalk.h"
#include "formats/SpreadsheetRows.h"
#include "runtime/RuntimeError.h"
#include "selection/RangeValidation.h"

namespace {

struct TextCommand {
    const char* notFound;
    const char* existsQuestion;
    const char* errorLine1;
    const char* errorLine2;
    ExportFormat format;
};

constexpr TextCommand kTxt{"No se pudo encontrar el ID del contribuyente!!!", "  El archivo ya existe! ... ",
                           "Error al crear el archivo!!, si lo tiene abierto en otro programa ",
                           "ciérrelo y vuelva a intentarlo.", ExportFormat::Txt};
constexpr TextCommand kCsv{" No se pudo encontrar el ID del contribuyente!!!", "El archivo ya existe! ... ",
                           "Error al crear el archivo!!, si lo tiene abierto en MS Excel",
                           "u otro programa, ciérrelo y vuelva a intentarlo.", ExportFormat::Csv};

constexpr const char* kCancelled = "Exportación cancelada. No se generó el archivo.";

// The separator option the CSV command reads: of several chosen, the one Leer_Separadores lets stand; -1 for none.
int chosenSeparator(const Form1Controls& controls) {
    for (const int index : {0, 1, 2})
        if (controls.chk_separador(index)) return index;
    return -1;
}

// The export the window's controls ask for.
ExportRequest requestOf(const Form1& form, ExportFormat format, ExistingFile existing) {
    ExportRequest request;
    request.reference = form.controls.lst_contribuyentes_Text();
    request.desde = form.controls.txt_desde();
    request.hasta = form.controls.txt_hasta();
    request.format = format;
    request.dialect = chosenSeparator(form.controls);
    request.folder = form.G_CARPETA_GENERACION;
    request.existing = existing;
    return request;
}

// The window's side of an export: the existence test's message and the overwrite question, shown as boxes; the
// rest passed on to the form's observer.
class Asking final : public ExportObserver {
public:
    Asking(Form1& form, const char* question) : m_form(form), m_next(form.observer), m_question(question) {
        form.observer = this;
    }
    ~Asking() override { m_form.observer = m_next; }
    Asking(const Asking&) = delete;
    Asking& operator=(const Asking&) = delete;

    bool replaceExisting(const std::string&) override {
        return m_form.messages.MsgBox(std::string(m_question) + "\n\n" + " Desea sobreescribir el archivo?? ",
                                      MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes;
    }
    void existenceTestFailed(const std::string& path) override {
        m_form.messages.MsgBox("ERROR : EXISTE_ARCHIVO - " + path, MsgIcon::Critical, MsgButtons::OK);
    }
    void exportStarted(const std::string& reference) override {
        if (m_next) m_next->exportStarted(reference);
    }
    void exportRestarted() override {
        if (m_next) m_next->exportRestarted();
    }
    void declarationsChosen(std::int64_t count) override {
        if (m_next) m_next->declarationsChosen(count);
    }
    void movementWritten(const Movement& movement) override {
        if (m_next) m_next->movementWritten(movement);
    }
    void declarationDone() override {
        if (m_next) m_next->declarationDone();
    }
    bool stopRequested() override { return m_next && m_next->stopRequested(); }

private:
    Form1& m_form;
    ExportObserver* m_next;
    const char* m_question;
};

ExportOutcome exportText(Form1& form, const TextCommand& command) {
    ExportOutcome outcome;
    try {
        if (!Validar_Datos(form.controls, form.messages)) return outcome;
        const Asking asking(form, command.existsQuestion);
        outcome = exportTaxpayer(form, requestOf(form, command.format, ExistingFile::Ask));
    } catch (const std::exception& e) {
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
    }
    switch (outcome.kind) {
        case ExportOutcome::Kind::NotFound:
            form.messages.MsgBox(command.notFound, MsgIcon::Critical, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::Written:
            form.messages.MsgBox(" Archivo Generado : " + outcome.path, MsgIcon::Information, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::Cancelled:
            form.messages.MsgBox(kCancelled, MsgIcon::Information, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::Failed:
            form.messages.MsgBox(
                std::string(command.errorLine1) + "\r" + command.errorLine2 + "\r\r" + "Motivo: " + outcome.description,
                MsgIcon::Critical, MsgButtons::OK, "** ERROR **");
            break;
        default: break;
    }
    return outcome;
}

}  // namespace

std::string ruta_salida(const Form1& form, const std::string& reference, const std::string& extension) {
    return outputPath(form.G_CARPETA_GENERACION, reference, form.controls.txt_desde(), form.controls.txt_hasta(),
                      extension);
}

ExportOutcome btn_gen_txt_orv_Click(Form1& form) { return exportText(form, kTxt); }

ExportOutcome btn_gen_csv_Click(Form1& form) { return exportText(form, kCsv); }

ExportOutcome BTN_XLS_Click(Form1& form) {
    ExportOutcome outcome;
    try {
        if (!Validar_Datos(form.controls, form.messages)) return outcome;
        // The workbook command asks nothing: the save replaces a file of its name.
        outcome = exportTaxpayer(form, requestOf(form, ExportFormat::Xls, ExistingFile::Replace));
    } catch (const std::exception& e) {
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
    }
    switch (outcome.kind) {
        case ExportOutcome::Kind::NotFound:
            form.messages.MsgBox(kTxt.notFound, MsgIcon::Critical, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::Written:
            form.messages.MsgBox("Archivo Generado : " + outcome.path, MsgIcon::Information, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::Cancelled:
            form.messages.MsgBox(kCancelled, MsgIcon::Information, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::TooManyRows:
            form.messages.MsgBox(outcome.description +
                                     "\r\rElija un rango más corto, o genere el archivo TXT o CSV, "
                                     "que no tienen ese límite.",
                                 MsgIcon::Critical, MsgButtons::OK);
            break;
        case ExportOutcome::Kind::Failed:
            if (!outcome.inDriver) {
                form.messages.MsgBox(
                    std::string("Error al crear el archivo!! ") + "\r\r" + "Motivo: " + outcome.description,
                    MsgIcon::Critical, MsgButtons::OK, "** ERROR **");
                break;
            }
            // The driver's own handler: the description alone, then, when the workbook was made, the advice.
            form.messages.MsgBox(outcome.description, MsgIcon::None, MsgButtons::OK);
            if (outcome.workbookCreated)
                form.messages.MsgBox(
                    "Se detectó un error, cierre MS Excel si lo tiene abierto, e intente generar la "
                    "planilla nuevamente.",
                    MsgIcon::Information, MsgButtons::OK);
            break;
        default: break;
    }
    return outcome;
}

ExportOutcome Generar_XLS(ExportState& form, std::int32_t& key, const std::string& path,
                          const std::function<bool(std::int64_t)>& save) {
    ExportOutcome outcome;
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
                if (form.file1->isOpen()) form.file1->Abandon();
                form.vExcelSheet.reset();
                form.movementsWritten = 0;
                if (form.observer) form.observer->exportRestarted();
            });
        outcome.movements = form.movementsWritten;
        if (!save || save(form.movementsWritten)) form.vExcelSheet->SaveAs(path);
        form.vExcelSheet->Application().Quit();
        form.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Written;
    } catch (const ExportCancelled&) {
        // Asked for by the user: the workbook is dropped unsaved, and nothing is shown to be closed.
        form.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Cancelled;
    } catch (const std::exception& e) {
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
        if (const auto* runtime = dynamic_cast<const RuntimeError*>(&e)) outcome.error = runtime->Number();
        outcome.inDriver = true;
        outcome.workbookCreated = created;
        outcome.movements = form.movementsWritten;
        if (created) {
            // No spreadsheet application is there to show the partly filled workbook: it is discarded unsaved.
            form.vExcelSheet->Application().setVisible(true);
        }
        form.vExcelSheet.reset();
    }
    return outcome;
}
