#pragma once

#include <cstdint>
#include <string>

struct Form1;

// The output path: G_CARPETA_GENERACION, "RET-PERC-IB-", the reference without dashes, "-", the first period,
// "-", the last period and the extension.
std::string ruta_salida(const Form1& form, const std::string& reference, const std::string& extension);

// The three export commands, run by their buttons. They run on any one thread at a time, with the form's boxes
// shown from it. An export the form's observer stops leaves no file and an existing one as it was (the workbook
// is discarded unsaved), and ends with one information box instead of the error boxes.
void btn_gen_txt_orv_Click(Form1& form);
void btn_gen_csv_Click(Form1& form);
void BTN_XLS_Click(Form1& form);

// The workbook command with the file's extension as a parameter: ".XLS" for the button, ".xlsx" for the command
// line's workbook, which form.createObject then makes. Validates, looks the taxpayer up and runs Generar_XLS,
// showing the button's messages.
void exportWorkbook(Form1& form, const std::string& extension);

// Creates the workbook, fills it by the declaration walk, saves it at `path` and reports the outcome.
void Generar_XLS(Form1& form, std::int32_t& key, const std::string& path);
