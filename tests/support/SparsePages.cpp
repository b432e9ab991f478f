#include "support/SparsePages.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t u32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

}  // namespace

class SparsePages::Source final : public PageSource {
public:
    explicit Source(const SparsePages& pages) : m_pages(pages) {}

    const std::string& name() const noexcept override { return m_name; }

    std::size_t read(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) override {
        const std::uint64_t size = std::uint64_t(m_pages.m_pageSize) * m_pages.m_pageCount;
        std::size_t read = 0;
        for (const std::span<unsigned char> piece : pieces) {
            for (std::size_t i = 0; i < piece.size(); ++i) {
                const std::uint64_t at = offset + read;
                if (at >= size) return read;
                const auto page = m_pages.m_pages.find(std::uint32_t(at / m_pages.m_pageSize));
                piece[i] = page == m_pages.m_pages.end()
                               ? 0
                               : static_cast<unsigned char>(page->second[std::size_t(at % m_pages.m_pageSize)]);
                ++read;
            }
        }
        return read;
    }

    FileStamp stamp() const override { return {std::uint64_t(m_pages.m_pageSize) * m_pages.m_pageCount, 1, 1}; }
    bool stillNamed() const override { return true; }

private:
    const SparsePages& m_pages;
    std::string m_name = "sparse";
};

SparsePages::SparsePages(const std::string& path) {
    const std::string bytes = readBytes(path);
    if (bytes.size() < 16 || bytes.compare(0, 8, "JETPAGES") != 0) {
        ADD_FAILURE() << path << ": not a .pages file";
        return;
    }
    m_pageSize = u32(bytes, 8);
    m_pageCount = u32(bytes, 12);
    for (std::size_t at = 16; at + 4 + m_pageSize <= bytes.size(); at += 4 + m_pageSize)
        m_pages.emplace(u32(bytes, at), bytes.substr(at + 4, m_pageSize));
}

std::unique_ptr<PageSource> SparsePages::open() const { return std::make_unique<Source>(*this); }
