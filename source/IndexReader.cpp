#include "source/IndexReader.h"

#include "source/JetBytes.h"
#include "source/JetDamage.h"
#include "source/PageCache.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace {

constexpr unsigned char kPageIndexNode = 0x03;
constexpr unsigned char kPageIndexLeaf = 0x04;
// On a Jet 4 leaf: the previous leaf at 0x0C, the next one at 0x10, the prefix length at 0x18.
constexpr std::size_t kNextLeafOffset = 0x10;

// Jet's index key of a Long in an ascending index: a flag byte for "not Null", then the number big-endian with
// its sign bit flipped, so that the bytes sort as the numbers do.
std::array<unsigned char, 5> longKey(std::int32_t key) {
    const auto v = static_cast<std::uint32_t>(key) ^ 0x80000000u;
    return {0x7F, static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

// The five key bytes of a packed key, before their count.
constexpr std::uint64_t kKeyBytes = 0xFFFFFFFFFF;

std::uint64_t packedKey(const unsigned char* bytes, std::size_t length) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 5; ++i) key = key << 8 | (i < length ? bytes[i] : 0);
    return key << 8 | length;
}

}  // namespace

// The entries of an index page. Entry ends are marked in a bitmap; entries after the first may leave out the
// prefix their page's keys share; each ends with its row's page (3 bytes) and slot, then, on node pages, the
// child page (4 bytes), all big-endian.
// Raises std::invalid_argument naming what is wrong; the caller words it for the table.
std::vector<IndexReader::Entry> IndexReader::parseEntries(const unsigned char* p, std::uint32_t pageSize, bool jet3) {
    const std::size_t bitmapStart = jet3 ? 0x16 : 0x1B;
    const std::size_t entriesStart = jet3 ? 0xF8 : 0x1E0;
    const std::size_t prefix = jetbytes::u16(p + (jet3 ? 0x14 : 0x18));
    const bool node = p[0] == kPageIndexNode;
    const std::size_t tail = node ? 8 : 4;
    std::vector<Entry> entries;
    std::size_t marked = 0;
    std::size_t i = bitmapStart;
    for (; i + 8 <= entriesStart; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        marked += std::size_t(std::popcount(word));
    }
    for (; i < entriesStart; ++i) marked += std::size_t(std::popcount(unsigned(p[i])));
    entries.reserve(marked);
    std::uint64_t first = 0;  // the key bytes of the first entry, as packed
    std::size_t begin = entriesStart;
    // Bit n marks an entry ending at entriesStart + n; bit 0 marks none.
    for (std::size_t byte = bitmapStart; byte < entriesStart; ++byte) {
        for (unsigned bits = p[byte] & (byte == bitmapStart ? 0xFEu : 0xFFu); bits != 0; bits &= bits - 1) {
            const std::size_t bit = (byte - bitmapStart) * 8 + std::size_t(std::countr_zero(bits));
            const std::size_t end = entriesStart + bit;
            if (end > pageSize) throw std::invalid_argument("index entry outside its page");
            const bool isFirst = entries.empty();
            const std::size_t omitted = isFirst ? 0 : (prefix > 1 ? prefix : 0);
            const std::size_t stored = end - begin;
            if (stored < tail || omitted > 5) throw std::invalid_argument("index entry malformed");
            const std::size_t keyStored = stored - tail;
            const std::size_t keyLength = std::min<std::size_t>(omitted + keyStored, 5);
            // The omitted bytes are the first key's, the others follow in the entry.
            const unsigned shift = unsigned(8 * (5 - omitted));
            std::uint64_t key = first & (kKeyBytes >> shift << shift);
            for (std::size_t i = omitted; i < keyLength; ++i)
                key |= std::uint64_t(p[begin + i - omitted]) << (8 * (4 - i));
            if (isFirst) first = key;
            const unsigned char* t = p + end - tail;
            Entry e{};
            e.key = key << 8 | keyLength;
            e.row = jetbytes::u32be(t);
            if (node) e.child = jetbytes::u32be(t + 4);
            entries.push_back(e);
            begin = end;
        }
    }
    return entries;
}

IndexReader::IndexReader(PageCache& pages, bool jet3) : m_pages(pages), m_jet3(jet3) {}

IndexReader::~IndexReader() = default;

const IndexReader::Page& IndexReader::page(const std::string& table, std::uint32_t pg) {
    if (const Page* kept = m_parsed.find(pg)) return *kept;
    const unsigned char* p = m_pages.page(table, pg);
    if (p[0] != kPageIndexLeaf && p[0] != kPageIndexNode)
        throwDamaged(m_pages.path(), table, "index page " + std::to_string(pg) + " has the wrong type");
    Page parsed{p[0], jetbytes::u32(p + kNextLeafOffset), {}};
    try {
        parsed.entries = parseEntries(p, m_pages.pageSize(), m_jet3);
    } catch (const std::invalid_argument& e) {
        throwDamaged(m_pages.path(), table, e.what());
    }
    return m_parsed.insert(pg, std::move(parsed));
}

std::vector<RowPointer> IndexReader::find(const std::string& table, std::uint32_t firstPage, std::int32_t key) {
    std::vector<RowPointer> found;
    const std::array<unsigned char, 5> bytes = longKey(key);
    const std::uint64_t target = packedKey(bytes.data(), bytes.size());

    // Down the nodes: each entry holds the last key of its child, so the first entry not below the key leads to
    // the leaf where its rows start. Past a node's last entry, the key can only be on the leaves that follow the
    // last child, which the chain of leaves reaches even when no node lists them yet.
    std::uint32_t pg = firstPage;
    std::size_t visited = 0;
    for (;;) {
        if (++visited > m_pages.pageCount()) throwDamaged(m_pages.path(), table, "index pages loop");
        const Page& node = page(table, pg);
        if (node.type == kPageIndexLeaf) break;
        if (node.entries.empty()) return found;
        const auto it =
            std::find_if(node.entries.begin(), node.entries.end(), [&](const Entry& e) { return e.key >= target; });
        pg = (it == node.entries.end() ? node.entries.back() : *it).child;
    }
    // Along the leaves, in key order, until a key above the one sought.
    for (;;) {
        const Page& leaf = page(table, pg);
        if (leaf.type != kPageIndexLeaf)
            throwDamaged(m_pages.path(), table, "index page " + std::to_string(pg) + " has the wrong type");
        // Entries are in key order: start at the first that is not below the key.
        auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), target,
                                   [](const Entry& e, std::uint64_t k) { return e.key < k; });
        for (; it != leaf.entries.end(); ++it) {
            if (it->key > target) return found;
            found.push_back({it->row >> 8, std::uint8_t(it->row)});
        }
        if (leaf.next == 0) return found;
        if (++visited > m_pages.pageCount()) throwDamaged(m_pages.path(), table, "index pages loop");
        pg = leaf.next;
    }
}
