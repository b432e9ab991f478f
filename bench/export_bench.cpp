// Export benchmark: runs the program's own commands headless on a database and prints, per case, the wall time,
// the peak resident memory and the ratio to T_scan (libmdb decoding both movement tables whole, measured with
// mdb-sql on the same file in the same run). Every group of cases runs several times, each in a fresh process
// right after a T_scan of its own, so that a ratio compares times taken moments apart on this shared machine; a
// time or ratio is the median of the runs (the range of the times beside it), a memory figure the largest.
//
//   export_bench <Impuest.mdb> [heavy reference] [small reference] [--runs N]
#include "bench/AnsweringBoxes.h"
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "platform/MessageBoxes.h"
#include "runtime/RuntimeError.h"
#include "source/Recordset.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double scanSeconds(const std::string& mdb) {
    const auto start = std::chrono::steady_clock::now();
    for (const char* table : {"Percepciones", "retenciones"}) {
        const std::string command = "printf 'SELECT Per_ID FROM " + std::string(table) +
                                    " WHERE Per_Monto1 = -1.5\\ngo\\n' | mdb-sql -H -F -P '" + mdb + "' >/dev/null";
        if (std::system(command.c_str()) != 0) std::cerr << "mdb-sql failed on " << mdb << "\n";
    }
    return seconds(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            args.emplace_back(argv[i]);
    }
    if (args.empty()) {
        std::cerr << "usage: export_bench <Impuest.mdb> [heavy reference] [small reference] [--runs N]\n";
        return 2;
    }
    const fs::path source = fs::absolute(args[0]);
    const std::string heavy = args.size() > 1 ? args[1] : "30-00000001-7";
    std::string small = args.size() > 2 ? args[2] : "";

    // The program reads Impuest.mdb beside itself: give it a folder of its own with a link to the file.
    const fs::path folder = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::create_symlink(source, folder / "Impuest.mdb");

    std::vector<double> scans;
    const std::string file = source.filename().string();
    const long fileKiB = static_cast<long>(fs::file_size(source) / 1024);

    // Each group runs in a process of its own, as a user's session would: "first" is the first export after the
    // window is ready, with nothing read before it but the taxpayer list.
    struct Case {
        std::string name;
        bool heavy;
        std::string desde;
        std::string hasta;
        void (*command)(Form1&);
    };
    const std::vector<std::vector<Case>> groups = {
        {{"TXT heavy 200001-222201 first", true, "200001", "222201", btn_gen_txt_orv_Click},
         {"TXT heavy 200001-222201 repeated", true, "200001", "222201", btn_gen_txt_orv_Click},
         {"CSV heavy 200001-222201", true, "200001", "222201", btn_gen_csv_Click}},
        {{"XLS heavy 202301-202312 first", true, "202301", "202312", BTN_XLS_Click}},
        {{"TXT small 200001-222201 first", false, "200001", "222201", btn_gen_txt_orv_Click},
         {"TXT small 200001-222201 repeated", false, "200001", "222201", btn_gen_txt_orv_Click}},
    };
    // What the runs measured, by case, in the order the cases first ran.
    struct Measures {
        std::vector<double> seconds;
        std::vector<double> ratios;
        long peakKiB = 0;
        long addedKiB = 0;
    };
    std::vector<std::pair<std::string, Measures>> results;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (int r = 0; r < runs; ++r) {
            // The files the runs before wrote go to disk first, so that writing them back does not slow this run.
            sync();
            const double tScan = scanSeconds(source.string());
            scans.push_back(tScan);
            int pipeEnds[2];
            if (pipe(pipeEnds) != 0) return 1;
            const pid_t child = fork();
            if (child < 0) return 1;
            if (child > 0) {
                close(pipeEnds[1]);
                std::string text;
                char buffer[4096];
                for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
                    text.append(buffer, std::size_t(n));
                close(pipeEnds[0]);
                int status = 0;
                waitpid(child, &status, 0);
                std::istringstream lines(text);
                for (std::string line; std::getline(lines, line);) {
                    std::istringstream fields(line);
                    std::string name;
                    double wall = 0;
                    long peak = 0, added = 0;
                    std::getline(fields, name, '\t');
                    fields >> wall >> peak >> added;
                    auto it =
                        std::find_if(results.begin(), results.end(), [&](const auto& e) { return e.first == name; });
                    if (it == results.end()) it = results.insert(results.end(), {name, {}});
                    it->second.seconds.push_back(wall);
                    it->second.ratios.push_back(wall / tScan);
                    it->second.peakKiB = std::max(it->second.peakKiB, peak);
                    it->second.addedKiB = std::max(it->second.addedKiB, added);
                }
                continue;
            }
            close(pipeEnds[0]);
            std::string out;
            const auto report = [&](const std::string& name, double wall, long rssBefore) {
                out += name + "\t" + std::to_string(wall) + " " + std::to_string(peakRssKiB()) + " " +
                       std::to_string(peakRssKiB() - rssBefore) + "\n";
            };
            PlainControls controls;
            AnsweringBoxes boxes;
            Form1 form(controls, boxes, folder.string());
            long rss = peakRssKiB();
            auto start = std::chrono::steady_clock::now();
            Form_Load(form);
            const double ready = seconds(start);
            if (g == 0) report("window ready (" + std::to_string(controls.list.size()) + " taxpayers)", ready, rss);
            if (!boxes.failure.empty()) std::cerr << "start-up: " << boxes.failure << "\n";
            if (small.empty()) {
                // A taxpayer other than the heavy one: the first of the list.
                for (const std::string& entry : controls.list)
                    if (entry.rfind(heavy, 0) != 0) {
                        small = entry.substr(0, 13);
                        break;
                    }
            }
            const long afterStartUp = peakRssKiB();
            for (const Case& c : groups[g]) {
                controls.combo = c.heavy ? heavy : small;
                controls.desde = c.desde;
                controls.hasta = c.hasta;
                boxes.failure.clear();
                start = std::chrono::steady_clock::now();
                c.command(form);
                report(c.name + (c.heavy ? "" : " (" + small + ")"), seconds(start), afterStartUp);
                if (!boxes.failure.empty()) std::cerr << c.name << ": " << boxes.failure << "\n";
            }
            Command3_Click(form);
            if (write(pipeEnds[1], out.data(), out.size()) != ssize_t(out.size())) _exit(1);
            _exit(0);
        }
    }
    for (const auto& [name, m] : results) {
        const auto [low, high] = std::minmax_element(m.seconds.begin(), m.seconds.end());
        const double wall = median(m.seconds);
        std::printf("%-16s %-48s %7.3f s (%.3f-%.3f)  peak RSS %7ld KiB (+%6ld)  T_scan %.3f s  ratio %6.3f\n",
                    file.c_str(), name.c_str(), wall, *low, *high, m.peakKiB, m.addedKiB, median(scans),
                    median(m.ratios));
    }
    const auto [scanLow, scanHigh] = std::minmax_element(scans.begin(), scans.end());
    std::printf(
        "%-16s %d runs each, each after its own T_scan (%.3f-%.3f s); file size %ld KiB, a quarter of it %ld KiB (+KiB: peak RSS "
        "over the process's peak once the window was ready, the largest of the runs)\n",
        file.c_str(), runs, *scanLow, *scanHigh, fileKiB, fileKiB / 4);
    fs::remove_all(folder);
    return 0;
}
