#include "export/BatchExport.h"

#include "export/ExportCommands.h"
#include "export/OutputFolder.h"
#include "export/StartUp.h"
#include "platform/MessageBoxes.h"
#include "platform/OutputFile.h"
#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "runtime/Value.h"
#include "selection/RangeValidation.h"
#include "selection/TaxpayerList.h"
#include "workbook/XlsxSheet.h"

#include <unordered_map>
#include <unordered_set>

// The movements one export has written, and the agents' CUITs among them when they are to be checked.
class MovementTally final : public ExportObserver {
public:
    explicit MovementTally(const BatchOptions& options)
        : m_counting(options.count), m_dropEmpty(options.all && !options.count), m_agents(options.check) {}

    void start() {
        m_movements = 0;
        m_agentCuits.clear();
        m_agentIndex.clear();
    }

    void exportRestarted() override { start(); }

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
    std::int64_t m_movements = 0;
    std::vector<std::pair<std::string, std::int64_t>> m_agentCuits;
    std::unordered_map<std::string, std::size_t> m_agentIndex;
};

// Message boxes without a user: the overwrite question gets the answer the options chose, every other box OK.
// The boxes of one taxpayer are kept until the next begins.
class BatchBoxes final : public MessageBoxes {
public:
    struct Box {
        std::string text;
        MsgIcon icon;
        MsgAnswer answer;
        std::optional<std::string> title;
    };

    explicit BatchBoxes(MsgAnswer overwrite) : m_overwrite(overwrite) {}

    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title) override {
        const MsgAnswer answer = buttons == MsgButtons::YesNo ? m_overwrite : MsgAnswer::OK;
        m_shown.push_back({text, icon, answer, title});
        return answer;
    }

    const std::vector<Box>& shown() const noexcept { return m_shown; }
    void clear() noexcept { m_shown.clear(); }

private:
    MsgAnswer m_overwrite;
    std::vector<Box> m_shown;
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
      m_tally(std::make_unique<MovementTally>(m_options)),
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
    // Any text stands for the list's entries, which hold "- " and are never blank.
    if (m_options.all) entries = {"-"};
    if (entries.empty()) entries.emplace_back();
    for (const std::string& entry : entries) {
        m_controls.combo = entry;
        m_boxes->clear();
        try {
            if (!Validar_Datos(m_controls, *m_boxes)) return m_boxes->shown().front().text;
        } catch (const std::exception& e) {
            return RuntimeError::describe(e);
        }
    }
    return std::nullopt;
}

bool BatchExport::start(std::vector<std::string>& messages) {
    m_boxes->clear();
    const bool connected =
        m_options.database.empty() ? Conectar_Base(m_form) : Conectar_Base(m_form, m_options.database);
    // A count writes nothing, not even the folder.
    if (connected && m_options.count) {
        m_form.G_CARPETA_GENERACION =
            (m_options.folder.empty() ? m_form.appPath + "/RET-PERC" : m_options.folder) + "/";
    } else if (connected) {
        if (m_options.folder.empty())
            Crear_Carpeta(m_form);
        else
            Crear_Carpeta(m_form, m_options.folder);
    }
    for (const BatchBoxes::Box& box : m_boxes->shown()) messages.push_back(box.text);
    if (connected) m_command = std::make_unique<CommandScope>(*m_form.Conn);
    return connected;
}

std::vector<BatchTaxpayer> BatchExport::taxpayers() {
    std::vector<BatchTaxpayer> chosen;
    if (!m_options.all) {
        for (const std::string& reference : m_options.taxpayers) chosen.push_back({reference, reference});
        return chosen;
    }
    std::unordered_set<std::string> seen;
    forEachTaxpayer(*m_form.Conn, [&](const std::string& reference, const std::string& name) {
        if (seen.insert(reference).second) chosen.push_back({reference, listEntry(reference, name)});
    });
    return chosen;
}

