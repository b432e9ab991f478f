#include "platform/FileErrors.h"

namespace FileErrors {

RuntimeError cannotTest(const std::string& path, const std::string& reason) {
    return RuntimeError(RuntimeError::FileError, "No se puede saber si existe " + path + ": " + reason);
}

RuntimeError cannotCreateFolder(const std::string& folder, const std::string& reason) {
    return RuntimeError(RuntimeError::FileError, "No se puede crear la carpeta " + folder + ": " + reason);
}

RuntimeError cannotCreateFile(const std::string& file, const std::string& reason) {
    return RuntimeError(RuntimeError::FileError, "No se puede crear el archivo " + file + ": " + reason);
}

RuntimeError cannotWriteFile(const std::string& file, const std::string& reason) {
    return RuntimeError(RuntimeError::FileError, "No se puede escribir el archivo " + file + ": " + reason);
}

RuntimeError cannotReplaceFile(const std::string& file, const std::string& reason) {
    return RuntimeError(RuntimeError::FileError,
                        "No se puede poner el archivo nuevo en lugar de " + file + ": " + reason);
}

}  // namespace FileErrors
