#pragma once

#include <cstdint>
#include <string>

// The Jet SQL statements of the program's five reads, as the database layer runs them.

// The taxpayer list, by name.
extern const char* const kTaxpayerListSql;
// The taxpayer whose reference is `reference`.
std::string taxpayer_sql(const std::string& reference);
// The grouped declaration statement for a taxpayer: one row per form and declared month (operations 0 and 1),
// with the greatest ordering key as `maximo`, in ascending order of that key.
std::string grouped_declarations_sql(std::int32_t key);
// The statement that finds the declaration of form `cp01` whose ordering key is `maximo`.
std::string obtener_sid_sql(std::int32_t cp01, const std::string& maximo);
// The movement statements of one declaration of one taxpayer.
std::string retenciones_sql(std::int32_t key, std::int32_t sid);
std::string percepciones_sql(std::int32_t key, std::int32_t sid);
