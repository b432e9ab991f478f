#pragma once

#include "jetfile/PageSource.h"

#include <map>
#include <memory>
#include <string>

// A Jet file kept as the pages that hold anything (a .pages file of the generator: "JETPAGES", the page size and
// the page count, four bytes each little-endian, then each stored page's number and bytes), read in memory as the
// whole file, every page not stored all zeros: a file of hundreds of megabytes in a few hundred kilobytes.
class SparsePages {
public:
    // Loads `path`; a file that is not a .pages file fails the test that loads it.
    explicit SparsePages(const std::string& path);

    // A source on the whole file.
    std::unique_ptr<PageSource> open() const;

private:
    class Source;

    std::uint32_t m_pageSize = 0;
    std::uint32_t m_pageCount = 0;
    std::map<std::uint32_t, std::string> m_pages;
};
