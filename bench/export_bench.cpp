// Export benchmark: runs the program's own commands headless on a database, and the command line's batch of every
// taxpayer, and prints per case the wall time, the peak resident memory, the movements written and the ratio to
// T_scan (libmdb decoding both movement tables whole, measured with mdb-sql on the same file in the same run).
// Every group of cases runs several times, each in a fresh process right after a T_scan of its own, so that a
// ratio compares times taken moments apart on this shared machine; a time or ratio is the median of the runs (the
// range of the times beside it), a memory figure the largest.
//
// With --instructions, each case runs once more under callgrind, which counts the instructions of the case's
// command alone (the function velmora_bench_measured), and T_scan's the same way: instructions per movement line
// and their ratio to T_scan's do not move with the processor as times do.
//
//   export_bench <Impuest.mdb> [heavy reference] [small reference] [--runs N] [--instructions]
//   export_bench <Impuest.mdb> [heavy reference] [small reference] --case NAME   (one case, for callgrind)
//
// Without a small reference, the small taxpayer is the one whose export writes about 300 lines, found by counting
// every taxpayer's export first; give it to skip the count (under callgrind, a big file's count takes minutes).
#include "bench/AnsweringBoxes.h"
#include "database/Database.h"
#include "export/BatchExport.h"
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// The measured part of a case, and only it, runs inside this function: callgrind's --toggle-collect names it, and
// no optimisation makes a copy of it under another name.
extern "C" __attribute__((noipa)) void velmora_bench_measured(const std::function<void()>& body) {
    body();
    asm volatile("" ::: "memory");  // no tail call: the function is left after the body
}

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string scanCommand(const std::string& mdb, const char* table, const std::string& wrapper) {
    return "printf 'SELECT Per_ID FROM " + std::string(table) + " WHERE Per_Monto1 = -1.5\\ngo\\n' | " + wrapper +
           "mdb-sql -H -F -P '" + mdb + "' >/dev/null";
}

