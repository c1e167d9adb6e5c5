#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace morvandell {

// The channel catalogue: five parallel arrays over the catalogue indices 0..256.
// The reader fills indices 1..256 in file order; index 0 is never written and stays
// empty text and 0 (the slot assignment reads it when a list has no selection).
// Reading a file replaces the whole catalogue (LogDefinitionReader::readFile): nothing of an earlier
// file shows through where the new one says nothing.
// Texts are UTF-8 (the file's bytes decoded through the ANSI code page, text::fromAnsi).
struct Catalogue
{
    static constexpr int Size = 257;
    static constexpr int LastIndex = 256;

    std::array<std::string, Size> name, unit, storage;
    std::array<std::uint8_t, Size> number{}, divider{};
};

// One slot-list entry: the name as offered in the lists and the catalogue index it was stored at.
struct CatalogueEntry
{
    std::string name;
    int index = 0;
};

} // namespace morvandell
