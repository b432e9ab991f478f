#include "export/ExportTaxpayer.h"

#include "export/ExportCommands.h"
#include "extraction/DeclarationWalk.h"
#include "extraction/ExportState.h"
#include "formats/RecordLine.h"
#include "formats/SpreadsheetRows.h"
#include "platform/FileSystem.h"
#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "runtime/UserNumbers.h"
#include "runtime/Value.h"
#include "selection/Form1Controls.h"
#include "selection/TaxpayerList.h"
#include "workbook/XlsCellGrid.h"
#include "workbook/XlsxWorkbook.h"

#include <unordered_map>
#include <utility>

namespace {

const char* extensionOf(ExportFormat format) {
    switch (format) {
        case ExportFormat::Txt: return ".txt";
        case ExportFormat::Csv: return ".csv";
        case ExportFormat::Xls: return ".XLS";
        case ExportFormat::Xlsx: return ".xlsx";
    }
    return "";
}

int errorNumber(const std::exception& e) {
    const auto* runtime = dynamic_cast<const RuntimeError*>(&e);
    return runtime ? runtime->Number() : 0;
}

// The output channel of a count: it opens nothing and keeps no line, so that a line's text is only checked.
class NoFile final : public OutputFile {
public:
    void Open(const std::string&) override { m_open = true; }
    void PrintLine(std::string_view) override {}
    void Close() override { m_open = false; }
    void Abandon() noexcept override { m_open = false; }
    bool isOpen() const noexcept override { return m_open; }
    bool KeepsLines() const noexcept override { return false; }

private:
    bool m_open = false;
};

// What an export is watched for on the request's behalf, everything passed on to the form's observer: the agents'
// CUITs of the movements written, when they are to be checked.
class Watch final : public ExportObserver {
public:
    Watch(ExportObserver* next, bool agents) : m_next(next), m_agents(agents) {}

    void exportStarted(const std::string& reference) override {
        if (m_next) m_next->exportStarted(reference);
    }
    void exportRestarted() override {
        m_agentCuits.clear();
        m_agentIndex.clear();
        if (m_next) m_next->exportRestarted();
    }
    void declarationsChosen(std::int64_t count) override {
        if (m_next) m_next->declarationsChosen(count);
    }
    void movementWritten(const Movement& movement) override {
        if (m_agents) {
            const auto [it, added] =
                m_agentIndex.try_emplace(Conv::textOrEmpty(movement.Per_CUIT), m_agentCuits.size());
            if (added) m_agentCuits.emplace_back(it->first, 0);
            ++m_agentCuits[it->second].second;
        }
        if (m_next) m_next->movementWritten(movement);
    }
    void declarationDone() override {
        if (m_next) m_next->declarationDone();
    }
    bool stopRequested() override { return m_next && m_next->stopRequested(); }
    bool replaceExisting(const std::string& path) override { return m_next && m_next->replaceExisting(path); }
    void existenceTestFailed(const std::string& path) override {
        if (m_next) m_next->existenceTestFailed(path);
    }

