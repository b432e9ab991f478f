#include "support/TestFiles.h"

#ifdef _WIN32
#include "platform/SystemError.h"
#include "platform/windows/WindowsError.h"
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    std::random_device seed;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("velmora-test-" + std::to_string(seed()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string shared(const std::string& relative) {
    const std::string path = std::string(VELMORA_SHARED_DIR) + "/" + relative;
    return std::filesystem::exists(pathOf(path)) ? path : std::string();
}

std::string missingShared(const std::string& relative) {
    return "skipped: " + relative + " of the shared test material is not beside the checkout (" + VELMORA_SHARED_DIR +
           ")";
}

std::string testData(const std::string& relative) { return std::string(VELMORA_TESTS_DIR) + "/" + relative; }

std::string systemWords([[maybe_unused]] const char* linuxWords, [[maybe_unused]] unsigned long windowsError) {
#ifdef _WIN32
    return systemErrorText(std::error_code(static_cast<int>(windowsError), windowsCategory()));
#else
    return linuxWords;
#endif
}

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::vector<std::size_t> dataPagesOf(const std::string& file, const std::string& column) {
    std::string marker;  // Jet 4 keeps column names in UTF-16LE
    for (char c : column) marker += {c, '\0'};
    std::vector<std::uint32_t> definitions;
    std::vector<std::size_t> pages;
    for (std::size_t p = 0; p < file.size() / 4096; ++p)
        if (file[p * 4096] == 2 && file.substr(p * 4096, 4096).find(marker) != std::string::npos)
            definitions.push_back(static_cast<std::uint32_t>(p));
    for (std::size_t p = 0; p < file.size() / 4096; ++p) {
        std::uint32_t owner;
        std::memcpy(&owner, file.data() + p * 4096 + 4, 4);
        if (file[p * 4096] == 1 && std::count(definitions.begin(), definitions.end(), owner)) pages.push_back(p);
    }
    return pages;
}
