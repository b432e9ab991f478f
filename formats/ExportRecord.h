#pragma once

#include "runtime/DateSerial.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

class Value;

// The twelve fields of an exported movement, in their order, by the names the CSV header line and the workbook's
// header row give them.
inline constexpr std::array<const char*, 12> kExportFieldNames = {"CUIT",    "IIB",      "TIPO",    "DJ_AÑO",
                                                                  "DJ_MES",  "RP_FECHA", "FAC_NRO", "FAC_MONTO",
                                                                  "RET_PER", "AG_CUIT",  "AG_NRO",  "AG_RAZON_SOCIAL"};

// RP_FECHA, the movement's date: yyyymmdd in the agency's text file, [yyyy-mm-dd] in a CSV line or a workbook
// cell. A missing date is "[--]" there; the agency's layout has no empty date, so in the text file it raises
// Invalid use of Null (94). A date outside the years 100 to 9999 raises Overflow (6).
void appendRpFecha(std::string& out, const Value& fecha, bool txt);
// The date RP_FECHA writes, nullopt for a missing one; raises what the forms here raise.
std::optional<CivilDate> rpFecha(const Value& fecha, bool txt);
// The same written at `out`, which has room for kRpFechaMax bytes; returns where it ends.
inline constexpr std::size_t kRpFechaMax = 12;
char* writeRpFecha(char* out, const Value& fecha, bool txt);
