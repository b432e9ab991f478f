#include "workbook/XlsSheet.h"

#include "platform/FileSystem.h"
#include "platform/SiblingTempFile.h"
#include "runtime/RuntimeError.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/CompoundFile.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

void XlsSheet::SaveAs(const std::string& path) {
    const std::string prefix = "No se puede guardar la planilla " + path + ": ";
    if (m_application.hasQuit())
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "la aplicación de planillas ya se cerró");
    if (path.empty()) throw RuntimeError(RuntimeError::FileError, prefix + "falta el nombre del archivo");
    if (FileSystem::isFolder(path))
        throw RuntimeError(RuntimeError::FileError, prefix + "hay una carpeta con ese nombre");

    std::optional<Biff8Workbook> book;
    try {
        book.emplace(m_application.cells(), u"Hoja1");
    } catch (const std::bad_alloc&) {
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "no hay memoria suficiente para armarla");
    } catch (const std::logic_error& error) {
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + error.what());
    }

    try {
        SiblingTempFile file(path);
        writeCompoundFile(file, *book);
        file.commit();
    } catch (const std::system_error& error) {
        throw RuntimeError(RuntimeError::FileError, prefix + RuntimeError::describe(error));
    } catch (const std::runtime_error& error) {
        throw RuntimeError(RuntimeError::FileError, prefix + error.what());
    }
}
