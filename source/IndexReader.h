#pragma once

#include "source/JetFile.h"
#include "source/LruCache.h"

#include <cstdint>
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
    // An index entry, packed: its key bytes (up to five, big-endian, then their count) make one number that sorts
    // as the keys do, a key that is a prefix of another sorting first.
    struct Entry {
        std::uint64_t key;
        std::uint32_t row;    // data page << 8 | slot
        std::uint32_t child;  // node pages only
    };
    struct Page {
        unsigned char type;
        std::uint32_t next;  // leaves: the next leaf in key order
        std::vector<Entry> entries;
    };

    const Page& page(const std::string& table, std::uint32_t pg);
    static std::vector<Entry> parseEntries(const unsigned char* p, std::uint32_t pageSize, bool jet3);

    PageCache& m_pages;
    bool m_jet3;
    // Index pages already taken apart, by page number: the few node pages every search starts from stay, the
    // leaves come and go. A search uses one page at a time, done with it before it asks for the next. An export's
    // searches find their pages again among the last few dozen; more would only hold memory.
    static constexpr std::size_t kParsedPages = 64;
    LruCache<std::uint32_t, Page> m_parsed{kParsedPages};
};
