#include "jetfile/JetText.h"

#include "runtime/TextCodecs.h"

void appendJetText(const unsigned char* p, std::size_t size, bool jet3, std::string& out) {
    if (jet3) {
        appendUtf8FromWindows1252(out, p, size);
        return;
    }
    out.reserve(out.size() + size);
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bool compressed = true;
        std::size_t i = 2;
        while (i < size) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                // Runs of ASCII are copied as they are.
                const std::size_t run = i;
                while (i < size && p[i] != 0 && p[i] < 0x80) ++i;
                if (i > run) {
                    out.append(reinterpret_cast<const char*>(p + run), i - run);
                    continue;
                }
                appendUtf8(out, p[i]);
                ++i;
            } else {
                if (i + 1 >= size) break;
                appendUtf8FromUtf16le(out, p + i, 1);
                i += 2;
            }
        }
        return;
    }
    appendUtf8FromUtf16le(out, p, size / 2);
}

std::string jetText(const unsigned char* bytes, std::size_t size, bool jet3) {
    std::string out;
    appendJetText(bytes, size, jet3, out);
    return out;
}
