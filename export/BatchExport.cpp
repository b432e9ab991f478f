#include "export/BatchExport.h"

#include "export/OutputFolder.h"
#include "export/StartUp.h"
#include "extraction/DeclarationWalk.h"
#include "platform/FileSystem.h"
#include "platform/MessageBoxes.h"
#include "runtime/RuntimeError.h"
#include "runtime/UserNumbers.h"
#include "runtime/Value.h"
#include "selection/RangeValidation.h"
#include "selection/TaxpayerList.h"
#include "workbook/XlsxWorkbook.h"

#include <unordered_map>

// What the batch's exports are told of as they go: only whether to stop, as the export under way was asked.
class BatchExport::Progress final : public ExportObserver {
public:
    void movementWritten(const Movement&) override {}
    bool stopRequested() override { return stop && (*stop)(); }
    const std::function<bool()>* stop = nullptr;  // during an export, what its caller said
};

namespace {

ExportFormat exportFormat(BatchFormat format) {
    switch (format) {
        case BatchFormat::Txt: return ExportFormat::Txt;
        case BatchFormat::Csv: return ExportFormat::Csv;
        case BatchFormat::Xls: return ExportFormat::Xls;
        case BatchFormat::Xlsx: return ExportFormat::Xlsx;
    }
    return ExportFormat::Txt;
}

}  // namespace

BatchExport::BatchExport(BatchOptions options, std::string workingFolder)
    : m_options(std::move(options)),
      m_workingFolder(std::move(workingFolder)),
      m_progress(std::make_unique<Progress>()),
      m_state(m_controls),
      m_createWorkspace(Workspaces0) {
    m_controls.desde = m_options.desde;
    m_controls.hasta = m_options.hasta;
    m_state.observer = m_progress.get();
    // The batch's exports go on with one reading of the file while it stays as it was read.
    m_state.keepsReading = true;
}

BatchExport::~BatchExport() = default;

std::optional<std::string> BatchExport::refusal() const {
    // The range is checked once, any text standing for the list's entries: a blank one is refused by the box as
    // its turn comes, and reported as not found.
    std::vector<std::string> entries = m_options.taxpayers;
    if (m_options.all) entries = {"-"};
    if (entries.empty()) entries.emplace_back();
    PlainControls controls;
    controls.desde = m_options.desde;
    controls.hasta = m_options.hasta;
    for (const std::string& entry : entries) {
        controls.combo = entry;
        try {
            if (std::optional<std::string> refused = refusalOf(controls)) return refused;
        } catch (const std::exception& e) {
            return RuntimeError::describe(e);
        }
    }
    return std::nullopt;
}

bool BatchExport::start(std::vector<std::string>& messages) {
    try {
        m_workspace = m_createWorkspace();
        m_state.Conn =
            openDatabase(*m_workspace, m_options.database.empty() ? FileSystem::joinPath(m_workingFolder, "Impuest.mdb")
                                                                  : m_options.database);
    } catch (const std::exception&) {
        m_state.Conn.reset();
    }
    if (!m_state.Conn) {
        messages.push_back(kConnectionFailed);
        return false;
    }
    const std::string folder =
        m_options.folder.empty() ? FileSystem::joinPath(m_workingFolder, "RET-PERC") : m_options.folder;
    if (m_options.count) {
        // A count writes nothing, not even the folder.
        m_folder = FileSystem::joinPath(folder, "");
        m_outputReady = true;
        return true;
    }
    OutputFolder prepared = prepareOutputFolder(folder);
    m_folder = prepared.folder;
    if (prepared.ready())
        if (std::optional<std::string> unusable = unusableOutputFolder(folder)) prepared.messages.push_back(*unusable);
    m_outputReady = prepared.ready();
    for (std::string& message : prepared.messages) messages.push_back(std::move(message));
    return true;
}

bool BatchExport::start(MessageBoxes& boxes) {
    std::vector<std::string> messages;
    const bool connected = start(messages);
    for (const std::string& message : messages) {
        if (!connected)
            boxes.MsgBox(message, MsgIcon::Information, MsgButtons::OK, "Atención");
        else
            boxes.MsgBox(message, MsgIcon::Critical, MsgButtons::OK);
    }
    return connected;
}

