#pragma once

#include <cstdint>
#include <functional>
#include <string>

class Database;
class Form1Controls;
class Reading;

// Fills the taxpayer combo box from table CMD, in name order: each entry is the reference, "- " and the name
// (a Null field contributes nothing). The list is read as one command, made again while the file changes under
// it. Errors pass to the caller, and then no entry is added.
void Cargar_Contribuyentes(Database& Conn, Form1Controls& controls);

// The rows of the taxpayer list, in its order, as `reading` reads them: `visit` gets each row's reference and
// name, a Null field as the empty text. Errors pass to the caller; the rows visited before one stay visited.
using TaxpayerVisitor = std::function<void(const std::string& reference, const std::string& name)>;
void forEachTaxpayer(Reading& reading, const TaxpayerVisitor& visit);

// The list's entry for a taxpayer: what choosing it puts into the combo box's text.
std::string listEntry(const std::string& reference, const std::string& name);

// Resolves the combo box's text into the taxpayer's key and reference, as `reading` reads the file. The first 13
// characters of the text are matched literally against CMD_NumRef; the first matching row wins. Returns false
// (key 0, empty reference) when no row matches. Errors pass to the caller.
bool Obtener_Contribuyente(Reading& reading, const Form1Controls& controls, std::int32_t& key, std::string& reference);
