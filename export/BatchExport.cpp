#include "export/BatchExport.h"

#include "export/ExportCommands.h"
#include "export/OutputFolder.h"
#include "export/StartUp.h"
#include "extraction/DeclarationWalk.h"
#include "platform/MessageBoxes.h"
#include "platform/OutputFile.h"
#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "runtime/Value.h"
#include "selection/RangeValidation.h"
#include "selection/TaxpayerList.h"
#include "workbook/XlsxSheet.h"

#include <atomic>
#include <unordered_map>
#include <unordered_set>

// The movements one export has written, and the agents' CUITs among them when they are to be checked.
class MovementTally final : public ExportObserver {
public:
    // `started` is told the reference of each export that starts writing.
    MovementTally(const BatchOptions& options, std::function<void(const std::string&)> started)
        : m_counting(options.count),
          m_dropEmpty(options.all && !options.count),
          m_agents(options.check),
          m_keepWorkbooks(!options.replace && !options.count),
          m_started(std::move(started)) {}

    void start() {
        m_movements = 0;
        m_agentCuits.clear();
        m_agentIndex.clear();
    }

    void exportStarted(const std::string& reference) override { m_started(reference); }
    void exportRestarted() override { start(); }
    bool keepsExistingWorkbook() override { return m_keepWorkbooks; }
    bool stopRequested() override { return m_stop.load(std::memory_order_relaxed); }
    void requestStop() noexcept { m_stop = true; }

    void movementWritten(const Movement& movement) override {
        ++m_movements;
        if (!m_agents) return;
        const auto [it, added] = m_agentIndex.try_emplace(Conv::textOrEmpty(movement.Per_CUIT), m_agentCuits.size());
        if (added) m_agentCuits.emplace_back(it->first, 0);
        ++m_agentCuits[it->second].second;
    }

    std::int64_t movements() const noexcept { return m_movements; }
    // Each agent's CUIT with its movements, in the order first met.
    const std::vector<std::pair<std::string, std::int64_t>>& agentCuits() const noexcept { return m_agentCuits; }
    // False when nothing is to reach the disk: when counting, and for a taxpayer without movements of --all.
    bool keepsFile() const noexcept { return !m_counting && !(m_dropEmpty && m_movements == 0); }

private:
    bool m_counting;
    bool m_dropEmpty;
    bool m_agents;
    bool m_keepWorkbooks;
    std::function<void(const std::string&)> m_started;
    std::atomic<bool> m_stop{false};
    std::int64_t m_movements = 0;
    std::vector<std::pair<std::string, std::int64_t>> m_agentCuits;
    std::unordered_map<std::string, std::size_t> m_agentIndex;
};

// Message boxes without a user: the overwrite question gets the answer the options chose, every other box OK. A box
// reaches the user only while the batch relays it (its refusals and its start).
class BatchBoxes final : public MessageBoxes {
public:
    explicit BatchBoxes(MsgAnswer overwrite) : m_overwrite(overwrite) {}

    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title) override {
        if (m_relayed) {
            ++m_relayedCount;
            m_relayed->MsgBox(text, icon, MsgButtons::OK, title);
        }
        return buttons == MsgButtons::YesNo ? m_overwrite : MsgAnswer::OK;
    }

    // Relays the boxes to `boxes` until relay(nullptr).
    void relay(MessageBoxes* boxes) noexcept { m_relayed = boxes; }
    // How many boxes were relayed.
    int relayed() const noexcept { return m_relayedCount; }

private:
    MsgAnswer m_overwrite;
    MessageBoxes* m_relayed = nullptr;
    int m_relayedCount = 0;
};

// What the relayed boxes say, as texts.
class BoxTexts final : public MessageBoxes {
public:
    explicit BoxTexts(std::vector<std::string>& texts) : m_texts(texts) {}
    MsgAnswer MsgBox(const std::string& text, MsgIcon, MsgButtons, const std::optional<std::string>&) override {
        m_texts.push_back(text);
        return MsgAnswer::OK;
    }

private:
    std::vector<std::string>& m_texts;
};

namespace {

// Output channel 1 of a batch: the real file, which a count never opens and which is abandoned instead of put in
// place when the tally says the export is to leave nothing.
class BatchFile final : public OutputFile {
public:
    BatchFile(const MovementTally& tally, bool counting)
        : m_tally(tally), m_file(counting ? nullptr : makeOutputFile()) {}

    void Open(const std::string& path) override {
        if (m_file)
            m_file->Open(path);
        else
            m_open = true;
    }
    void PrintLine(std::string_view utf8Line) override {
        if (m_file) m_file->PrintLine(utf8Line);
    }
    void Close() override {
        m_open = false;
        if (!m_file) return;
        if (m_tally.keepsFile())
            m_file->Close();
        else
            m_file->Abandon();
    }
    void Abandon() noexcept override {
        m_open = false;
        if (m_file) m_file->Abandon();
    }
    bool isOpen() const noexcept override { return m_file ? m_file->isOpen() : m_open; }
    bool KeepsLines() const noexcept override { return m_file != nullptr; }

private:
    const MovementTally& m_tally;
    std::unique_ptr<OutputFile> m_file;
    bool m_open = false;
};

// The workbook of a batch: its SaveAs does nothing when the tally says the export is to leave nothing.
class BatchSheet final : public ExcelSheet {
public:
    BatchSheet(std::unique_ptr<ExcelSheet> sheet, const MovementTally& tally)
        : m_sheet(std::move(sheet)), m_tally(tally) {}