std::vector<BatchTaxpayer> BatchExport::taxpayers() {
    std::vector<BatchTaxpayer> chosen;
    if (!m_options.all) {
        for (const std::string& reference : m_options.taxpayers) chosen.push_back({reference, reference, {}, {}});
    } else {
        if (!m_state.Conn) throw RuntimeError::databaseNotOpen();
        readUnchangedFile(
            *m_state.Conn, m_state.reading,
            [&](Reading& reading) {
                std::unordered_map<std::string, std::size_t> seen;
                forEachTaxpayer(reading, [&](const std::string& reference, const std::string& name) {
                    const auto [at, first] = seen.emplace(reference, chosen.size());
                    if (first)
                        chosen.push_back({reference, reference, name, {}});
                    else
                        chosen[at->second].sharing.push_back(name);
                });
            },
            [&] { chosen.clear(); });
    }
    m_upcoming = chosen;
    return chosen;
}

void BatchExport::readAhead(const std::vector<BatchTaxpayer>& taxpayers) {
    try {
        readUnchangedFile(*m_state.Conn, m_state.reading, [&](Reading& reading) {
            std::vector<std::int32_t> keys;
            PlainControls typed;
            for (const BatchTaxpayer& taxpayer : taxpayers) {
                typed.combo = taxpayer.entry;
                std::int32_t key = 0;
                std::string reference;
                if (Obtener_Contribuyente(reading, typed, key, reference)) keys.push_back(key);
            }
            reading.expectMovements(
                keys, [this](const Value& year, const Value& month) { return mayBeExported(m_state, year, month); });
        });
    } catch (const std::exception&) {
        // Reading ahead only saves time: every export reads what it needs anyway, and meets any error itself.
    }
}

void BatchExport::useWorkspace(std::function<std::unique_ptr<Workspace>()> workspace) {
    m_createWorkspace = std::move(workspace);
}

TaxpayerResult BatchExport::run(const BatchTaxpayer& taxpayer, const std::function<bool()>& stop) {
    constexpr int kAttempts = 3;
    m_progress->stop = stop ? &stop : nullptr;
    const struct Forget {
        Progress& progress;
        ~Forget() { progress.stop = nullptr; }
    } forget{*m_progress};
    ExportOutcome outcome;
    if (!m_begun) {
        m_begun = true;
        if (!settle()) {
            m_stoppedByWrites = true;
            return {taxpayer.reference, 0, BatchOutcome::Error, stoppedMessage(), {}};
        }
        if (m_state.Conn) readAhead(m_upcoming);
        m_upcoming = {};
    }
    for (int attempt = 1;; ++attempt) {
        TaxpayerResult result = runOnce(taxpayer, outcome);
        if (outcome.kind != ExportOutcome::Kind::Failed || outcome.error != RuntimeError::DatabaseChanged)
            return result;
        if (attempt == kAttempts || !settle()) {
            m_stoppedByWrites = true;
            return result;
        }
    }
}

bool BatchExport::settle() {
    return !m_state.Conn || m_state.Conn->waitUntilSettled(kSettleBound, [this] {
        if (m_waiting) m_waiting();
    });
}

std::string BatchExport::stoppedMessage() const {
    const std::string database =
        m_options.database.empty() ? FileSystem::joinPath(m_workingFolder, "Impuest.mdb") : m_options.database;
    return "La base de datos " + database + " no deja de cambiar: otro programa la está escribiendo. Espere a que " +
           "termine y vuelva a intentarlo.";
}

ExportRequest BatchExport::requestFor(const BatchTaxpayer& taxpayer) const {
    ExportRequest request;
    request.reference = taxpayer.entry;
    request.desde = m_options.desde;
    request.hasta = m_options.hasta;
    request.format = exportFormat(m_options.format);
    request.dialect = m_options.dialect;
    request.folder = m_folder;
    // Without --replace an existing file is kept: the window's question answered No.
    request.existing = m_options.replace || m_options.count ? ExistingFile::Replace : ExistingFile::Keep;
    request.countOnly = m_options.count;
    request.dropEmpty = m_options.all && !m_options.count;
    request.checkCuits = m_options.check;
    return request;
}

