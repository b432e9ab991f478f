#include "app/AllTaxpayersWindow.h"
#include "app/MainWindow.h"
#include "app/QtMessageBoxes.h"
#include "app/SpanishQt.h"
#include "platform/FileSystem.h"
#include "platform/WorkingFolder.h"
#include "runtime/RuntimeError.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    useSpanish(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Genera los archivos de retenciones y percepciones de Impuest.mdb."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("La carpeta de trabajo, donde se lee Impuest.mdb y se escribe RET-PERC "
                                                "(si no se indica: la del programa si tiene Impuest.mdb; si no, "
                                                "~/Velmora, que se crea la primera vez)."),
                                 QStringLiteral("CARPETA"));
    const QCommandLineOption todos(
        QStringLiteral("todos"),
        QStringLiteral("Abre la ventana de exportación de todos los contribuyentes en lugar de la principal."));
    parser.addOption(dir);
    parser.addOption(todos);
    parser.process(app);
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(parser.isSet(todos) ? QStringLiteral("org.velmora.Velmora.Todos")
                                                            : QStringLiteral("org.velmora.Velmora"));

    std::string folder;
    try {
        folder = workingFolder(FileSystem::executableFolder(), homeFolder(), parser.value(dir).toStdString());
    } catch (const std::exception& e) {
        QtMessageBoxes(nullptr).MsgBox("Error : " + RuntimeError::describe(e), MsgIcon::Critical, MsgButtons::OK);
        return 1;
    }
    if (parser.isSet(todos)) {
        AllTaxpayersWindow window(folder);
        window.show();
        return app.exec();
    }
    MainWindow window(folder);
    // The start-up messages (output folder, connection) come before the window appears.
    window.load();
    window.show();
    return app.exec();
}