    ExcelApplication& Application() override { return m_sheet->Application(); }
    void SaveAs(const std::string& path) override {
        if (m_tally.keepsFile()) m_sheet->SaveAs(path);
    }

private:
    std::unique_ptr<ExcelSheet> m_sheet;
    const MovementTally& m_tally;
};

const char* extension(BatchFormat format) {
    switch (format) {
        case BatchFormat::Txt: return ".txt";
        case BatchFormat::Csv: return ".csv";
        case BatchFormat::Xls: return ".XLS";
        case BatchFormat::Xlsx: return ".xlsx";
    }
    return "";
}

}  // namespace

BatchExport::BatchExport(BatchOptions options, std::string workingFolder)
    : m_options(std::move(options)),
      m_boxes(std::make_unique<BatchBoxes>(m_options.replace || m_options.count ? MsgAnswer::Yes : MsgAnswer::No)),
      m_tally(std::make_unique<MovementTally>(m_options,
                                              [this](const std::string& reference) {
                                                  m_target =
                                                      ruta_salida(m_form, reference, extension(m_options.format));
                                              })),
      m_form(m_controls, *m_boxes, std::move(workingFolder)) {
    m_controls.desde = m_options.desde;
    m_controls.hasta = m_options.hasta;
    m_controls.separador = m_options.dialect;
    m_form.observer = m_tally.get();
    m_form.file1 = std::make_unique<BatchFile>(*m_tally, m_options.count);
    m_form.createObject = [this](const std::string& progId) -> std::unique_ptr<ExcelSheet> {
        std::unique_ptr<ExcelSheet> sheet;
        if (m_options.format != BatchFormat::Xlsx)
            sheet = CreateObject(progId);
        else if (m_options.count)
            sheet = std::make_unique<XlsxSheet>();
        else
            sheet = std::make_unique<XlsxSheet>(m_target);
        return std::make_unique<BatchSheet>(std::move(sheet), *m_tally);
    };
}

BatchExport::~BatchExport() = default;

std::optional<std::string> BatchExport::refusal() {
    std::vector<std::string> entries = m_options.taxpayers;
    // The range is checked once, any text standing for the list's entries: a blank one is refused by the box as
    // its turn comes, and reported as not found.
    if (m_options.all) entries = {"-"};
    if (entries.empty()) entries.emplace_back();
    std::vector<std::string> shown;
    BoxTexts texts(shown);
    m_boxes->relay(&texts);
    std::optional<std::string> refused;
    for (const std::string& entry : entries) {
        m_controls.combo = entry;
        try {
            if (!Validar_Datos(m_controls, *m_boxes)) refused = shown.empty() ? std::string() : shown.front();
        } catch (const std::exception& e) {
            refused = RuntimeError::describe(e);
        }
        if (refused) break;
    }
    m_boxes->relay(nullptr);
    return refused;
}

bool BatchExport::start(std::vector<std::string>& messages) {
    BoxTexts texts(messages);
    return start(texts);
}

bool BatchExport::start(MessageBoxes& shown) {
    m_boxes->relay(&shown);
    const bool connected =
        m_options.database.empty() ? Conectar_Base(m_form) : Conectar_Base(m_form, m_options.database);
    // A count writes nothing, not even the folder.
    if (connected && m_options.count) {
        m_form.G_CARPETA_GENERACION =
            (m_options.folder.empty() ? m_form.appPath + "/RET-PERC" : m_options.folder) + "/";
    } else if (connected) {
        // The folder's procedure tells of a failure by its box alone.
        const int before = m_boxes->relayed();
        if (m_options.folder.empty())
            Crear_Carpeta(m_form);
        else
            Crear_Carpeta(m_form, m_options.folder);
        m_folderFailed = m_boxes->relayed() != before;
    }
    m_boxes->relay(nullptr);
    // The batch's exports go on with one reading of the file while it stays as it was read.
    m_form.keepsReading = true;
    return connected;
}

std::vector<BatchTaxpayer> BatchExport::taxpayers() {
    std::vector<BatchTaxpayer> chosen;
    if (!m_options.all) {
        for (const std::string& reference : m_options.taxpayers) chosen.push_back({reference, reference, {}});
        return chosen;
    }
    if (!m_form.Conn) throw RuntimeError::databaseNotOpen();
    readUnchangedFile(
        *m_form.Conn, m_form.reading,
        [&](Reading& reading) {
            std::unordered_set<std::string> seen;
            forEachTaxpayer(reading, [&](const std::string& reference, const std::string& name) {
                if (seen.insert(reference).second) chosen.push_back({reference, reference, name});
            });
        },
        [&] { chosen.clear(); });
    m_upcoming = chosen;
    return chosen;
}

