#include "app/MainWindow.h"
#include "platform/FileSystem.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    MainWindow window(FileSystem::executableFolder());
    // The start-up messages (output folder, connection) come before the window appears.
    window.load();
    window.show();
    return app.exec();
}
