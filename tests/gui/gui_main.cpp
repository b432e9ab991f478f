// The entry point of the window's test suites: one QApplication for the whole run, in Spanish as the program's.
#include "app/SpanishQt.h"

#include <gtest/gtest.h>
#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    if (!useSpanish(app)) {
        std::fprintf(stderr, "Qt's Spanish translations are missing: install qt6-translations-l10n\n");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
