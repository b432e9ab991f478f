#include "workbook/XlsxWorkbook.h"

#include "workbook/posix/XlsxSheet.h"

namespace XlsxWorkbook {

static_assert(RowLimit == XlsxSheet::RowLimit);

bool offered() noexcept { return true; }

std::string notOffered() { return {}; }

std::unique_ptr<ExcelSheet> create(const std::string& target) { return std::make_unique<XlsxSheet>(target); }

std::unique_ptr<ExcelSheet> createChecking() { return std::make_unique<XlsxSheet>(); }

}  // namespace XlsxWorkbook