TaxpayerResult BatchExport::runOnce(const BatchTaxpayer& taxpayer, ExportOutcome& outcome) {
    outcome = exportTaxpayer(m_state, requestFor(taxpayer));
    TaxpayerResult result;
    result.reference = outcome.reference.empty() ? taxpayer.reference : outcome.reference;
    result.movements = outcome.movements;
    result.problems = outcome.problems;
    switch (outcome.kind) {
        // The range was accepted before the batch began: what is refused is a reference left blank, which the box
        // cannot look up.
        case ExportOutcome::Kind::Refused:
        case ExportOutcome::Kind::NotFound: result.outcome = BatchOutcome::NotFound; break;
        case ExportOutcome::Kind::Kept:
            result.outcome = BatchOutcome::Kept;
            result.detail = outcome.path;
            break;
        case ExportOutcome::Kind::Written:
            result.outcome = BatchOutcome::Written;
            result.detail = outcome.path;
            break;
        case ExportOutcome::Kind::Counted: result.outcome = BatchOutcome::Counted; break;
        case ExportOutcome::Kind::Empty: result.outcome = BatchOutcome::None; break;
        case ExportOutcome::Kind::Cancelled: result.outcome = BatchOutcome::Cancelled; break;
        case ExportOutcome::Kind::Failed:
            result.outcome = BatchOutcome::Error;
            result.detail = outcome.description;
            break;
        case ExportOutcome::Kind::TooManyRows:
            result.outcome = BatchOutcome::Error;
            result.detail = outcome.description + (m_options.format == BatchFormat::Xls && XlsxWorkbook::offered()
                                                       ? " Elija un rango más corto, o el formato TXT, CSV o XLSX."
                                                       : " Elija un rango más corto, o el formato TXT o CSV.");
            break;
    }
    return result;
}

std::string sharedReferenceNote(const BatchTaxpayer& taxpayer) {
    if (taxpayer.sharing.empty()) return {};
    std::string names = taxpayer.name;
    for (std::size_t i = 0; i < taxpayer.sharing.size(); ++i)
        names += (i + 1 == taxpayer.sharing.size() ? " y " : ", ") + taxpayer.sharing[i];
    return "la referencia " + taxpayer.reference + " es de " + std::to_string(taxpayer.sharing.size() + 1) +
           " contribuyentes (" + names + "): se exporta el primero que guarda la base, para todos";
}

void BatchTotals::add(const TaxpayerResult& result) {
    movements += movementsDone(result);
    problems += result.problems.size();
    switch (result.outcome) {
        case BatchOutcome::Written: ++written; break;
        case BatchOutcome::Counted: ++counted; break;
        case BatchOutcome::None: ++none; break;
        case BatchOutcome::Kept: ++kept; break;
        case BatchOutcome::NotFound: ++notFound; break;
        case BatchOutcome::Error:
        case BatchOutcome::Cancelled: ++errors; break;
    }
}

std::string BatchTotals::describe() const {
    const auto n = [](std::size_t count) { return userCount(std::int64_t(count)); };
    return "Archivos generados: " + n(written) + " · sin movimientos: " + n(none) + " · contados: " + n(counted) +
           " · conservados: " + n(kept) + " · no encontrados: " + n(notFound) + " · errores: " + n(errors) +
           " · movimientos: " + userCount(movements) + " · problemas de CUIT: " + n(problems);
}

std::int64_t movementsDone(const TaxpayerResult& result) {
    return result.outcome == BatchOutcome::Error || result.outcome == BatchOutcome::Cancelled ? 0 : result.movements;
}

std::string resultWords(const TaxpayerResult& result) {
    switch (result.outcome) {
        case BatchOutcome::Written: return "written " + result.detail;
        case BatchOutcome::Kept: return "kept " + result.detail;
        case BatchOutcome::Counted: return "counted";
        case BatchOutcome::None: return "none";
        case BatchOutcome::NotFound: return "not found";
        case BatchOutcome::Error: return "error: " + result.detail;
        case BatchOutcome::Cancelled: return "cancelled";
    }
    return {};
}

std::string resultDescription(const TaxpayerResult& result) {
    switch (result.outcome) {
        case BatchOutcome::Written: return "Archivo generado: " + result.detail;
        case BatchOutcome::Kept: return "El archivo ya existía y se conservó: " + result.detail;
        case BatchOutcome::Counted: return "Contado";
        case BatchOutcome::None: return "Sin movimientos en el rango";
        case BatchOutcome::NotFound: return "No se encontró el contribuyente";
        case BatchOutcome::Error: return "Error: " + result.detail;
        case BatchOutcome::Cancelled: return "Cancelado: no se generó el archivo";
    }
    return {};
}

std::string cuitDescription(const TaxpayerResult& result) {
    std::string text;
    for (const CuitFinding& finding : result.problems) {
        if (!text.empty()) text += "; ";
        text += (finding.agent ? "Agente " : "Contribuyente ") + finding.value + ": " +
                (finding.problem == CuitProblem::Form ? "forma incorrecta" : "dígito verificador incorrecto");
        if (finding.agent) text += " (" + std::to_string(finding.movements) + " mov.)";
    }
    return text;
}

bool hasProblem(const TaxpayerResult& result) {
    return !result.problems.empty() || result.outcome == BatchOutcome::NotFound ||
           result.outcome == BatchOutcome::Error || result.outcome == BatchOutcome::Cancelled;
}