double scanSeconds(const std::string& mdb) {
    const auto start = std::chrono::steady_clock::now();
    for (const char* table : {"Percepciones", "retenciones"})
        if (std::system(scanCommand(mdb, table, "").c_str()) != 0) std::cerr << "mdb-sql failed on " << mdb << "\n";
    return seconds(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The output of a shell command, standard error included.
std::string output(const std::string& command) {
    std::string text;
    FILE* pipe = popen(("{ " + command + "; } 2>&1").c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    pclose(pipe);
    return text;
}

// The instructions callgrind reports having counted, 0 when it reports none.
unsigned long long collected(const std::string& report) {
    unsigned long long total = 0;
    for (std::size_t at = report.find("Collected : "); at != std::string::npos;
         at = report.find("Collected : ", at + 1))
        total += std::strtoull(report.c_str() + at + 12, nullptr, 10);
    return total;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Counts the movements an export writes.
class Tally : public ExportObserver {
public:
    void exportRestarted() override { movements = 0; }
    void movementWritten(const Movement&) override { ++movements; }
    long movements = 0;
};

enum class Kind { Window, Batch };

struct Case {
    std::string name;
    Kind kind;
    bool heavy;  // the heavy taxpayer, else the small one (window cases)
    std::string desde;
    std::string hasta;
    ExportCommand command;  // window cases
    bool count;             // batch cases: --count
};

// A case's figures as one run measured them.
struct Measured {
    std::string name;
    double wall = 0;
    long peakKiB = 0;
    long addedKiB = 0;
    long lines = 0;
};

// Each group runs in a process of its own, as a user's session would: "first" is the first export after the window
// is ready, with nothing read before it but the taxpayer list. The workbook case keeps within the format's 65,536
// rows on every file.
std::vector<std::vector<Case>> groups() {
    return {
        {{"TXT heavy 200001-222201 first", Kind::Window, true, "200001", "222201", btn_gen_txt_orv_Click, false},
         {"TXT heavy 200001-222201 repeated", Kind::Window, true, "200001", "222201", btn_gen_txt_orv_Click, false},
         {"CSV heavy 200001-222201", Kind::Window, true, "200001", "222201", btn_gen_csv_Click, false}},
        {{"XLS heavy 202301-202306 first", Kind::Window, true, "202301", "202306", BTN_XLS_Click, false}},
        // Half the rows: the difference between the two is what a row adds, without what any workbook costs once
        // (the libraries it loads, the reading of the file).
        {{"XLS heavy 202301-202303 first", Kind::Window, true, "202301", "202303", BTN_XLS_Click, false}},
        {{"TXT small 200001-222201 first", Kind::Window, false, "200001", "222201", btn_gen_txt_orv_Click, false},
         {"TXT small 200001-222201 repeated", Kind::Window, false, "200001", "222201", btn_gen_txt_orv_Click, false}},
        {{"--all TXT 200001-222201", Kind::Batch, false, "200001", "222201", nullptr, false}},
        {{"--all --count 200001-222201", Kind::Batch, false, "200001", "222201", nullptr, true}},
    };
}

const std::string kWindowReady = "window ready";

struct Settings {
    fs::path source;
    fs::path folder;  // the program's folder: a link to the file as Impuest.mdb
    std::string heavy;
    std::string small;
};

// The command line's batch of every taxpayer over a range, on the bench's file, replacing what it wrote before.
BatchOptions everyTaxpayer(const Settings& settings, const std::string& desde, const std::string& hasta, bool count) {
    BatchOptions options;
    options.desde = desde;
    options.hasta = hasta;
    options.all = true;
    options.count = count;
    options.replace = true;
    options.database = settings.source.string();
    options.folder = (settings.folder / "RET-PERC").string();
    return options;
}

// Runs group `group` in this process and returns what its cases measured. Only the case named `measured` (any, when
// empty) runs inside velmora_bench_measured, so that callgrind counts it alone.
std::vector<Measured> runGroup(const std::vector<Case>& group, bool withWindowReady, Settings& settings,
                               const std::string& measured) {
    std::vector<Measured> out;
    const auto run = [&](const std::string& name, const std::function<void()>& body) {
        if (measured.empty() || measured == name)
            velmora_bench_measured(body);
        else
            body();
    };
    if (!group.empty() && group.front().kind == Kind::Batch) {
        const Case& c = group.front();
        const BatchOptions options = everyTaxpayer(settings, c.desde, c.hasta, c.count);
        Measured m{c.name};
        const long before = peakRssKiB();
        const auto start = std::chrono::steady_clock::now();
        run(c.name, [&] {
            // As velmora-export runs it: the database opened, the list read, every taxpayer exported.
            BatchExport batch(options, settings.folder.string());
            std::vector<std::string> messages;
            if (!batch.start(messages)) {
                std::cerr << c.name << ": the database cannot be opened\n";
                return;
            }
            for (const BatchTaxpayer& taxpayer : batch.taxpayers()) {
                const TaxpayerResult result = batch.run(taxpayer);
                if (result.outcome == BatchOutcome::Error) std::cerr << c.name << ": " << result.detail << "\n";
                if (result.outcome != BatchOutcome::Error) m.lines += result.movements;
            }
        });
        m.wall = seconds(start);
        m.peakKiB = peakRssKiB();
        m.addedKiB = m.peakKiB - before;
        out.push_back(m);
        return out;
    }
    PlainControls controls;
    AnsweringBoxes boxes;
    Form1 form(controls, boxes, settings.folder.string());
    Tally tally;
    form.observer = &tally;
    long rss = peakRssKiB();
    auto start = std::chrono::steady_clock::now();
    run(kWindowReady, [&] { Form_Load(form); });
    const double ready = seconds(start);
    if (withWindowReady)
        out.push_back({kWindowReady + " (" + std::to_string(controls.list.size()) + " taxpayers)", ready, peakRssKiB(),
                       peakRssKiB() - rss, 0});
    if (!boxes.failure.empty()) std::cerr << "start-up: " << boxes.failure << "\n";
    const long afterStartUp = peakRssKiB();
    for (const Case& c : group) {
        controls.combo = c.heavy ? settings.heavy : settings.small;
        controls.desde = c.desde;
        controls.hasta = c.hasta;
        boxes.failure.clear();
        tally.movements = 0;
        start = std::chrono::steady_clock::now();
        run(c.name, [&] { c.command(form); });
        out.push_back({c.name + (c.heavy ? "" : " (" + settings.small + ")"), seconds(start), peakRssKiB(),
                       peakRssKiB() - afterStartUp, tally.movements});
        if (!boxes.failure.empty()) std::cerr << c.name << ": " << boxes.failure << "\n";
    }
    Command3_Click(form);
    return out;
}

std::string serialise(const std::vector<Measured>& measured) {
    std::string text;
    for (const Measured& m : measured)
        text += m.name + "\t" + std::to_string(m.wall) + " " + std::to_string(m.peakKiB) + " " +
                std::to_string(m.addedKiB) + " " + std::to_string(m.lines) + "\n";
    return text;
}

std::vector<Measured> deserialise(const std::string& text) {
    std::vector<Measured> measured;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Measured m;
        std::getline(fields, m.name, '\t');
        fields >> m.wall >> m.peakKiB >> m.addedKiB >> m.lines;
        measured.push_back(m);
    }
    return measured;
}

// Runs `body` in a forked process and returns the text it gave back; empty when the process could not be run.
std::string inChild(const std::function<std::string()>& body) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        close(pipeEnds[0]);
        const std::string text = body();
        if (write(pipeEnds[1], text.data(), text.size()) != ssize_t(text.size())) _exit(1);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return text;
}

// Runs a group in a forked process and reads back what it measured.
std::vector<Measured> runForked(const std::vector<Case>& group, bool withWindowReady, Settings& settings) {
    return deserialise(inChild([&] { return serialise(runGroup(group, withWindowReady, settings, "")); }));
}

// How many movements the small taxpayer's export writes, about: the same size on every file, so that the small
// cases of a small and a big file compare the same work.
constexpr long kSmallLines = 300;

// The small taxpayer the window cases use: of the taxpayers other than the heavy one, the first whose export over
// the whole range writes the number of lines nearest kSmallLines, as the command line's count tells (every
// taxpayer's export run once, outside any measure).
void countAndChoose(Settings& settings) {
    BatchExport batch(everyTaxpayer(settings, "200001", "222201", true), settings.folder.string());
    std::vector<std::string> messages;
    if (!batch.start(messages)) return;
    long best = -1;
    for (const BatchTaxpayer& taxpayer : batch.taxpayers()) {
        if (taxpayer.reference == settings.heavy) continue;
        const TaxpayerResult result = batch.run(taxpayer);
        if (result.outcome != BatchOutcome::Counted || result.movements == 0) continue;
        const long distance = std::labs(static_cast<long>(result.movements) - kSmallLines);
        if (best < 0 || distance < best) {
            best = distance;
            settings.small = taxpayer.reference;
        }
    }
}

// The count runs in a process of its own: what it leaves in the heap would otherwise be inherited by every case's
// process and hide what the cases add to the peak memory.
void chooseSmall(Settings& settings) {
    if (!settings.small.empty()) return;
    settings.small = inChild([&] {
        countAndChoose(settings);
        return settings.small;
    });
}

int timed(Settings& settings, int runs) {
    const std::string file = settings.source.filename().string();
    const long fileKiB = static_cast<long>(fs::file_size(settings.source) / 1024);
    std::vector<double> scans;
    // What the runs measured, by case, in the order the cases first ran.
    struct Runs {
        std::vector<double> seconds;
        std::vector<double> ratios;
        long peakKiB = 0;
        long addedKiB = 0;
        long lines = 0;
    };
    std::vector<std::pair<std::string, Runs>> results;
    const auto all = groups();
    for (std::size_t g = 0; g < all.size(); ++g) {
        for (int r = 0; r < runs; ++r) {
            // The files the runs before wrote go to disk first, so that writing them back does not slow this run.
            sync();
            const double tScan = scanSeconds(settings.source.string());
            scans.push_back(tScan);
            for (const Measured& m : runForked(all[g], g == 0, settings)) {
                auto it =
                    std::find_if(results.begin(), results.end(), [&](const auto& e) { return e.first == m.name; });
                if (it == results.end()) it = results.insert(results.end(), {m.name, {}});
                it->second.seconds.push_back(m.wall);
                it->second.ratios.push_back(m.wall / tScan);
                it->second.peakKiB = std::max(it->second.peakKiB, m.peakKiB);
                it->second.addedKiB = std::max(it->second.addedKiB, m.addedKiB);
                it->second.lines = m.lines;
            }
        }
    }
    for (const auto& [name, m] : results) {
        const auto [low, high] = std::minmax_element(m.seconds.begin(), m.seconds.end());
        std::printf("%-16s %-48s %7.3f s (%.3f-%.3f)  peak RSS %7ld KiB (+%6ld)  %8ld lines", file.c_str(),
                    name.c_str(), median(m.seconds), *low, *high, m.peakKiB, m.addedKiB, m.lines);
        if (m.lines > 0) std::printf(" (+%5.0f B/line)", double(m.addedKiB) * 1024 / double(m.lines));
        std::printf("  T_scan %.3f s  ratio %6.3f\n", median(scans), median(m.ratios));
    }
    // What a row adds to a workbook: the difference between the workbooks of six and of three months.
    const auto named = [&](const std::string& name) {
        const auto it = std::find_if(results.begin(), results.end(), [&](const auto& e) { return e.first == name; });
        return it == results.end() ? nullptr : &it->second;
    };
    const Runs* six = named("XLS heavy 202301-202306 first");
    const Runs* three = named("XLS heavy 202301-202303 first");
    if (six && three && six->lines > three->lines)
        std::printf("%-16s %-48s %+7ld KiB for %ld more lines (%+5.0f B/line)\n", file.c_str(),
                    "XLS per row (6 months over 3)", six->addedKiB - three->addedKiB, six->lines - three->lines,
                    double(six->addedKiB - three->addedKiB) * 1024 / double(six->lines - three->lines));
    const auto [scanLow, scanHigh] = std::minmax_element(scans.begin(), scans.end());
    std::printf(
        "%-16s %d runs each, each after its own T_scan (%.3f-%.3f s); file size %ld KiB (+KiB: peak RSS over the "
        "process's peak once the window was ready, or before the batch; B/line: that over the lines written)\n",
        file.c_str(), runs, *scanLow, *scanHigh, fileKiB);
    return 0;
}

int instructions(Settings& settings, const std::string& self, const std::vector<std::string>& refs) {
    const std::string file = settings.source.filename().string();
    const std::string callgrind = "valgrind --tool=callgrind --callgrind-out-file=/dev/null ";
    unsigned long long tScan = 0;
    for (const char* table : {"Percepciones", "retenciones"})
        tScan += collected(output(scanCommand(settings.source.string(), table, callgrind)));
    if (tScan == 0) {
        std::cerr << "callgrind counted nothing: is valgrind installed?\n";
        return 1;
    }
    std::string arguments = quoted(settings.source.string());
    for (const std::string& ref : refs) arguments += " " + quoted(ref);
    std::vector<std::string> names = {kWindowReady};
    for (const auto& group : groups())
        for (const Case& c : group) names.push_back(c.name);
    for (const std::string& name : names) {
        const std::string report = output(callgrind + "--toggle-collect=velmora_bench_measured " + quoted(self) + " " +
                                          arguments + " --case " + quoted(name));
        const unsigned long long counted = collected(report);
        const std::size_t at = report.find("lines ");
        const long lines = at == std::string::npos ? 0 : std::strtol(report.c_str() + at + 6, nullptr, 10);
        std::printf("%-16s %-48s %14llu instructions  %8ld lines", file.c_str(), name.c_str(), counted, lines);
        if (lines > 0) std::printf("  %8.0f per line", double(counted) / double(lines));
        std::printf("  ratio to T_scan %6.3f\n", double(counted) / double(tScan));
    }
    std::printf("%-16s T_scan (mdb-sql decoding both movement tables): %llu instructions\n", file.c_str(), tScan);
    return 0;
}

// Runs one case as its group would, inside velmora_bench_measured, and prints its movement lines.
int oneCase(Settings& settings, const std::string& name) {
    if (name == kWindowReady) {
        runGroup({}, false, settings, name);
        std::printf("lines 0\n");
        return 0;
    }
    for (const auto& group : groups()) {
        if (std::none_of(group.begin(), group.end(), [&](const Case& c) { return c.name == name; })) continue;
        // The cases before it in its group run first, outside the count ("repeated" follows "first").
        std::vector<Case> upTo;
        for (const Case& c : group) {
            upTo.push_back(c);
            if (c.name == name) break;
        }
        for (const Measured& m : runGroup(upTo, false, settings, name))
            if (m.name.rfind(name, 0) == 0) std::printf("lines %ld\n", m.lines);
        return 0;
    }
    std::cerr << "no case " << name << "\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    int runs = 5;
    bool countInstructions = false;
    std::string single;
    bool unknown = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--case" && i + 1 < argc)
            single = argv[++i];
        else if (arg == "--instructions")
            countInstructions = true;
        else if (arg.rfind("-", 0) == 0)
            unknown = true;  // --help among them
        else
            args.push_back(arg);
    }
    if (unknown || args.empty() || !fs::is_regular_file(args[0])) {
        std::cerr << "usage: export_bench <Impuest.mdb> [heavy reference] [small reference] [--runs N] "
                     "[--instructions]\n"
                     "       export_bench <Impuest.mdb> [heavy reference] [small reference] --case NAME\n";
        return 2;
    }
    Settings settings;
    settings.source = fs::absolute(args[0]);
    settings.heavy = args.size() > 1 ? args[1] : "30-00000001-7";
    settings.small = args.size() > 2 ? args[2] : "";

    // The program reads Impuest.mdb beside itself: give it a folder of its own with a link to the file.
    settings.folder = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(getpid()));
    fs::create_directories(settings.folder);
    fs::create_symlink(settings.source, settings.folder / "Impuest.mdb");
    chooseSmall(settings);
    int status;
    if (!single.empty()) {
        status = oneCase(settings, single);
    } else if (countInstructions) {
        status = instructions(settings, fs::canonical("/proc/self/exe").string(), {settings.heavy, settings.small});
    } else {
        status = timed(settings, runs);
    }
    fs::remove_all(settings.folder);
    return status;
}
