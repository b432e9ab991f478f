#include "jetfile/JetDamage.h"

#include "runtime/RuntimeError.h"

void throwDamaged(const std::string& path, const std::string& table, const std::string& what) {
    throw RuntimeError(RuntimeError::DatabaseError,
                       "cannot read table " + table + " of " + path + ": " + what + " (the file is damaged)");
}

RuntimeError fileChanged(const std::string& path) {
    return RuntimeError(RuntimeError::DatabaseChanged,
                        "cannot read database " + path + ": the file changed while it was being read: try again");
}
