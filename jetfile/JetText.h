#pragma once

#include <cstddef>
#include <string>

// Text as a Jet file stores it, decoded to UTF-8. Jet 4 keeps UTF-16LE, or, after the marker FF FE, runs of one
// byte per character (Latin-1) switched to and from UTF-16 by a zero byte. Jet 3 keeps the bytes of the file's code
// page, Windows-1252 for the files in use. A lone surrogate becomes U+FFFD; an odd last byte is left out.
void appendJetText(const unsigned char* bytes, std::size_t size, bool jet3, std::string& out);
std::string jetText(const unsigned char* bytes, std::size_t size, bool jet3);
