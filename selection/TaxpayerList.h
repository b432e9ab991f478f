#pragma once

#include <cstdint>
#include <string>

struct Form1;

// Fills the taxpayer combo box from table CMD, in name order: each entry is the reference, "- " and the name
// (a Null field contributes nothing). Errors pass to the caller.
void Cargar_Contribuyentes(Form1& form);

// Resolves the combo box's text into the taxpayer's key and reference. The first 13 characters of the text are
// matched literally against CMD_NumRef; the first matching row wins. Returns false (key 0, empty reference)
// when no row matches. Errors pass to the caller.
bool Obtener_Contribuyente(Form1& form, std::int32_t& key, std::string& reference);
