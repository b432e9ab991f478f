// velmora-export: the window's three export commands, and an .xlsx workbook where the build writes one, for one
// taxpayer, several or all, without a display. Parses the command line, runs a BatchExport and prints one line per
// taxpayer.
#include "export/BatchExport.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/WorkingFolder.h"
#include "runtime/RuntimeError.h"
#include "runtime/UserNumbers.h"
#include "workbook/XlsxWorkbook.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <iostream>

namespace {

// Exit statuses.
constexpr int kAllDone = 0;
constexpr int kSomeFailed = 1;
constexpr int kBadCommandLine = 2;
constexpr int kNoDatabase = 3;
constexpr int kCuitProblems = 4;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A field of an output line, its control characters as blanks: a tab or a line break would split the line, and
// the others would reach the terminal.
std::string field(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return text;
}

// The progress line on standard error, redrawn at most ten times a second and wiped before other output.
class Progress {
public:
    explicit Progress(bool shown) : m_shown(shown) {}

    void update(std::size_t done, std::size_t total, std::int64_t movements, Clock::time_point start) {
        if (!m_shown || (m_drawn && Clock::now() - m_lastDraw < std::chrono::milliseconds(100))) return;
        std::cerr << "\r\033[KContribuyentes: " << userCount(std::int64_t(done)) << " de "
                  << userCount(std::int64_t(total)) << " · movimientos: " << userCount(movements) << " · "
                  << userSeconds(secondsSince(start)) << std::flush;
        m_drawn = true;
        m_lastDraw = Clock::now();
    }

    // A line of its own in place of the progress, until the next update.
    void note(const char* text) {
        if (!m_shown) return;
        std::cerr << "\r\033[K" << text << std::flush;
        m_drawn = true;
    }

    void wipe() {
        if (!m_drawn) return;
        std::cerr << "\r\033[K" << std::flush;
        m_drawn = false;
    }

private:
    bool m_shown;
    bool m_drawn = false;
    Clock::time_point m_lastDraw;
};

// What is wrong with the command line, in Spanish: the parser's own words are English, but for the checks of the
// options' values, which are ours.
std::string parseErrorText(const CLI::Error& e) {
    const std::string what = e.what();
    // The parser names what it refers to after its first ": " ("--from: 1 required AAAAMM missing", "The following
    // argument was not expected: --bogus").
    const std::size_t colon = what.find(": ");
    const std::string head = colon == std::string::npos ? std::string() : what.substr(0, colon);
    const std::string tail = colon == std::string::npos ? what : what.substr(colon + 2);
    if (dynamic_cast<const CLI::ValidationError*>(&e)) return what;
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) return "no se esperaba: " + tail;
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) return head + ": falta su valor, o sobra uno";
    if (dynamic_cast<const CLI::RequiredError*>(&e)) return "falta una opción obligatoria: " + tail;
    if (dynamic_cast<const CLI::ConversionError*>(&e)) return "un valor no es válido: " + what;
    return "la línea de órdenes no es válida (" + what + ")";
}

// The exit status of a run that went through every taxpayer: an export that did not end as asked outranks CUIT
// problems.
int exitStatus(const BatchTotals& totals) {
    if (totals.anyFailed()) return kSomeFailed;
    return totals.problems > 0 ? kCuitProblems : kAllDone;
}

void printResult(const TaxpayerResult& result) {
    std::cout << field(result.reference) << '\t' << result.movements << '\t' << field(resultWords(result)) << '\n';
    for (const CuitFinding& finding : result.problems)
        std::cout << "check\t" << field(result.reference) << '\t' << (finding.agent ? "AG_CUIT" : "CUIT") << '\t'
                  << field(finding.value) << '\t' << finding.movements << '\t'
                  << (finding.problem == CuitProblem::Form ? "form" : "check digit") << '\n';
}

}  // namespace

