#include "workbook/XlsSheet.h"

#include "platform/SiblingTempFile.h"
#include "runtime/RuntimeError.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/GObjectRef.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <system_error>

namespace {

// Why a libgsf output failed, as it recorded it.
std::string gsfReason(GsfOutput* output, const char* step) {
    const GError* error = gsf_output_error(output);
    const char* message = error != nullptr && error->message != nullptr ? error->message : "unknown error";
    return std::string(step) + ": " + message;
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
    if (!sink) throw std::runtime_error("cannot open the compound file");
    GObjectRef<GsfOutfile> ole(gsf_outfile_msole_new_full(sink.get(), 512, 64));
    if (!ole) throw std::runtime_error("cannot start the compound file");
    GObjectRef<GsfOutput> workbook(gsf_outfile_new_child(ole.get(), "Workbook", FALSE));
    if (!workbook) throw std::runtime_error("cannot add the workbook stream");
    book.write([&](std::span<const std::uint8_t> piece) {
        if (!gsf_output_write(workbook.get(), piece.size(), piece.data()))
            throw std::runtime_error(gsfReason(workbook.get(), "cannot write the workbook stream"));
    });
    if (!gsf_output_close(workbook.get()))
        throw std::runtime_error(gsfReason(workbook.get(), "cannot write the workbook stream"));
    if (!gsf_output_close(GSF_OUTPUT(ole.get())))
        throw std::runtime_error(gsfReason(GSF_OUTPUT(ole.get()), "cannot write the compound file"));
    // Closing the compound file normally closes its sink as well. A failed write to the sink is recorded there,
    // whatever the compound file made of it.
    if ((!gsf_output_is_closed(sink.get()) && !gsf_output_close(sink.get())) || gsf_output_error(sink.get()) != nullptr)
        throw std::runtime_error(gsfReason(sink.get(), "cannot write the file"));
}

}  // namespace

void XlsSheet::SaveAs(const std::string& path) {
    const std::string prefix = "cannot save workbook " + path + ": ";
    if (m_application.hasQuit())
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "the spreadsheet application has quit");
    if (path.empty()) throw RuntimeError(RuntimeError::FileError, prefix + "no file name given");
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw RuntimeError(RuntimeError::FileError, prefix + "a folder of that name exists");

    std::optional<Biff8Workbook> book;
    try {
        book.emplace(m_application.cells(), u"Hoja1");
    } catch (const std::bad_alloc&) {
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "not enough memory to build the workbook");
    } catch (const std::logic_error& error) {
        throw RuntimeError(RuntimeError::SpreadsheetError, prefix + error.what());
    }

    try {
        SiblingTempFile file(path);
        writeCompoundFile(file.stream(), file.path(), *book);
        file.commit();
    } catch (const std::system_error& error) {
        throw RuntimeError(RuntimeError::FileError, prefix + error.what());
    } catch (const std::runtime_error& error) {
        throw RuntimeError(RuntimeError::FileError, prefix + error.what());
    }
}
