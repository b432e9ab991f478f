#include "platform/OutputFile.h"

#include "platform/FileErrors.h"
#include "platform/FileSystem.h"
#include "platform/SiblingTempFile.h"
#include "platform/SystemError.h"
#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"

#include <memory>
#include <optional>
#include <system_error>

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kWriteBackSize = 1024 * 1024;

// Writes into a temporary file beside the target and renames it over the target on Close.
class SiblingOutputFile final : public OutputFile {
public:
    void Open(const std::string& path) override {
        if (isOpen()) throw FileErrors::cannotCreateFile(path, "ya hay otro archivo abierto para escribir");
        // A folder of the target's name would only fail at the rename, after the whole export was written.
        if (FileSystem::isFolder(path)) throw FileErrors::cannotCreateFile(path, "hay una carpeta con ese nombre");
        try {
            m_temp.emplace(path);
        } catch (const std::system_error& e) {
            throw FileErrors::cannotCreateFile(path, systemErrorText(e.code()));
        }
        m_target = path;
        m_writeError.clear();
        m_sinceWriteBack = 0;
        m_bytes.clear();
    }

    void PrintLine(std::string_view utf8Line) override {
        if (!isOpen()) throw FileErrors::cannotWriteFile(m_target, "no está abierto");
        appendWindows1252(m_bytes, utf8Line);
        m_bytes += "\r\n";
        if (m_bytes.size() >= kBufferSize) write();
        if (m_writeError) throw FileErrors::cannotWriteFile(m_target, systemErrorText(m_writeError));
    }

    void Close() override {
        if (!isOpen()) return;
        // Written here so that a full device reads as a write failure, not as a failure to replace the target. A
        // file that lost a line never replaces the target, even when the caller closes it after the error.
        write();
        if (m_writeError) {
            Abandon();
            throw FileErrors::cannotWriteFile(m_target, systemErrorText(m_writeError));
        }
        try {
            m_temp->commit();
        } catch (const std::system_error& e) {
            Abandon();
            throw FileErrors::cannotReplaceFile(m_target, systemErrorText(e.code()));
        }
        m_temp.reset();
    }

    void Abandon() noexcept override { m_temp.reset(); }

    bool isOpen() const noexcept override { return m_temp.has_value(); }

private:
    // Writes the lines gathered, unless a write failed before; a long export goes to the disk as it is written, not
    // all at once when it is closed.
    void write() noexcept {
        if (!m_writeError && !m_bytes.empty()) {
            try {
                m_temp->write(m_bytes);
            } catch (const std::system_error& e) {
                m_writeError = e.code();
            }
        }
        m_sinceWriteBack += m_bytes.size();
        m_bytes.clear();
        if (!m_writeError && m_sinceWriteBack >= kWriteBackSize) {
            m_sinceWriteBack = 0;
            m_temp->startWriteBack();
        }
    }

    std::optional<SiblingTempFile> m_temp;
    std::string m_target;
    std::error_code m_writeError;      // the first failed write's since Open
    std::string m_bytes;               // the lines gathered, in the file's code page
    std::size_t m_sinceWriteBack = 0;  // bytes written since the last start of a write-back
};

}  // namespace

std::unique_ptr<OutputFile> makeOutputFile() { return std::make_unique<SiblingOutputFile>(); }