int main(int argc, char** argv) {
    const Clock::time_point start = Clock::now();
    const Console console(argc, argv);
    BatchOptions options;
    std::string format = "txt";
    std::string dialect = "2";
    std::string dir;
    bool quiet = false;

    CLI::App app(
        "Exporta las percepciones y retenciones de un rango de anticipos (aaaamm) de uno, varios o todos "
        "los contribuyentes de Impuest.mdb, como los botones de la ventana.",
        "velmora-export");
    app.get_formatter()->label("Usage", "Uso");
    app.get_formatter()->label("OPTIONS", "OPCIONES");
    app.option_defaults()->group("Opciones");
    app.set_help_flag("-h,--help", "Muestra esta ayuda y termina");
    app.set_version_flag("--version", "velmora-export " VELMORA_VERSION, "Muestra la versión y termina");
    app.add_option("--from", options.desde, "Anticipo DESDE (aaaamm)")->type_name("AAAAMM");
    app.add_option("--to", options.hasta, "Anticipo HASTA (aaaamm)")->type_name("AAAAMM");
    app.add_option("--taxpayer", options.taxpayers,
                   "Contribuyente, como se escribe en la lista de la ventana (cuentan los 13 primeros caracteres); "
                   "se puede repetir")
        ->type_name("REF")
        ->allow_extra_args(false);
    app.add_flag("--all", options.all, "Todos los contribuyentes de la lista, en su orden");
    const bool xlsx = formatOffered(ExportFormat::Xlsx);
    app.add_option("--format", format,
                   xlsx ? "txt, csv, xls o xlsx (txt si no se indica)" : "txt, csv o xls (txt si no se indica)")
        ->type_name("FORMATO")
        ->check([](const std::string& value) {
            return value == "txt" || value == "csv" || value == "xls" || value == "xlsx"
                       ? std::string()
                       : "el formato debe ser txt, csv, xls o xlsx";
        });
    app.add_option("--dialect", dialect,
                   "Separadores del CSV: 0 \",\" y \".\", 1 \";\" y \".\", 2 \";\" y \",\" (2 si no se indica)")
        ->type_name("0|1|2")
        ->check([](const std::string& value) {
            return value == "0" || value == "1" || value == "2" ? std::string() : "el dialecto debe ser 0, 1 o 2";
        });
    app.add_option("--dir", dir,
                   "La carpeta de trabajo, donde se lee Impuest.mdb y se escribe RET-PERC (si no se indica: la del "
                   "programa si tiene Impuest.mdb; si no, " +
                       homeVelmoraShown() + ", que se crea la primera vez)")
        ->type_name("CARPETA");
    app.add_option("--db", options.database, "La base a leer (Impuest.mdb de la carpeta de trabajo si no se indica)")
        ->type_name("ARCHIVO");
    app.add_option("--out", options.folder, "La carpeta de salida (RET-PERC en la carpeta de trabajo si no se indica)")
        ->type_name("CARPETA");
    app.add_flag("--replace", options.replace, "Reemplaza los archivos que ya existen");
    app.add_flag("--count", options.count, "No escribe nada: cuenta los movimientos de cada exportación");
    app.add_flag("--check", options.check, "Verifica el CUIT del contribuyente y los de los agentes");
    app.add_flag("--quiet", quiet, "Sin progreso en la terminal");
    app.footer(
        "Ejemplos:\n"
        "  velmora-export --all --from 202405 --to 202405 --format csv\n"
        "  velmora-export --dir " +
        homeVelmoraShown() +
        " --all --from 200001 --to 222201\n"
        "  velmora-export --taxpayer 20-12345678-6 --from 202401 --to 202412 --format " +
        (xlsx ? "xlsx" : "xls") + " --replace");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "velmora-export: " + parseErrorText(e) + "\nUse --help para ver las opciones.\n";
    });
    // The arguments in UTF-8, as the console gives them.
    std::vector<const char*> arguments;
    for (const std::string& argument : console.arguments()) arguments.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(arguments.size()), arguments.data());
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kAllDone : kBadCommandLine;
    }
    if (format == "xlsx" && !xlsx) {
        std::cerr << "velmora-export: " << XlsxWorkbook::notOffered() << '\n';
        return kBadCommandLine;
    }
    if (options.all && !options.taxpayers.empty()) {
        std::cerr << "velmora-export: indique --taxpayer o --all, no ambos.\n";
        return kBadCommandLine;
    }
    options.format = format == "csv"    ? BatchFormat::Csv
                     : format == "xls"  ? BatchFormat::Xls
                     : format == "xlsx" ? BatchFormat::Xlsx
                                        : BatchFormat::Txt;
    options.dialect = dialect[0] - '0';
    options.folder = FileSystem::withoutTrailingSeparators(options.folder);

    // The working folder is looked for, and ~/Velmora created, only when a default path is wanted from it.
    std::string folder;
    if (!dir.empty() || options.database.empty() || options.folder.empty()) {
        try {
            folder = workingFolder(FileSystem::executableFolder(), homeFolder(), dir);
        } catch (const std::exception& e) {
            std::cerr << "velmora-export: " << RuntimeError::describe(e) << '\n';
            return kNoDatabase;
        }
    }
    BatchExport batch(options, folder);
    // A range the window would refuse is refused before anything is opened, with the window's words.
    if (const auto refusal = batch.refusal()) {
        std::cerr << *refusal << '\n';
        return kBadCommandLine;
    }
    std::vector<std::string> messages;
    const bool started = batch.start(messages);
    for (const std::string& message : messages) std::cerr << message << '\n';
    // A database that cannot be opened, or an output folder that cannot take the files: nothing is tried.
    if (!started || !batch.outputReady()) return kNoDatabase;

    std::vector<BatchTaxpayer> taxpayers;
    try {
        taxpayers = batch.taxpayers();
    } catch (const std::exception& e) {
        std::cerr << "velmora-export: " << RuntimeError::describe(e) << '\n';
        return kSomeFailed;
    }
    Progress progress(!quiet && console.errorIsTerminal());
    batch.onWaiting([&] { progress.note("Esperando a que la base de datos deje de cambiar..."); });
    const bool outputOnTerminal = console.outputIsTerminal();
    BatchTotals totals;
    for (std::size_t i = 0; i < taxpayers.size(); ++i) {
        const TaxpayerResult result = batch.run(taxpayers[i]);
        if (batch.stoppedByWrites()) {
            std::cout.flush();
            progress.wipe();
            std::cerr << batch.stoppedMessage() << '\n';
            return kNoDatabase;
        }
        totals.add(result);
        if (outputOnTerminal) progress.wipe();
        if (const std::string note = sharedReferenceNote(taxpayers[i]); !note.empty()) {
            progress.wipe();
            std::cerr << "Aviso: " << note << '\n';
        }
        printResult(result);
        if (outputOnTerminal) std::cout.flush();
        progress.update(i + 1, taxpayers.size(), totals.movements, start);
    }
    std::cout.flush();
    progress.wipe();
    std::cerr << totals.describe() << " · tiempo: " << userSeconds(secondsSince(start)) << '\n';
    return exitStatus(totals);
}
