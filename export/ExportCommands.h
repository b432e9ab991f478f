#pragma once

#include "export/ExportTaxpayer.h"

#include <cstdint>
#include <functional>
#include <string>

struct ExportState;
struct Form1;

// The output path of the form's export: G_CARPETA_GENERACION, "RET-PERC-IB-", the reference without dashes, "-",
// the first period, "-", the last period and the extension (see outputPath).
std::string ruta_salida(const Form1& form, const std::string& reference, const std::string& extension);

// The three export commands, run by their buttons: each checks the selection and the range, has the export made
// (exportTaxpayer) from what the window's controls hold, asks its question and shows its boxes, as the window
// does. They run on any one thread at a time, with the form's boxes shown from it. An export the form's observer
// stops leaves no file and an existing one as it was (the workbook is discarded unsaved), and ends with one
// information box instead of the error boxes.
using ExportCommand = ExportOutcome (*)(Form1& form);
ExportOutcome btn_gen_txt_orv_Click(Form1& form);
ExportOutcome btn_gen_csv_Click(Form1& form);
ExportOutcome BTN_XLS_Click(Form1& form);

// The workbook's driver: creates the workbook, fills it by the declaration walk of the taxpayer `key` and saves it
// at `path`, from a reading of the database during which the file did not change. `save` is told the movements
// written and says whether the workbook is saved at all (a count saves none); by default it is. Reports the outcome
// (Written, Cancelled or Failed in the driver, with whether the workbook had been created); the command shows its
// boxes. Raises nothing but ExportCancelled's and the failures' outcomes.
ExportOutcome Generar_XLS(ExportState& form, std::int32_t& key, const std::string& path,
                          const std::function<bool(std::int64_t movements)>& save = {});
