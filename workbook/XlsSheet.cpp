#include "workbook/XlsSheet.h"

#include "platform/SiblingTempFile.h"
#include "runtime/ErrnoText.h"
#include "runtime/RuntimeError.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/GObjectRef.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <system_error>

namespace {

// Why a libgsf output failed: the step, and the system's reason the failed write left in errno (libgsf's own words
// are English).
std::string gsfReason(GsfOutput* output, const char* step) {
    const int error = errno;
    if (gsf_output_error(output) == nullptr || error == 0) return step;
    return std::string(step) + ": " + errnoText(error);
}

// Writes an OLE2 compound file (512-byte sectors) holding the workbook's stream as its "Workbook" stream to
// `file`, which stays open. Raises std::runtime_error with the reason.
void writeCompoundFile(std::FILE* file, const std::string& name, const Biff8Workbook& book) {
    static const bool gsfReady = [] {
        gsf_init();
        return true;
    }();
    (void)gsfReady;

    GObjectRef<GsfOutput> sink(gsf_output_stdio_new_FILE(name.c_str(), file, TRUE));
    if (!sink) throw std::runtime_error("no se puede abrir el archivo");
    GObjectRef<GsfOutfile> ole(gsf_outfile_msole_new_full(sink.get(), 512, 64));
    if (!ole) throw std::runtime_error("no se puede empezar el archivo");
    GObjectRef<GsfOutput> workbook(gsf_outfile_new_child(ole.get(), "Workbook", FALSE));
    if (!workbook) throw std::runtime_error("no se puede agregar la hoja");
    book.write([&](std::span<const std::uint8_t> piece) {
        if (!gsf_output_write(workbook.get(), piece.size(), piece.data()))
            throw std::runtime_error(gsfReason(workbook.get(), "no se puede escribir la hoja"));
    });
    if (!gsf_output_close(workbook.get()))
        throw std::runtime_error(gsfReason(workbook.get(), "no se puede escribir la hoja"));
    if (!gsf_output_close(GSF_OUTPUT(ole.get())))
        throw std::runtime_error(gsfReason(GSF_OUTPUT(ole.get()), "no se puede escribir el archivo"));
    // Closing the compound file normally closes its sink as well. A failed write to the sink is recorded there,
    // whatever the compound file made of it.
    if ((!gsf_output_is_closed(sink.get()) && !gsf_output_close(sink.get())) || gsf_output_error(sink.get()) != nullptr)
        throw std::runtime_error(gsfReason(sink.get(), "no se puede terminar el archivo"));
}

}  // namespace

void XlsSheet::SaveAs(const std::string& path) {
    const std::string prefix = "No se puede guardar la planilla " + path + ": ";
    if (m_application.hasQuit())
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "la aplicación de planillas ya se cerró");
    if (path.empty()) throw RuntimeError(RuntimeError::FileError, prefix + "falta el nombre del archivo");
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
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
        writeCompoundFile(file.stream(), file.path(), *book);
        file.commit();
    } catch (const std::system_error& error) {
        throw RuntimeError(RuntimeError::FileError, prefix + RuntimeError::describe(error));
    } catch (const std::runtime_error& error) {
        throw RuntimeError(RuntimeError::FileError, prefix + error.what());
    }
}
