#pragma once

#include "jetfile/JetFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class PageCache;

// The B-tree of a Jet 4 index on one Long column, searched by reading its pages: a lookup reads the few pages on the
// way to its key, not the table. Node pages are kept once taken apart: every search starts from the same few. A leaf
// is searched where it lies, without taking apart the hundreds of entries it holds for the one key asked for. An
// index on any key (a Text column's) can also be listed whole, in its order, along its leaves.
class IndexReader {
public:
    IndexReader(PageCache& pages, bool jet3);
    ~IndexReader();
    IndexReader(const IndexReader&) = delete;
    IndexReader& operator=(const IndexReader&) = delete;

    // Appends to `found` the rows whose key equals `key` in the index whose first page is `firstPage`, in index
    // order. Raises RuntimeError naming `table` when the index's pages are damaged.
    void find(const std::string& table, std::uint32_t firstPage, std::int32_t key, std::vector<RowPointer>& found);
    // Appends to `found` every row the index whose first page is `firstPage` lists, in index order: its leftmost leaf,
    // then the leaves after it. Its pages are those of the table whose definition is at page `owner`, of any key
    // type. Raises RuntimeError naming `table` when the index's pages are damaged or loop.
    void inOrder(const std::string& table, std::uint32_t owner, std::uint32_t firstPage,
                 std::vector<RowPointer>& found);
    // Calls `each` with the key and the row of every entry of the index on a Long column whose first page is
    // `firstPage`, in index order (entries with a Null key left out). Raises as inOrder.
    void forEachLongEntry(const std::string& table, std::uint32_t owner, std::uint32_t firstPage,
                          const std::function<void(std::int32_t, RowPointer)>& each);

private:
    // An entry of a node page, packed: its key bytes (up to five, big-endian, then their count) make one number
    // that sorts as the keys do, a key that is a prefix of another sorting first.
    struct Entry {
        std::uint64_t key;
        std::uint32_t child;
    };
    // Calls `each` with every entry's packed key (its first five key bytes) and row, in index order.
    void forEachEntry(const std::string& table, std::uint32_t owner, std::uint32_t firstPage,
                      const std::function<void(std::uint64_t, RowPointer)>& each);

    // A node page: an entry per child, holding the last key under it, and the tail page, which holds the keys
    // after the last entry's (0 when there is none); the table definition its index belongs to.
    struct Node {
        std::uint32_t tail;
        std::uint32_t owner;
        std::vector<Entry> entries;
    };
    class PageEntries;

    const Node& node(const std::string& table, std::uint32_t pg, const unsigned char* page);
    bool sameIndex(const std::string& table, std::uint32_t pg, std::uint32_t owner);
    // Appends the rows of `key` (packed) on leaf `page`; false once a key above it was seen.
    bool collect(const std::string& table, const unsigned char* page, std::uint64_t key,
                 std::vector<RowPointer>& found);

    PageCache& m_pages;
    bool m_jet3;
    // Node pages taken apart, by page number, for the reading: a node holds the last keys of a few hundred leaves, so
    // the nodes of an index of a file at Jet's size limit come to a few hundred kilobytes.
    std::unordered_map<std::uint32_t, Node> m_nodes;
};
