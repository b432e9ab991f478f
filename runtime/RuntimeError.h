#pragma once

#include <stdexcept>
#include <string>

// A run-time error: the program's one exception type. It carries the error's number and its description, is raised
// where a failure happens and is caught only by the procedures that have a handler.
class RuntimeError : public std::runtime_error {
public:
    // Numbers the program relies on.
    static constexpr int Overflow = 6;
    static constexpr int TypeMismatch = 13;
    static constexpr int BadFileName = 52;
    static constexpr int ObjectNotSet = 91;
    static constexpr int InvalidUseOfNull = 94;
    // Errors of the database layer, of files and of the spreadsheet stand-in.
    static constexpr int DatabaseError = 3000;
    // The database file changed while a command read it: what was read may mix two states of the file.
    static constexpr int DatabaseChanged = 3001;
    static constexpr int FileError = 75;
    static constexpr int SpreadsheetError = 1004;

    RuntimeError(int number, const std::string& description) : std::runtime_error(description), m_number(number) {}

    int Number() const noexcept { return m_number; }
    std::string Description() const { return what(); }

    static RuntimeError overflow() { return RuntimeError(Overflow, "Desbordamiento"); }
    static RuntimeError invalidUseOfNull() { return RuntimeError(InvalidUseOfNull, "Uso no válido de Null"); }
    static RuntimeError typeMismatch() { return RuntimeError(TypeMismatch, "No coinciden los tipos"); }
    static RuntimeError badFileName(const std::string& name) {
        return RuntimeError(BadFileName, "Nombre o número de archivo incorrecto: " + name);
    }
    static RuntimeError databaseNotOpen() {
        return RuntimeError(ObjectNotSet,
                            "Variable de objeto o bloque With no establecida: la base de datos no está abierta");
    }

    // The description an error handler shows for any failure, in Spanish: a run-time error's own, or the runtime's
    // words for another.
    static std::string describe(const std::exception& e);

private:
    int m_number;
};
