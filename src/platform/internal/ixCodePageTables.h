#pragma once
// The single-byte ANSI code pages (internal; the tables are generated, see
// src/platform/tools/ixGenCodePages.py).

#include "platform/ixOsTypes.h"

#include <span>

namespace ix::os::internal {

/// A character of the upper half (0x80..0xFF) of a code page and its byte.
struct TCodePageChar
{
    char16_t Char;
    BYTE Byte;
};

/// A letter and a combining mark that compose to the precomposed letter Byte.
struct TCodePageComposition
{
    char16_t Base;
    char16_t Mark;
    BYTE Byte;
};

struct TCodePageTable
{
    UINT CodePage;
    /// The character of each byte.
    const char16_t* ToUnicode;
    /// The upper half's characters, sorted by Char.
    std::span<const TCodePageChar> FromUnicode;
    /// Sorted by (Base, Mark).
    std::span<const TCodePageComposition> Compositions;
};

/// The table of code page 1250, 1251 or 1252; null for any other.
const TCodePageTable* FindCodePageTable(UINT ACodePage) noexcept;

} // namespace ix::os::internal
