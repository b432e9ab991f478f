#pragma once

#include <cstddef>
#include <string>
#include <utility>

// A database of the shared material to damage: its page size (Jet 4 files have 4 KiB pages, Jet 3 files 2 KiB) and
// how many copies of each kind of damage to make of it.
struct DamageSource {
    const char* file;
    std::size_t pageSize;
    int copiesPerDamage;
};

// The databases the damaged copies are made of: files of tests/data, and one of the shared material ("fixtures/").
// The Jet 3 file holds none of the program's tables, so opening it fails at best; it is there for Jet 3's catalog
// and pages.
inline constexpr DamageSource kDamageSources[] = {{"data/impuest-cases.mdb", 4096, 175},
                                                  {"fixtures/access/jet3-access97-password.mdb", 2048, 50},
                                                  {"data/impuest-empty.mdb", 4096, 25}};

// Where the source's file is: empty for one of the shared material that is not beside the checkout.
std::string damageSourcePath(const DamageSource& source);

// The `n`th copy of `original` with damage of `kind` (0 truncated, 1 bytes changed, 2 pages swapped, 3 page
// zero-filled) and a name that says what was done; the same arguments always give the same copy.
std::pair<std::string, std::string> damage(const DamageSource& source, const std::string& original, int kind, int n);