    ExportObserver* next() const noexcept { return m_next; }
    // Each agent's CUIT with its movements, in the order first met.
    const std::vector<std::pair<std::string, std::int64_t>>& agentCuits() const noexcept { return m_agentCuits; }

private:
    ExportObserver* m_next;
    bool m_agents;
    std::vector<std::pair<std::string, std::int64_t>> m_agentCuits;
    std::unordered_map<std::string, std::size_t> m_agentIndex;
};

// What an export runs with, taken from the form for the request: the controls hold what the request says, as the
// window's boxes would; the rest is the form's, and goes back to it when the export ends.
class Job {
public:
    Job(ExportState& form, const ExportRequest& request) : m_form(form), state(m_controls) {
        m_controls.combo = request.reference;
        m_controls.desde = request.desde;
        m_controls.hasta = request.hasta;
        m_controls.separador = request.dialect;
        swap(form, state);
    }
    ~Job() {
        // A reading serves the next command only where the form keeps it (a batch's).
        if (!state.keepsReading) state.reading.reset();
        swap(state, m_form);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

private:
    static void swap(ExportState& from, ExportState& to) noexcept {
        std::swap(from.Conn, to.Conn);
        std::swap(from.reading, to.reading);
        std::swap(from.keepsReading, to.keepsReading);
        std::swap(from.file1, to.file1);
        std::swap(from.vExcelSheet, to.vExcelSheet);
        std::swap(from.createObject, to.createObject);
        std::swap(from.G_SC, to.G_SC);
        std::swap(from.G_SD, to.G_SD);
        std::swap(from.G_TIPO_ARCHIVO, to.G_TIPO_ARCHIVO);
        std::swap(from.observer, to.observer);
        std::swap(from.movementsWritten, to.movementsWritten);
    }

    ExportState& m_form;
    PlainControls m_controls;

public:
    ExportState state;
};

// Throws away what an export read from a file that changed meanwhile, before it starts again.
void restart(ExportState& form) {
    if (form.file1->isOpen()) form.file1->Abandon();
    form.vExcelSheet.reset();
    form.movementsWritten = 0;
    if (form.observer) form.observer->exportRestarted();
}

// Whether `path` names an existing file or folder; when that cannot be told, the observer hears of it and the
// file counts as existing.
bool exists(ExportState& form, const std::string& path) {
    try {
        return FileSystem::exists(path);
    } catch (const RuntimeError&) {
        if (form.observer) form.observer->existenceTestFailed(path);
        return true;
    }
}

// Writes the TXT or CSV file of the taxpayer `key` at `path`, as the text commands do after their questions.
void writeText(ExportState& form, const ExportRequest& request, std::int32_t key, const std::string& path,
               ExportOutcome& outcome) {
    std::unique_ptr<OutputFile> file;
    if (request.countOnly) file = std::exchange(form.file1, std::make_unique<NoFile>());
    try {
        form.movementsWritten = 0;
        // The file is written aside and takes the target's place only when the whole export succeeded, from a
        // reading of the database during which the file did not change.
        readUnchangedFile(
            *form.Conn, form.reading,
            [&](Reading&) {
                form.file1->Open(path);
                if (request.format == ExportFormat::Csv) {
                    Escribir_Cabecera_CSV(*form.file1, form.G_SC);
                    Generar_CSV(form, key);
                } else {
                    Generar_TXT(form, key);
                }
            },
            [&] { restart(form); });
        outcome.movements = form.movementsWritten;
        if (request.countOnly) {
            form.file1->Close();
            outcome.kind = ExportOutcome::Kind::Counted;
        } else if (request.dropEmpty && form.movementsWritten == 0) {
            form.file1->Abandon();
            outcome.kind = ExportOutcome::Kind::Empty;
        } else {
            form.file1->Close();
            outcome.kind = ExportOutcome::Kind::Written;
        }
    } catch (...) {
        outcome.movements = form.movementsWritten;
        if (form.file1->isOpen()) form.file1->Abandon();
        if (file) form.file1 = std::move(file);
        throw;
    }
    if (file) form.file1 = std::move(file);
}

// A workbook has a row for each movement under its header: a range with more movements than the format has rows
// is refused before the file is touched, rather than failing at the row past the last. Why, in Spanish; empty
// when the workbook holds them (or the format is not a workbook).
std::string rowsRefused(ExportState& form, const ExportRequest& request, std::int32_t key) {
    if (request.format != ExportFormat::Xls && request.format != ExportFormat::Xlsx) return {};
    const bool xls = request.format == ExportFormat::Xls;
    const std::int64_t rows = std::int64_t(xls ? XlsCellGrid::RowLimit : XlsxWorkbook::RowLimit) - 1;
    std::int64_t movements = 0;
    readUnchangedFile(*form.Conn, form.reading, [&](Reading&) { movements = contarMovimientos(form, key, rows); });
    if (movements <= rows) return {};
    return "El rango pedido tiene más de " + userCount(rows) + " movimientos, y una planilla " +
           (xls ? ".XLS" : ".XLSX") + " tiene " + userCount(rows + 1) +
           " filas: una para los títulos y una por movimiento.";
}

}  // namespace

std::string outputPath(const std::string& folder, const std::string& reference, const std::string& desde,
                       const std::string& hasta, const std::string& extension) {
    std::string digits;
    for (char c : reference)
        if (c != '-') digits.push_back(c);
    const std::string name = "RET-PERC-IB-" + std::string(trimBlanks(digits)) + "-" + desde + "-" + hasta + extension;
    // The reference is the database's: a separator in it would name a file in another folder, and on Windows a
    // colon a stream of another file.
    if (!FileSystem::isFileName(name)) throw RuntimeError::badFileName(name);
    return folder + name;
}

bool formatOffered(ExportFormat format) noexcept { return format != ExportFormat::Xlsx || XlsxWorkbook::offered(); }

ExportOutcome exportTaxpayer(ExportState& form, const ExportRequest& request) {
    ExportOutcome outcome;
    Job job(form, request);
    ExportState& state = job.state;
    Watch watch(state.observer, request.checkCuits);
    // The walk tells the watch, which tells the form's observer; the form gets its observer back.
    struct Watching {
        ExportState& state;
        Watch& watch;
        Watching(ExportState& s, Watch& w) : state(s), watch(w) { state.observer = &watch; }
        ~Watching() { state.observer = watch.next(); }
    } watching(state, watch);
    state.movementsWritten = 0;
    try {
        // A reference left blank is refused before it is looked up, as the window's box refuses it.
        if (trimBlanks(request.reference).empty()) return outcome;
        if (!formatOffered(request.format))
            throw RuntimeError(RuntimeError::SpreadsheetError, XlsxWorkbook::notOffered());
        switch (request.format) {
            case ExportFormat::Txt:
                state.G_SC = ";";
                state.G_SD = "";
                state.G_TIPO_ARCHIVO = "TXT";
                break;
            case ExportFormat::Csv:
                Leer_Separadores(state.controls, state.G_SC, state.G_SD);
                state.G_TIPO_ARCHIVO = "CSV";
                break;
            case ExportFormat::Xls:
            case ExportFormat::Xlsx: state.G_TIPO_ARCHIVO = "XLS"; break;
        }
        if (!state.Conn) throw RuntimeError::databaseNotOpen();
        std::int32_t key = 0;
        bool found = false;
        readUnchangedFile(*state.Conn, state.reading, [&](Reading& reading) {
            found = Obtener_Contribuyente(reading, state.controls, key, outcome.reference);
        });
        if (!found) {
            outcome.kind = ExportOutcome::Kind::NotFound;
        } else {
            outcome.path = outputPath(request.folder, outcome.reference, request.desde, request.hasta,
                                      extensionOf(request.format));
            const bool present = request.existing != ExistingFile::Replace && exists(state, outcome.path);
            if (present && (request.existing == ExistingFile::Keep || !watch.replaceExisting(outcome.path))) {
                outcome.kind = ExportOutcome::Kind::Kept;
            } else {
                watch.exportStarted(outcome.reference);
                if (std::string refused = rowsRefused(state, request, key); !refused.empty()) {
                    outcome.kind = ExportOutcome::Kind::TooManyRows;
                    outcome.description = std::move(refused);
                    return outcome;
                }
                if (request.format == ExportFormat::Txt || request.format == ExportFormat::Csv) {
                    writeText(state, request, key, outcome.path, outcome);
                } else {
                    if (request.format == ExportFormat::Xlsx)
                        state.createObject = [&](const std::string&) -> std::unique_ptr<ExcelSheet> {
                            if (request.countOnly) return XlsxWorkbook::createChecking();
                            return XlsxWorkbook::create(outcome.path);
                        };
                    const ExportOutcome driven = Generar_XLS(state, key, outcome.path, [&](std::int64_t movements) {
                        return !request.countOnly && !(request.dropEmpty && movements == 0);
                    });
                    outcome.kind = driven.kind;
                    outcome.movements = driven.movements;
                    outcome.description = driven.description;
                    outcome.error = driven.error;
                    outcome.inDriver = driven.inDriver;
                    outcome.workbookCreated = driven.workbookCreated;
                    if (outcome.kind == ExportOutcome::Kind::Written && request.countOnly)
                        outcome.kind = ExportOutcome::Kind::Counted;
                    else if (outcome.kind == ExportOutcome::Kind::Written && request.dropEmpty &&
                             outcome.movements == 0)
                        outcome.kind = ExportOutcome::Kind::Empty;
                }
            }
        }
    } catch (const ExportCancelled&) {
        state.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Cancelled;
    } catch (const std::exception& e) {
        state.vExcelSheet.reset();
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
        outcome.error = errorNumber(e);
    }
    if (outcome.movements == 0) outcome.movements = state.movementsWritten;
    if (request.checkCuits && !outcome.reference.empty()) {
        const auto check = [&](bool agent, const std::string& value, std::int64_t movements) {
            const CuitProblem problem = cuitProblem(value);
            if (problem != CuitProblem::None) outcome.problems.push_back({agent, value, movements, problem});
        };
        check(false, outcome.reference, outcome.movements);
        // A failed or stopped export leaves no file, so no agent of its movements is reported.
        if (outcome.kind != ExportOutcome::Kind::Failed && outcome.kind != ExportOutcome::Kind::Cancelled)
            for (const auto& [cuit, movements] : watch.agentCuits()) check(true, cuit, movements);
    }
    return outcome;
}
