#include "workbook/CompoundFile.h"

#include "platform/SiblingTempFile.h"
#include "runtime/ErrnoText.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/posix/GObjectRef.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cerrno>
#include <span>
#include <stdexcept>

namespace {

// Why a libgsf output failed: the step, and the system's reason the failed write left in errno (libgsf's own words
// are English).
std::string gsfReason(GsfOutput* output, const char* step) {
    const int error = errno;
    if (gsf_output_error(output) == nullptr || error == 0) return step;
    return std::string(step) + ": " + errnoText(error);
}

}  // namespace

void writeCompoundFile(SiblingTempFile& file, const Biff8Workbook& book) {
    static const bool gsfReady = [] {
        gsf_init();
        return true;
    }();
    (void)gsfReady;

    // libgsf writes through the file's stream, which stays open for the commit.
    GObjectRef<GsfOutput> sink(gsf_output_stdio_new_FILE(file.path().c_str(), file.stream(), TRUE));
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
