// Export benchmark: runs the program's own commands headless on a database and prints, per case, the wall time,
// the peak resident memory and the ratio to T_scan (libmdb decoding both movement tables whole, measured with
// mdb-sql on the same file in the same run).
//
//   export_bench <Impuest.mdb> [heavy reference] [small reference]
#include "bench/AnsweringBoxes.h"
#include "export/ExportCommands.h"
#include "export/StartUp.h"
#include "platform/Form1.h"
#include "platform/MessageBoxes.h"
#include "platform/RuntimeError.h"
#include "source/Recordset.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double scanSeconds(const std::string& mdb)
{
    const auto start = std::chrono::steady_clock::now();
    for (const char* table : {"Percepciones", "retenciones"}) {
        const std::string command = "printf 'SELECT Per_ID FROM " + std::string(table) +
                                    " WHERE Per_Monto1 = -1.5\\ngo\\n' | mdb-sql -H -F -P '" + mdb + "' >/dev/null";
        if (std::system(command.c_str()) != 0) std::cerr << "mdb-sql failed on " << mdb << "\n";
    }
    return seconds(start);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: export_bench <Impuest.mdb> [heavy reference] [small reference]\n";
        return 2;
    }
    const fs::path source = fs::absolute(argv[1]);
    const std::string heavy = argc > 2 ? argv[2] : "30-00000001-7";
    std::string small = argc > 3 ? argv[3] : "";

    // The program reads Impuest.mdb beside itself: give it a folder of its own with a link to the file.
    const fs::path folder = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::create_symlink(source, folder / "Impuest.mdb");

    const double tScan = scanSeconds(source.string());
    const std::string file = source.filename().string();
    const long fileKiB = static_cast<long>(fs::file_size(source) / 1024);
    auto report = [&](const std::string& name, double wall, long rssBefore) {
        std::printf("%-16s %-34s %8.3f s  peak RSS %7ld KiB (+%6ld)  T_scan %.3f s  ratio %6.3f\n", file.c_str(),
                    name.c_str(), wall, peakRssKiB(), peakRssKiB() - rssBefore, tScan, wall / tScan);
        std::fflush(stdout);
    };

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
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const pid_t child = fork();
        if (child < 0) return 1;
        if (child > 0) {
            int status = 0;
            waitpid(child, &status, 0);
            continue;
        }
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
        std::fflush(stdout);
        _exit(0);
    }
    std::printf("%-16s file size %ld KiB; a quarter of it is %ld KiB (the +KiB column is peak RSS over the "
                "process's peak once the window was ready)\n", file.c_str(), fileKiB, fileKiB / 4);
    fs::remove_all(folder);
    return 0;
}
