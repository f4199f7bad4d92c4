// The lookup tables of the transfer encoders: hexadecimal digits, quoted-printable byte
// classes and base64 values, all computed at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace ix::internal {

inline constexpr char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char HexDigits[] = "0123456789ABCDEF";

/// The value of a hexadecimal digit of either case; NoHex for any other byte.
constexpr uint8_t NoHex = 0xFF;

constexpr std::array<uint8_t, 256> MakeHexValues()
{
    std::array<uint8_t, 256> values{};
    values.fill(NoHex);
    for (int c = 0; c < 10; ++c)
        values['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; ++c) {
        values['A' + c] = static_cast<uint8_t>(10 + c);
        values['a' + c] = static_cast<uint8_t>(10 + c);
    }
    return values;
}
inline constexpr std::array<uint8_t, 256> HexValues = MakeHexValues();

/// Bytes quoted-printable writes as they are: the space, 33 to 60 and 62 to 126.
constexpr std::array<bool, 256> MakeQpLiterals()
{
    std::array<bool, 256> literal{};
    for (int c = 32; c <= 126; ++c)
        literal[c] = c != '=';
    return literal;
}
inline constexpr std::array<bool, 256> QpLiterals = MakeQpLiterals();

/// Bytes that interrupt a run of plain text while decoding quoted-printable.
constexpr std::array<bool, 256> MakeQpSpecials()
{
    std::array<bool, 256> special{};
    special['='] = special['\r'] = special['\n'] = true;
    return special;
}
inline constexpr std::array<bool, 256> QpSpecials = MakeQpSpecials();

/// The value of a base64 character; Base64Skip for CR, LF, blank and "=", Base64Invalid for
/// any other byte.
constexpr uint8_t Base64Skip = 0x40;
constexpr uint8_t Base64Invalid = 0x80;

constexpr std::array<uint8_t, 256> MakeBase64Values()
{
    std::array<uint8_t, 256> values{};
    values.fill(Base64Invalid);
    for (int i = 0; i < 64; ++i)
        values[static_cast<uint8_t>(Base64Alphabet[i])] = static_cast<uint8_t>(i);
    values['\r'] = values['\n'] = values[' '] = values['='] = Base64Skip;
    return values;
}
inline constexpr std::array<uint8_t, 256> Base64Values = MakeBase64Values();

/// Lookup tables that decode four base64 characters with four loads and three ORs: entry c of
/// table k holds the bits of character c at its place in the three bytes (as a little-endian
/// 32-bit word); characters outside the alphabet set bits above the third byte.
struct TBase64GroupTables
{
    std::array<std::array<uint32_t, 256>, 4> Slot{};
};

constexpr uint32_t Base64GroupBad = 0xFF000000u;

constexpr TBase64GroupTables MakeBase64GroupTables()
{
    TBase64GroupTables tables;
    for (int c = 0; c < 256; ++c) {
        const uint32_t v = Base64Values[c];
        if (v >= 64) {
            for (auto& slot : tables.Slot)
                slot[c] = Base64GroupBad;
            continue;
        }
        // The group's 24 bits, big-endian, are v0 << 18 | v1 << 12 | v2 << 6 | v3; byte i of
        // the output sits at bits 8 * i of the little-endian word.
        const uint32_t place[4] = {v << 18, v << 12, v << 6, v};
        for (int k = 0; k < 4; ++k) {
            const uint32_t bits = place[k];
            tables.Slot[k][c] = ((bits >> 16) & 0xFF) | (bits & 0xFF00) | ((bits & 0xFF) << 16);
        }
    }
    return tables;
}
inline constexpr TBase64GroupTables Base64Group = MakeBase64GroupTables();

/// The alphabet characters of every 12-bit value, two at a time.
constexpr std::array<std::array<char, 2>, 4096> MakeBase64Pairs()
{
    std::array<std::array<char, 2>, 4096> pairs{};
    for (int v = 0; v < 4096; ++v)
        pairs[v] = {Base64Alphabet[v >> 6], Base64Alphabet[v & 63]};
    return pairs;
}
inline constexpr std::array<std::array<char, 2>, 4096> Base64Pairs = MakeBase64Pairs();

} // namespace ix::internal
