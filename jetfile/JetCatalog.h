#pragma once

#include "jetfile/JetFile.h"

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class PageCache;
class RowReader;

// Pages of the file, in ascending order, kept as a bitmap from the first: a bit a page.
class PageSet {
public:
    // Adds `page`, above every page added before it.
    void add(std::uint32_t page);
    // Calls `each` with every page, in ascending order, while it returns true; false when it stopped.
    template <typename Each>
    bool forEach(Each each) const {
        for (std::size_t w = 0; w < m_bits.size(); ++w)
            for (std::uint64_t word = m_bits[w]; word != 0; word &= word - 1)
                if (!each(std::uint32_t(m_first + w * 64 + std::size_t(std::countr_zero(word))))) return false;
        return true;
    }

private:
    std::uint32_t m_first = 0;
    std::vector<std::uint64_t> m_bits;
};

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
    // The pages table `t`'s page map lists, in the order a scan visits them: its data pages, and maybe pages that
    // are not (a scan passes over them). Raises RuntimeError when its page map is damaged.
    const PageSet& dataPages(std::size_t t);
    // Whether page `page` (read) is a data page of table `table`.
    static bool isDataPage(const unsigned char* page, const JetTableInfo& table);

private:
    JetTableInfo readDefinition(const std::string& name, std::uint32_t page);
    std::string definitionBytes(const std::string& name, std::uint32_t page);
    PageSet pagesOf(const JetTableInfo& table);

    PageCache& m_pages;
    bool m_jet3;
    std::vector<std::string> m_names;
    std::vector<std::uint32_t> m_definitionPages;
    std::vector<std::optional<JetTableInfo>> m_tables;  // read on first use
    std::vector<std::optional<PageSet>> m_dataPages;    // read on first use
};
