#include "source/IndexReader.h"

#include "source/JetBytes.h"
#include "source/JetDamage.h"
#include "source/PageCache.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace {

constexpr unsigned char kPageIndexNode = 0x03;
constexpr unsigned char kPageIndexLeaf = 0x04;
// On a Jet 4 index page: the previous page of its level at 0x0C, the next one at 0x10, the tail page at 0x14, the
// prefix length at 0x18.
constexpr std::size_t kNextPageOffset = 0x10;
constexpr std::size_t kTailPageOffset = 0x14;

// Jet's index key of a Long in an ascending index, packed: a flag byte for "not Null", then the number big-endian
// with its sign bit flipped, so that the bytes sort as the numbers do; then their count, five.
std::uint64_t packedLongKey(std::int32_t key) {
    const auto v = static_cast<std::uint32_t>(key) ^ 0x80000000u;
    return (std::uint64_t(0x7F) << 32 | v) << 8 | 5;
}

// The five key bytes of a packed key, before their count.
constexpr std::uint64_t kKeyBytes = 0xFFFFFFFFFF;

}  // namespace

// The entries of an index page, found where they lie. Entry ends are marked in a bitmap; entries after the first may
// leave out the prefix their page's keys share; each ends with its row's page (3 bytes) and slot, then, on node
// pages, the child page (4 bytes), all big-endian. An entry is checked against its page when it is read; a page
// whose entries are out of order gives wrong rows, never a read outside it.
// Raises std::invalid_argument naming what is wrong; the caller words it for the table.
class IndexReader::PageEntries {
public:
    PageEntries(const unsigned char* page, std::uint32_t pageSize, bool jet3, std::vector<std::uint16_t>& ends)
        : m_page(page),
          m_pageSize(pageSize),
          m_entriesStart(jet3 ? 0xF8 : 0x1E0),
          m_prefix(jetbytes::u16(page + (jet3 ? 0x14 : 0x18))),
          m_tail(page[0] == kPageIndexNode ? 8 : 4),
          m_ends(ends) {
        // Bit n marks an entry ending at the entries' start + n; bit 0 marks none.
        const std::size_t bitmapStart = jet3 ? 0x16 : 0x1B;
        m_ends.resize((m_entriesStart - bitmapStart) * 8);
        std::uint16_t* at = m_ends.data();
        std::size_t count = 0;
        const auto gather = [&](std::uint64_t word, std::size_t byte) {
            const auto base = std::uint16_t(m_entriesStart + (byte - bitmapStart) * 8);
            for (; word != 0; word &= word - 1) at[count++] = std::uint16_t(base + std::countr_zero(word));
        };
        // Whole words, then the bytes left.
        std::size_t byte = bitmapStart;
        for (; byte + 8 <= m_entriesStart; byte += 8) {
            std::uint64_t word;
            std::memcpy(&word, page + byte, 8);
            gather(byte == bitmapStart ? word & ~std::uint64_t(1) : word, byte);
        }
        std::uint64_t rest = 0;
        for (std::size_t b = byte; b < m_entriesStart; ++b) rest |= std::uint64_t(page[b]) << (8 * (b - byte));
        gather(rest, byte);
        m_count = count;
        if (m_count > 0) m_first = keyBytes(0);
    }

    std::size_t size() const noexcept { return m_count; }

    // The packed key of entry `i`.
    std::uint64_t key(std::size_t i) const {
        const std::size_t omitted = i == 0 ? 0 : (m_prefix > 1 ? m_prefix : 0);
        const std::size_t keyLength = std::min<std::size_t>(omitted + stored(i) - m_tail, 5);
        if (i == 0) return m_first << 8 | keyLength;
        return keyBytes(i) << 8 | keyLength;
    }
    // The row of entry `i`, as data page << 8 | slot.
    std::uint32_t row(std::size_t i) const { return jetbytes::u32be(m_page + m_ends[i] - m_tail); }
    // The child page of entry `i` of a node page.
    std::uint32_t child(std::size_t i) const { return jetbytes::u32be(m_page + m_ends[i] - 4); }

private:
    // The bytes entry `i` occupies, checked against the page.
    std::size_t stored(std::size_t i) const {
        const std::size_t end = m_ends[i];
        const std::size_t begin = i == 0 ? m_entriesStart : m_ends[i - 1];
        if (end > m_pageSize) throw std::invalid_argument("index entry outside its page");
        const std::size_t omitted = i == 0 ? 0 : (m_prefix > 1 ? m_prefix : 0);
        if (end - begin < m_tail || omitted > 5) throw std::invalid_argument("index entry malformed");
        return end - begin;
    }

