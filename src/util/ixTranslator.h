// Conversion between the program's 8-bit text (in the ANSI code page) and the bytes of a named
// character set: "utf-8" (any letter case), twelve table-driven 8-bit sets, and every other
// name (the empty one included) meaning no conversion.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/ixClasses.h"
#include "platform/ixOsTypes.h"

namespace ix {

class TStream;

/// One 8-bit character set: "from" turns a byte of the set into a local code-page byte,
/// "to" a local byte into a byte of the set.
struct TixCharSetInfo
{
    /// The character set's name.
    std::string_view Name;
    /// "from": each byte of the set as a local byte.
    std::array<uint8_t, 256> FromTable;
    /// "to": each local byte as a byte of the set.
    std::array<uint8_t, 256> ToTable;
};

/// Stateless character-set conversions. Nothing here raises on any input: unknown sets pass
/// bytes through, and each ill-formed part of UTF-8 yields one U+FFFD.
///
/// The 8-bit sets' tables have a fixed local code page (GetLocalCodePage). While the ANSI code
/// page is that one, the tables are used as they stand. Under any other ANSI code page the set's
/// bytes go through their characters instead: a character the ANSI code page cannot show becomes
/// "?", and so does a character the set cannot express on the way to the set. The tables this
/// needs are made once per set and ANSI code page, on first use, from any thread.
class TixTranslator
{
public:
    TixTranslator() = delete;

    /// The number of bytes GetBytes would produce.
    static int32_t GetByteCount(std::string_view AText, std::string_view ACharSet);
    /// The bytes of AText in ACharSet.
    static TixByteArray GetBytes(std::string_view AText, std::string_view ACharSet = {});
    /// Copies at most ACount bytes of AText in ACharSet to ABuffer; returns how many were copied.
    static int32_t GetBytes(std::string_view AText, uint8_t* ABuffer, std::string_view ACharSet,
        int32_t ACount);

    /// The text of ABytes (NUL bytes included) read in ACharSet.
    static std::string GetString(std::span<const uint8_t> ABytes, std::string_view ACharSet);
    /// The text of ACount bytes from AIndex; ACount below 1 gives an empty text. The range is
    /// clipped to the bytes that exist.
    static std::string GetString(std::span<const uint8_t> ABytes, int32_t AIndex, int32_t ACount,
        std::string_view ACharSet);

    /// Local text to ACharSet with the set's "to" table (unchanged for an unknown set).
    static void TranslateTo(std::string_view ACharSet, std::string_view ASource, std::string& ADestination);
    /// Writes the whole of ASource, from its start, to ADestination through the "to" table;
    /// both streams' positions are restored afterwards.
    static void TranslateTo(std::string_view ACharSet, TStream& ASource, TStream& ADestination);
    /// Bytes of ACharSet to local text with the set's "from" table (unchanged for an unknown set).
    static void TranslateFrom(std::string_view ACharSet, std::string_view ASource, std::string& ADestination);
    /// The stream form of TranslateFrom; both streams' positions are restored afterwards.
    static void TranslateFrom(std::string_view ACharSet, TStream& ASource, TStream& ADestination);

    /// The table record of ACharSet (names compared without letter case); a record with an
    /// empty name (and identity tables) when the set is not in the table.
    static const TixCharSetInfo& GetCharSetInfo(std::string_view ACharSet) noexcept;
    /// The code page the local side of ACharSet's tables is written in (1250, 1251 or 1252);
    /// 0 for a set outside the table.
    static os::UINT GetLocalCodePage(std::string_view ACharSet) noexcept;

    /// UTF-16 to UTF-8; a surrogate pair becomes one four-byte sequence, a lone surrogate U+FFFD.
    static std::string Utf8Encode(std::u16string_view AWide);
    /// UTF-8 to UTF-16 (characters past U+FFFF as surrogate pairs). Each ill-formed part (RFC
    /// 3629: the longest start of a valid sequence, or one byte) gives one U+FFFD; the byte that
    /// shows a sequence is broken is read again as the start of the next character.
    static std::u16string Utf8Decode(std::string_view AText);

    /// The bytes of the first character of AText in the ANSI code page: one in a single-byte
    /// page; under UTF-8 the sequence, or the ill-formed part, that starts it. 0 for no text.
    static size_t CharLength(std::string_view AText) noexcept;
    /// The characters (Unicode code points) of AText in the ANSI code page.
    static std::u32string AnsiToCodePoints(std::string_view AText);

    /// 8-bit text of ACodePage to UTF-16 (the system conversion, MB_PRECOMPOSED).
    static std::u16string StringToWide(std::string_view AText, os::UINT ACodePage);
    /// UTF-16 to 8-bit text of ACodePage (the system conversion); characters without a form
    /// there become the system's default character.
    static std::string WideToString(std::u16string_view AWide, os::UINT ACodePage);
};

} // namespace ix
