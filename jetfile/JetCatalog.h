#pragma once

#include "jetfile/JetFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class PageCache;
class RowReader;

// The user tables of a Jet file: their names and definition pages from the catalog's rows (MSysObjects), read
// when the file is opened; each table's definition (columns, indexes) when first asked for, its data pages when
// first scanned. A definition is read from its pages, which may run on over several; every count, offset and
// length in it is checked against what holds it.
class JetCatalog {
public:
    // Reads the catalog. Raises RuntimeError when it is damaged.
    JetCatalog(PageCache& pages, RowReader& rows, bool jet3);

    const std::vector<std::string>& names() const noexcept { return m_names; }
    // Raises RuntimeError when the definition is damaged.
    const JetTableInfo& table(std::size_t t);
    // The data pages of table `t`, in the order a scan visits them. Raises RuntimeError when its page map is
    // damaged.
    const std::vector<std::uint32_t>& dataPages(std::size_t t);

private:
    JetTableInfo readDefinition(const std::string& name, std::uint32_t page);
    std::string definitionBytes(const std::string& name, std::uint32_t page);
    std::vector<std::uint32_t> pagesOf(const JetTableInfo& table);

    PageCache& m_pages;
    bool m_jet3;
    std::vector<std::string> m_names;
    std::vector<std::uint32_t> m_definitionPages;
    std::vector<std::optional<JetTableInfo>> m_tables;                   // read on first use
    std::vector<std::optional<std::vector<std::uint32_t>>> m_dataPages;  // read on first use
};
