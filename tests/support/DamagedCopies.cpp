#include "support/DamagedCopies.h"

#include "support/TestFiles.h"

#include <algorithm>
#include <random>
#include <sstream>

std::string damageSourcePath(const DamageSource& source) {
    const std::string file = source.file;
    return file.starts_with("fixtures/") ? shared(file) : testData(file);
}

std::pair<std::string, std::string> damage(const DamageSource& source, const std::string& original, int kind, int n) {
    std::mt19937 random(static_cast<unsigned>(kind * 100003 + n) ^ static_cast<unsigned>(original.size()));
    const std::size_t pages = original.size() / source.pageSize;
    // Swaps and zero-fills spare page 0: a damaged header only ever ends in the plainest outcome, which cut copies
    // and changed bytes reach often enough.
    const auto page = [&] { return 1 + random() % (pages - 1); };
    const auto at = [&](std::size_t p) { return static_cast<std::ptrdiff_t>(p * source.pageSize); };
    std::string bytes = original;
    std::ostringstream name;
    name << source.file << ", ";
    if (kind == 0) {
        bytes.resize(random() % original.size());
        name << "cut to " << bytes.size() << " bytes";
    } else if (kind == 1) {
        name << "bytes changed at";
        for (int count = 1 + static_cast<int>(random() % 16); count > 0; --count) {
            const std::size_t i = random() % bytes.size();
            bytes[i] = static_cast<char>(bytes[i] ^ static_cast<char>(1 + random() % 255));
            name << ' ' << i;
        }
    } else if (kind == 2) {
        const std::size_t a = page();
        std::size_t b = page();
        if (b == a) b = a % (pages - 1) + 1;
        std::swap_ranges(bytes.begin() + at(a), bytes.begin() + at(a + 1), bytes.begin() + at(b));
        name << "pages " << a << " and " << b << " swapped";
    } else {
        const std::size_t p = page();
        std::fill_n(bytes.begin() + at(p), source.pageSize, '\0');
        name << "page " << p << " zero-filled";
    }
    return {name.str(), std::move(bytes)};
}
