#include "runtime/RuntimeError.h"

#include "runtime/ErrnoText.h"

#include <new>
#include <system_error>

std::string RuntimeError::describe(const std::exception& e) {
    if (const auto* runtime = dynamic_cast<const RuntimeError*>(&e)) return runtime->Description();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return "Memoria insuficiente";
    if (const auto* system = dynamic_cast<const std::system_error*>(&e)) {
        // "what failed: the system's words"; the C library's words are English, the program's are Spanish.
        std::string what = system->what();
        const std::string words = system->code().message();
        if (what.ends_with(": " + words)) what.resize(what.size() - words.size() - 2);
        const std::string spanish =
            system->code().category() == std::generic_category() ? errnoText(system->code().value()) : words;
        return what.empty() || what == words ? spanish : what + ": " + spanish;
    }
    return std::string("Error inesperado: ") + e.what();
}
