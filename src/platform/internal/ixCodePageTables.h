#pragma once
// The single-byte ANSI code pages (internal; the tables are generated, see
// src/platform/tools/ixGenCodePages.py).

#include "platform/ixOsTypes.h"

#include <span>
#include <string_view>

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

/// The code page of a character set name as the C library spells it (its CODESET: "CP1252",
/// "ISO-8859-2"...), letter case and punctuation aside; 0 when the conversions have no table
/// for it.
UINT CodePageOfCharSet(std::string_view AName) noexcept;

/// The code page of the locale ALocaleName ("" names the one the environment sets: LC_ALL,
/// LC_CTYPE, LANG): the page of its character set when the conversions know it, else UTF-8,
/// also for the C and POSIX locales and for a locale that is not installed.
UINT CodePageOfLocale(const char* ALocaleName) noexcept;

} // namespace ix::os::internal
