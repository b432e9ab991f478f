#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the header page of a Jet file says about the file: its engine version, whether its data pages are
// encrypted, and the database password stored in it (masked in the file; see JetHeader.cpp).
struct JetHeader {
    enum class Version { Jet3, Jet4 };

    Version version = Version::Jet4;
    std::uint32_t pageSize = 4096;
    std::uint32_t pageEncryptionKey = 0;
    // The stored password, UTF-8; empty when the file holds none.
    std::string password;

    // Reads the first bytes of a file (at least the header page). Raises RuntimeError when they are not the
    // header of a Jet 3 or Jet 4 database.
    static JetHeader parse(std::string_view page0, const std::string& path);
};

// The password a connect string carries (";pwd=…", key matched without regard to case); empty when none.
std::string passwordFromConnect(const std::string& connect);