TaxpayerResult BatchExport::run(const BatchTaxpayer& taxpayer) {
    TaxpayerResult result;
    result.reference = taxpayer.reference;
    m_boxes->clear();
    m_tally->start();
    m_controls.combo = taxpayer.entry;
    m_target.clear();
    bool found = false;
    try {
        // The lookup below and the command read the file as it is when the taxpayer's turn comes.
        std::optional<CommandScope> command;
        if (m_form.Conn) command.emplace(*m_form.Conn);
        // The command looks the taxpayer up too; this lookup gives the reference as stored and the file's path
        // before the command runs, for the report and for a workbook's target.
        std::int32_t key = 0;
        std::string stored;
        found = Obtener_Contribuyente(m_form.Conn.get(), m_controls, key, stored);
        if (found) {
            result.reference = stored;
            m_target = ruta_salida(m_form, stored, extension(m_options.format));
        }
        // The workbook command asks nothing before it replaces a file: a file to keep is kept here.
        const bool workbook = m_options.format == BatchFormat::Xls || m_options.format == BatchFormat::Xlsx;
        if (found && workbook && !m_options.replace && !m_options.count && EXISTE_ARCHIVO(m_form, m_target)) {
            result.outcome = BatchOutcome::Kept;
            result.detail = m_target;
            for (const BatchBoxes::Box& box : m_boxes->shown()) result.notices.push_back(box.text);
        } else {
            runCommand();
            result = outcome(std::move(result));
        }
    } catch (const std::exception& e) {
        result.outcome = BatchOutcome::Error;
        result.detail = RuntimeError::describe(e);
    }
    if (m_options.check && found) {
        const auto check = [&](bool agent, const std::string& value, std::int64_t movements) {
            const CuitProblem problem = cuitProblem(value);
            if (problem != CuitProblem::None) result.problems.push_back({agent, value, movements, problem});
        };
        check(false, result.reference, result.movements);
        // A failed export leaves no file, so no agent of its movements is reported.
        if (result.outcome != BatchOutcome::Error)
            for (const auto& [cuit, movements] : m_tally->agentCuits()) check(true, cuit, movements);
    }
    return result;
}

void BatchExport::runCommand() {
    switch (m_options.format) {
        case BatchFormat::Txt: btn_gen_txt_orv_Click(m_form); break;
        case BatchFormat::Csv: btn_gen_csv_Click(m_form); break;
        case BatchFormat::Xls: BTN_XLS_Click(m_form); break;
        case BatchFormat::Xlsx: exportWorkbook(m_form, extension(BatchFormat::Xlsx)); break;
    }
}

TaxpayerResult BatchExport::outcome(TaxpayerResult result) const {
    result.movements = m_tally->movements();
    for (const BatchBoxes::Box& box : m_boxes->shown()) {
        const std::string_view text = box.text;
        if (box.title == "** ERROR **") {
            // The commands' handlers end their message with "Motivo: " and the error's description.
            const std::size_t reason = text.find("Motivo: ");
            result.outcome = BatchOutcome::Error;
            result.detail = reason == std::string_view::npos ? text : text.substr(reason + 8);
        } else if (box.icon == MsgIcon::None) {
            // The workbook driver's handler shows the description alone.
            result.outcome = BatchOutcome::Error;
            result.detail = text;
        } else if (trimBlanks(text) == "No se pudo encontrar el ID del contribuyente!!!") {
            result.outcome = BatchOutcome::NotFound;
        } else if (box.answer == MsgAnswer::No) {
            result.outcome = BatchOutcome::Kept;
            result.detail = m_target;
        } else if (trimBlanks(text).starts_with("Archivo Generado : ")) {
            result.outcome = m_options.count        ? BatchOutcome::Counted
                             : m_tally->keepsFile() ? BatchOutcome::Written
                                                    : BatchOutcome::None;
            result.detail = m_target;
        } else {
            if (box.answer != MsgAnswer::Yes) result.notices.push_back(box.text);
            continue;
        }
        return result;
    }
    result.outcome = BatchOutcome::Error;
    result.detail = "the command ended without telling how";
    return result;
}
