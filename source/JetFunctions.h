#pragma once

#include "runtime/Value.h"
#include "source/JetTextOrder.h"

#include <string>
#include <string_view>

struct sqlite3;

// What translated SQL needs of the connection it runs on.

// Prepares `db` to run translated SQL. Registers jet_cat(...), Jet's `&`: Null operands count as the empty text,
// the result is Null only when every operand is; numbers are written as Jet writes them: 5, 1234.5, 1E+20,
// 1.5E-05. Registers the collation jet_text, Jet's order of text: without regard to case, letters with accents
// beside the plain ones (the accents decide only between texts that are otherwise the same). Stops SQLite from
// reading a double-quoted name that matches no column as a text constant, so a misspelt name fails instead of
// selecting its own spelling. Raises RuntimeError on failure.
void registerJetFunctions(sqlite3* db);

// The key of `text` under which the texts the jet_text collation finds equal meet: two texts are equal in that order
// exactly when their keys are. False, `key` then unspecified, for a text whose key cannot be told (one that is not
// valid UTF-8 or holds a NUL).
bool jetTextKey(std::string_view text, std::string& key);
// A byte of an ASCII text as its key has it: a capital letter lowered, any other byte as it is.
constexpr unsigned char jetKeyByte(unsigned char byte) {
    return static_cast<unsigned char>(byte - unsigned('A') < 26u ? byte + 32u : byte);
}