void BatchExport::readAhead(const std::vector<BatchTaxpayer>& taxpayers) {
    try {
        readUnchangedFile(*m_form.Conn, m_form.reading, [&](Reading& reading) {
            std::vector<std::int32_t> keys;
            for (const BatchTaxpayer& taxpayer : taxpayers) {
                m_controls.combo = taxpayer.entry;
                std::int32_t key = 0;
                std::string reference;
                if (Obtener_Contribuyente(reading, m_controls, key, reference)) keys.push_back(key);
            }
            reading.expectMovements(
                keys, [this](const Value& year, const Value& month) { return mayBeExported(m_form, year, month); });
        });
    } catch (const std::exception&) {
        // Reading ahead only saves time: every export reads what it needs anyway, and meets any error itself.
    }
    m_controls.combo.clear();
}

void BatchExport::requestStop() noexcept { m_tally->requestStop(); }

void BatchExport::useWorkspace(std::function<std::unique_ptr<Workspace>()> workspace) {
    m_form.createWorkspace = std::move(workspace);
}

TaxpayerResult BatchExport::run(const BatchTaxpayer& taxpayer) {
    constexpr int kAttempts = 3;
    ExportOutcome outcome;
    if (!m_begun) {
        m_begun = true;
        if (!settle()) {
            m_stoppedByWrites = true;
            return {taxpayer.reference, 0, BatchOutcome::Error, stoppedMessage(), {}};
        }
        readAhead(m_upcoming);
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
    return !m_form.Conn || m_form.Conn->waitUntilSettled(kSettleBound, [this] {
        if (m_waiting) m_waiting();
    });
}

std::string BatchExport::stoppedMessage() const {
    const std::string database = m_options.database.empty() ? m_form.appPath + "/Impuest.mdb" : m_options.database;
    return "La base de datos " + database + " no deja de cambiar: otro programa la está escribiendo. Espere a que " +
           "termine y vuelva a intentarlo.";
}

TaxpayerResult BatchExport::runOnce(const BatchTaxpayer& taxpayer, ExportOutcome& outcome) {
    TaxpayerResult result;
    result.reference = taxpayer.reference;
    m_tally->start();
    m_controls.combo = taxpayer.entry;
    m_target.clear();
    outcome = {};
    try {
        outcome = runCommand();
    } catch (const std::exception& e) {
        outcome.kind = ExportOutcome::Kind::Failed;
        outcome.description = RuntimeError::describe(e);
        if (const auto* runtime = dynamic_cast<const RuntimeError*>(&e)) outcome.error = runtime->Number();
    }
    const bool found = !outcome.reference.empty();
    if (found) result.reference = outcome.reference;
    result.movements = m_tally->movements();
    switch (outcome.kind) {
        case ExportOutcome::Kind::NotFound: result.outcome = BatchOutcome::NotFound; break;
        case ExportOutcome::Kind::Kept:
            result.outcome = BatchOutcome::Kept;
            result.detail = outcome.path;
            break;
        case ExportOutcome::Kind::Written:
            result.outcome = m_options.count        ? BatchOutcome::Counted
                             : m_tally->keepsFile() ? BatchOutcome::Written
                                                    : BatchOutcome::None;
            result.detail = outcome.path;
            break;
        case ExportOutcome::Kind::Cancelled: result.outcome = BatchOutcome::Cancelled; break;
        // The range was accepted before the batch began: what the box refuses is a reference left blank, which
        // it cannot look up.
        case ExportOutcome::Kind::Refused: result.outcome = BatchOutcome::NotFound; break;
        case ExportOutcome::Kind::Failed:
            result.outcome = BatchOutcome::Error;
            result.detail = outcome.description;
            break;
    }
    if (m_options.check && found) {
        const auto check = [&](bool agent, const std::string& value, std::int64_t movements) {
            const CuitProblem problem = cuitProblem(value);
            if (problem != CuitProblem::None) result.problems.push_back({agent, value, movements, problem});
        };
        check(false, result.reference, result.movements);
        // A failed or stopped export leaves no file, so no agent of its movements is reported.
        if (result.outcome != BatchOutcome::Error && result.outcome != BatchOutcome::Cancelled)
            for (const auto& [cuit, movements] : m_tally->agentCuits()) check(true, cuit, movements);
    }
    return result;
}

ExportOutcome BatchExport::runCommand() {
    switch (m_options.format) {
        case BatchFormat::Txt: return btn_gen_txt_orv_Click(m_form);
        case BatchFormat::Csv: return btn_gen_csv_Click(m_form);
        case BatchFormat::Xls: return BTN_XLS_Click(m_form);
        case BatchFormat::Xlsx: return exportWorkbook(m_form, extension(BatchFormat::Xlsx));
    }
    return {};
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
