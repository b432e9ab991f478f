#pragma once

#include "source/JetFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class PageCache;

// The B-tree of a Jet 4 index on one Long column, searched by reading its pages: a lookup reads the few pages on the
// way to its key, not the table. The pages are read apart from libmdb's buffers, so that a search never disturbs a
// row being read, and kept once taken apart: an export searches the same few pages again and again.
class IndexReader {
public:
    IndexReader(PageCache& pages, bool jet3);
    ~IndexReader();
    IndexReader(const IndexReader&) = delete;
    IndexReader& operator=(const IndexReader&) = delete;

    // The rows whose key equals `key` in the index whose first page is `firstPage`, in index order. Raises
    // RuntimeError naming `table` when the index's pages are damaged.
    std::vector<RowPointer> find(const std::string& table, std::uint32_t firstPage, std::int32_t key);

private:
    struct Page;
    std::shared_ptr<const Page> page(const std::string& table, std::uint32_t pg);

    PageCache& m_pages;
    bool m_jet3;
    // Index pages already taken apart, by page number (a few hundred pages at most are kept).
    std::map<std::uint32_t, std::shared_ptr<const Page>> m_parsed;
};
