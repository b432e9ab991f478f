#pragma once

#include <cstdint>
#include <functional>
#include <string>

class Database;
class Form1Controls;

// Fills the taxpayer combo box from table CMD, in name order: each entry is the reference, "- " and the name
// (a Null field contributes nothing). Errors pass to the caller; the entries added before one stay.
void Cargar_Contribuyentes(Database& Conn, Form1Controls& controls);

// The rows of the taxpayer list, in its order: `visit` gets each row's reference and name, a Null field as the
// empty text. Errors pass to the caller; the rows visited before one stay visited.
using TaxpayerVisitor = std::function<void(const std::string& reference, const std::string& name)>;
void forEachTaxpayer(Database& Conn, const TaxpayerVisitor& visit);

// The list's entry for a taxpayer: what choosing it puts into the combo box's text.
std::string listEntry(const std::string& reference, const std::string& name);

// Resolves the combo box's text into the taxpayer's key and reference. The first 13 characters of the text are
// matched literally against CMD_NumRef; the first matching row wins. Returns false (key 0, empty reference)
// when no row matches. Without a connection it raises Object variable not set (91); other errors pass to the
// caller.
bool Obtener_Contribuyente(Database* Conn, const Form1Controls& controls, std::int32_t& key, std::string& reference);
