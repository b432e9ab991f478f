#include "jetfile/JetDamage.h"

#include "runtime/RuntimeError.h"

void throwDamaged(const std::string& path, const std::string& table, const std::string& what) {
    throw RuntimeError(RuntimeError::DatabaseError, "La base de datos " + path + " está dañada (tabla " + table + ": " +
                                                        what +
                                                        "). El programa de la agencia puede repararla o "
                                                        "reemplazarla por una copia sana.");
}

RuntimeError fileChanged(const std::string& path) {
    return RuntimeError(RuntimeError::DatabaseChanged,
                        "La base de datos " + path + " cambió mientras se leía: vuelva a intentarlo.");
}