    // The five key bytes of entry `i`, the ones left out taken from the first entry's.
    std::uint64_t keyBytes(std::size_t i) const {
        const std::size_t omitted = i == 0 ? 0 : (m_prefix > 1 ? m_prefix : 0);
        const std::size_t keyStored = stored(i) - m_tail;
        const std::size_t keyLength = std::min<std::size_t>(omitted + keyStored, 5);
        const unsigned shift = unsigned(8 * (5 - omitted));
        std::uint64_t key = m_first & (kKeyBytes >> shift << shift);
        const unsigned char* bytes = m_page + (i == 0 ? m_entriesStart : m_ends[i - 1]);
        for (std::size_t b = omitted; b < keyLength; ++b) key |= std::uint64_t(bytes[b - omitted]) << (8 * (4 - b));
        return key;
    }

    const unsigned char* m_page;
    std::size_t m_pageSize;
    std::size_t m_entriesStart;
    std::size_t m_prefix;
    std::size_t m_tail;
    std::vector<std::uint16_t>& m_ends;
    std::size_t m_count = 0;
    std::uint64_t m_first = 0;  // the key bytes of the first entry
};

IndexReader::IndexReader(PageCache& pages, bool jet3) : m_pages(pages), m_jet3(jet3) {}

IndexReader::~IndexReader() = default;

const IndexReader::Node& IndexReader::node(const std::string& table, std::uint32_t pg, const unsigned char* p) {
    Node parsed{jetbytes::u32(p + kTailPageOffset), {}};
    try {
        const PageEntries entries(p, m_pages.pageSize(), m_jet3, m_ends);
        parsed.entries.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) parsed.entries.push_back({entries.key(i), entries.child(i)});
    } catch (const std::invalid_argument& e) {
        throwDamaged(m_pages.path(), table, e.what());
    }
    const std::size_t cost = std::max<std::size_t>(parsed.entries.size(), 1);
    return m_nodes.insert(pg, std::move(parsed), cost);
}

bool IndexReader::collect(const std::string& table, const unsigned char* p, std::uint64_t target,
                          std::vector<RowPointer>& found) {
    try {
        const PageEntries entries(p, m_pages.pageSize(), m_jet3, m_ends);
        // Entries are in key order: start at the first that is not below the key.
        std::size_t low = 0, high = entries.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (entries.key(middle) < target)
                low = middle + 1;
            else
                high = middle;
        }
        for (std::size_t i = low; i < entries.size(); ++i) {
            if (entries.key(i) > target) return false;
            const std::uint32_t row = entries.row(i);
            found.push_back({row >> 8, std::uint8_t(row)});
        }
    } catch (const std::invalid_argument& e) {
        throwDamaged(m_pages.path(), table, e.what());
    }
    return true;
}

void IndexReader::find(const std::string& table, std::uint32_t firstPage, std::int32_t key,
                       std::vector<RowPointer>& found) {
    const std::uint64_t target = packedLongKey(key);
    const auto wrongType = [&](std::uint32_t pg) {
        throwDamaged(m_pages.path(), table, "index page " + std::to_string(pg) + " has the wrong type");
    };

    // Down the nodes: each entry holds the last key under its child, so the first entry not below the key leads to
    // where its rows start. Past a node's last entry, the key can only be under the tail page; without one, on the
    // leaves after the last child, which the chain of leaves reaches.
    std::uint32_t pg = firstPage;
    std::size_t visited = 0;
    const unsigned char* leaf = nullptr;
    for (;;) {
        if (++visited > m_pages.pageCount()) throwDamaged(m_pages.path(), table, "index pages loop");
        const Node* kept = m_nodes.find(pg);
        if (!kept) {
            const unsigned char* p = m_pages.page(table, pg);
            if (p[0] == kPageIndexLeaf) {
                leaf = p;
                break;
            }
            if (p[0] != kPageIndexNode) wrongType(pg);
            kept = &node(table, pg, p);
        }
        const std::vector<Entry>& entries = kept->entries;
        const auto it = std::lower_bound(entries.begin(), entries.end(), target,
                                         [](const Entry& e, std::uint64_t k) { return e.key < k; });
        if (it != entries.end())
            pg = it->child;
        else if (kept->tail != 0)
            pg = kept->tail;
        else if (!entries.empty())
            pg = entries.back().child;
        else
            return;
    }
    // Along the leaves, in key order, until a key above the one sought.
    for (;;) {
        if (!collect(table, leaf, target, found)) return;
        const std::uint32_t next = jetbytes::u32(leaf + kNextPageOffset);
        if (next == 0) return;
        if (++visited > m_pages.pageCount()) throwDamaged(m_pages.path(), table, "index pages loop");
        leaf = m_pages.page(table, next);
        if (leaf[0] != kPageIndexLeaf) wrongType(next);
    }
}
