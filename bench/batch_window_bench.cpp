// The window of every taxpayer under load: counts or exports every taxpayer of a database (offscreen), its table
// sorted by a column as the rows come, and measures how long the window's thread was kept from its events: the
// longest gap between two ticks of a 10 ms timer while the run goes on, which is what a user feels as a window that
// does not answer.
//
//   batch_window_bench FOLDER [--count] [--sort COLUMN]
//
// FOLDER holds Impuest.mdb; the files go to FOLDER/RET-PERC, emptied first. COLUMN (0 to 4; 2, the movements, unless
// given; -1 for none) is the column the table is sorted by during the run.
#include "AnsweringBoxes.h"
#include "app/AllTaxpayersWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: batch_window_bench FOLDER [--count] [--sort COLUMN]\n");
        return 2;
    }
    const std::string folder = argv[1];
    bool count = false;
    int sortColumn = 2;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--count") count = true;
        if (arg == "--sort" && i + 1 < argc) sortColumn = std::stoi(argv[++i]);
    }
    std::filesystem::remove_all(folder + "/RET-PERC");

    AnsweringBoxes boxes;
    AllTaxpayersWindow window(folder, &boxes);
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("btn_todo"))->click();
    auto* table = window.findChild<QTableView*>(QStringLiteral("tbl_resultados"));
    table->sortByColumn(sortColumn, Qt::DescendingOrder);

    QElapsedTimer run, sinceTick;
    qint64 longest = 0, ticks = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
        ++ticks;
        if (!window.running()) app.quit();
    });
    QTimer::singleShot(0, [&] {
        run.start();
        window.findChild<QPushButton*>(QString::fromLatin1(count ? "btn_contar" : "btn_exportar"))->click();
        sinceTick.start();
        probe.start();
    });
    app.exec();
    std::printf(
        "%s: %zu taxpayers in %.2f s; the window's thread answered every %lld ms at worst (%lld ticks of 10 ms, "
        "sorted by column %d)\n",
        count ? "count" : "export", window.results().taxpayers(), double(run.elapsed()) / 1000.0,
        static_cast<long long>(longest), static_cast<long long>(ticks), sortColumn);
    return 0;
}
