// Soak benchmark: many exports in a row through the program's own commands, alternating TXT, CSV and XLS over a
// few taxpayers and ranges and answering Yes to every overwrite question. Prints the resident memory, the open
// file descriptors and the files in the output folder at the start, along the way and at the end: none of them
// may grow once every target has been written once.
//
//   soak_bench <Impuest.mdb> [exports]
#include "bench/AnsweringBoxes.h"
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "platform/MessageBoxes.h"

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

long entries(const fs::path& folder) {
    std::error_code ignored;
    long count = 0;
    for (auto it = fs::directory_iterator(folder, ignored); it != fs::directory_iterator(); it.increment(ignored))
        ++count;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: soak_bench <Impuest.mdb> [exports]\n";
        return 2;
    }
    const fs::path source = fs::absolute(argv[1]);
    const int exports = argc > 2 ? std::atoi(argv[2]) : 1000;

    // The program reads Impuest.mdb beside itself: give it a folder of its own with a link to the file.
    const fs::path folder = fs::temp_directory_path() / ("velmora-soak-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::create_symlink(source, folder / "Impuest.mdb");
    const fs::path output = folder / "RET-PERC";

    PlainControls controls;
    AnsweringBoxes boxes;
    Form1 form(controls, boxes, folder.string());
    const auto start = std::chrono::steady_clock::now();
    const auto report = [&](const char* when, int done) {
        std::printf("%-10s exports %5d  VmRSS %7ld KiB  open fds %3ld  files in RET-PERC %3ld  failures %d  %7.1f s\n",
                    when, done, residentKiB(), entries("/proc/self/fd"), entries(output), boxes.failures,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
    };
    report("before", 0);
    Form_Load(form);
    if (controls.list.size() < 4) {
        std::cerr << "the database lists " << controls.list.size() << " taxpayers; 4 are needed\n";
        return 1;
    }
    report("start", 0);

    const ExportCommand commands[] = {btn_gen_txt_orv_Click, btn_gen_csv_Click, BTN_XLS_Click};
    const std::pair<const char*, const char*> ranges[] = {
        {"200001", "222201"}, {"202301", "202312"}, {"201901", "201906"}};
    constexpr int kTaxpayers = 4;
    constexpr int kTargets = 3 * kTaxpayers * static_cast<int>(std::size(ranges));
    for (int i = 0; i < exports; ++i) {
        // Every target is written once in the first round of kTargets exports, then overwritten.
        controls.combo = controls.list[static_cast<std::size_t>((i / 3) % kTaxpayers * 7 % controls.list.size())];
        controls.desde = ranges[i / (3 * kTaxpayers) % std::size(ranges)].first;
        controls.hasta = ranges[i / (3 * kTaxpayers) % std::size(ranges)].second;
        commands[i % 3](form);
        if (i + 1 == kTargets)
            report("warm", i + 1);
        else if ((i + 1) % 200 == 0 && i + 1 != exports)
            report("", i + 1);
    }
    report("end", exports);
    if (boxes.failures != 0) std::cerr << "first failure: " << boxes.failure << "\n";

    Command3_Click(form);
    fs::remove_all(folder);
    return boxes.failures == 0 ? 0 : 1;
}
