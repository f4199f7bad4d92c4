// The ANSI code page and the conversions between code pages and UTF-16.

#include "platform/internal/ixCodePageTables.h"
#include "platform/internal/ixOsFail.h"
#include "platform/ixOsKernel.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace ix::os {

namespace {

using internal::Fail;
using internal::TCodePageTable;

/// The selected ANSI code page; the locale's until the application selects another.
std::atomic<UINT>& AnsiCodePage() noexcept
{
    static std::atomic<UINT> codePage{internal::CodePageOfLocale("")};
    return codePage;
}

constexpr DWORD MbKnownFlags = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
constexpr DWORD WcKnownFlags = WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_ERR_INVALID_CHARS
    | WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;
constexpr char16_t ReplacementChar = 0xFFFD;

/// The code page a conversion uses: CP_ACP and CP_THREAD_ACP name the ANSI code page; 0 for
/// a code page without a conversion.
UINT ResolveCodePage(UINT ACodePage) noexcept
{
    if (ACodePage == CP_ACP || ACodePage == CP_THREAD_ACP)
        return AnsiCodePage().load(std::memory_order_relaxed);
    if (ACodePage == CP_UTF8 || internal::FindCodePageTable(ACodePage) != nullptr)
        return ACodePage;
    return 0;
}

bool IsSurrogate(char32_t AChar) { return AChar >= 0xD800 && AChar <= 0xDFFF; }
bool IsHighSurrogate(char16_t AChar) { return AChar >= 0xD800 && AChar <= 0xDBFF; }
bool IsLowSurrogate(char16_t AChar) { return AChar >= 0xDC00 && AChar <= 0xDFFF; }

/// A nonspacing combining mark (the combining diacritical mark blocks).
bool IsCombiningMark(char16_t AChar)
{
    return (AChar >= 0x0300 && AChar <= 0x036F) || (AChar >= 0x1AB0 && AChar <= 0x1AFF)
        || (AChar >= 0x1DC0 && AChar <= 0x1DFF) || (AChar >= 0x20D0 && AChar <= 0x20FF)
        || (AChar >= 0xFE20 && AChar <= 0xFE2F);
}

/// Writes AOut into ADest (ASize units; 0: size only) as the conversions return it.
template <typename TChar>
int CopyOut(const std::basic_string<TChar>& AOut, TChar* ADest, int ASize)
{
    if (AOut.size() > static_cast<std::size_t>(INT_MAX))
        return Fail(ERROR_INVALID_PARAMETER, 0);
    const int length = static_cast<int>(AOut.size());
    if (ASize == 0)
        return length;
    if (length > ASize)
        return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
    std::copy(AOut.begin(), AOut.end(), ADest);
    return length;
}

// --- Bytes to UTF-16 ----------------------------------------------------------------------

void AppendCodePoint(std::u16string& AOut, char32_t ACodePoint)
{
    if (ACodePoint < 0x10000)
    {
        AOut.push_back(static_cast<char16_t>(ACodePoint));
        return;
    }
    ACodePoint -= 0x10000;
    AOut.push_back(static_cast<char16_t>(0xD800 + (ACodePoint >> 10)));
    AOut.push_back(static_cast<char16_t>(0xDC00 + (ACodePoint & 0x3FF)));
}

/// The byte range of the first continuation byte after lead byte ALead (RFC 3629 section 4),
/// and the number of continuation bytes; 0 for a byte that starts no sequence.
int Utf8SequenceLength(BYTE ALead, BYTE& ALow, BYTE& AHigh)
{
    ALow = 0x80;
    AHigh = 0xBF;
    if (ALead >= 0xC2 && ALead <= 0xDF)
        return 1;
    if (ALead >= 0xE0 && ALead <= 0xEF)
    {
        if (ALead == 0xE0)
            ALow = 0xA0;
        else if (ALead == 0xED)
            AHigh = 0x9F; // no surrogates
        return 2;
    }
    if (ALead >= 0xF0 && ALead <= 0xF4)
    {
        if (ALead == 0xF0)
            ALow = 0x90;
        else if (ALead == 0xF4)
            AHigh = 0x8F; // nothing above U+10FFFF
        return 3;
    }
    return 0;
}

/// Decodes UTF-8; each maximal ill-formed part becomes U+FFFD. False when there was one.
bool DecodeUtf8(const BYTE* ABytes, std::size_t ALength, std::u16string& AOut)
{
    bool valid = true;
    std::size_t i = 0;
    while (i < ALength)
    {
        const BYTE lead = ABytes[i++];
        if (lead < 0x80)
        {
            AOut.push_back(lead);
            continue;
        }
        BYTE low = 0;
        BYTE high = 0;
        const int more = Utf8SequenceLength(lead, low, high);
        char32_t codePoint = lead & (0x3F >> more);
        int taken = 0;
        while (taken < more && i < ALength && ABytes[i] >= low && ABytes[i] <= high)
        {
            codePoint = (codePoint << 6) | (ABytes[i++] & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        if (more == 0 || taken < more)
        {
            AOut.push_back(ReplacementChar);
            valid = false;
        }
        else
            AppendCodePoint(AOut, codePoint);
    }
    return valid;
}

void DecodeSingleByte(const TCodePageTable& ATable, const BYTE* ABytes, std::size_t ALength, bool AComposite,
    std::u16string& AOut)
{
    for (std::size_t i = 0; i < ALength; ++i)
    {
        const BYTE b = ABytes[i];
        const auto composed = AComposite && b >= 0x80
            ? std::find_if(ATable.Compositions.begin(), ATable.Compositions.end(),
                  [b](const internal::TCodePageComposition& c) { return c.Byte == b; })
            : ATable.Compositions.end();
        if (composed != ATable.Compositions.end())
        {
            AOut.push_back(composed->Base);
            AOut.push_back(composed->Mark);
        }
        else
            AOut.push_back(ATable.ToUnicode[b]);
    }
}

// --- UTF-16 to bytes ----------------------------------------------------------------------

void AppendUtf8(std::string& AOut, char32_t ACodePoint)
{
    if (ACodePoint < 0x80)
        AOut.push_back(static_cast<char>(ACodePoint));
    else if (ACodePoint < 0x800)
    {
        AOut.push_back(static_cast<char>(0xC0 | (ACodePoint >> 6)));
        AOut.push_back(static_cast<char>(0x80 | (ACodePoint & 0x3F)));
    }
    else if (ACodePoint < 0x10000)
    {
        AOut.push_back(static_cast<char>(0xE0 | (ACodePoint >> 12)));
        AOut.push_back(static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | (ACodePoint & 0x3F)));
    }
    else
    {
        AOut.push_back(static_cast<char>(0xF0 | (ACodePoint >> 18)));
        AOut.push_back(static_cast<char>(0x80 | ((ACodePoint >> 12) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | (ACodePoint & 0x3F)));
    }
}

/// Encodes UTF-16 as UTF-8; a lone surrogate becomes U+FFFD. False when there was one.
bool EncodeUtf8(const char16_t* AText, std::size_t ALength, std::string& AOut)
{
    bool valid = true;
    for (std::size_t i = 0; i < ALength; ++i)
    {
        char32_t codePoint = AText[i];
        if (IsHighSurrogate(AText[i]) && i + 1 < ALength && IsLowSurrogate(AText[i + 1]))
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (AText[++i] - 0xDC00);
        else if (IsSurrogate(codePoint))
        {
            codePoint = ReplacementChar;
            valid = false;
        }
        AppendUtf8(AOut, codePoint);
    }
    return valid;
}

/// Converts UTF-16 to a single-byte code page with the WC_ flags' rules.
class TSingleByteEncoder
{
public:
    TSingleByteEncoder(const TCodePageTable& ATable, DWORD AFlags, char ADefaultChar)
        : FTable(ATable), FFlags(AFlags), FDefaultChar(ADefaultChar)
    {
    }

    bool UsedDefaultChar() const { return FUsedDefault; }

    void Encode(const char16_t* AText, std::size_t ALength, std::string& AOut)
    {
        for (std::size_t i = 0; i < ALength; ++i)
        {
            const char16_t c = AText[i];
            const bool markFollows = i + 1 < ALength && IsCombiningMark(AText[i + 1]);
            if ((FFlags & WC_COMPOSITECHECK) && markFollows && !IsCombiningMark(c))
                i += EncodeWithMarks(AText + i, ALength - i, AOut);
            else if (IsHighSurrogate(c) && i + 1 < ALength && IsLowSurrogate(AText[i + 1]))
            {
                AppendDefault(AOut); // one character outside the code page
                ++i;
            }
            else
                AOut.push_back(EncodeChar(c));
        }
    }

private:
    /// AText: a letter and a combining mark. Appends their form; returns how many units after
    /// the letter were used.
    std::size_t EncodeWithMarks(const char16_t* AText, std::size_t ALength, std::string& AOut)
    {
        const auto composed = std::lower_bound(FTable.Compositions.begin(), FTable.Compositions.end(),
            std::pair{AText[0], AText[1]},
            [](const internal::TCodePageComposition& c, const std::pair<char16_t, char16_t>& key) {
                return std::pair{c.Base, c.Mark} < key;
            });
        if (composed != FTable.Compositions.end() && composed->Base == AText[0] && composed->Mark == AText[1])
        {
            AOut.push_back(static_cast<char>(composed->Byte));
            return 1;
        }
        if (FFlags & WC_DISCARDNS)
        {
            AOut.push_back(EncodeChar(AText[0]));
            std::size_t marks = 1;
            while (marks + 1 < ALength && IsCombiningMark(AText[marks + 1]))
                ++marks;
            return marks;
        }
        if (FFlags & WC_DEFAULTCHAR)
        {
            AppendDefault(AOut);
            return 1;
        }
        AOut.push_back(EncodeChar(AText[0])); // WC_SEPCHARS: the mark follows on its own
        return 0;
    }

    char EncodeChar(char16_t AChar)
    {
        if (AChar < 0x80)
            return static_cast<char>(AChar);
        const auto found = std::lower_bound(FTable.FromUnicode.begin(), FTable.FromUnicode.end(), AChar,
            [](const internal::TCodePageChar& entry, char16_t key) { return entry.Char < key; });
        if (found != FTable.FromUnicode.end() && found->Char == AChar)
            return static_cast<char>(found->Byte);
        FUsedDefault = true;
        return FDefaultChar;
    }

    void AppendDefault(std::string& AOut)
    {
        FUsedDefault = true;
        AOut.push_back(FDefaultChar);
    }

    const TCodePageTable& FTable;
    const DWORD FFlags;
    const char FDefaultChar;
    bool FUsedDefault = false;
};

} // namespace

namespace internal {

UINT CodePageOfCharSet(std::string_view AName) noexcept
{
    std::string name;
    for (const char c : AName)
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    constexpr std::pair<std::string_view, UINT> Names[] = {{"cp1252", 1252}, {"windows1252", 1252},
        {"iso88591", 1252}, {"iso885915", 1252}, {"cp1250", 1250}, {"windows1250", 1250}, {"iso88592", 1250},
        {"cp1251", 1251}, {"windows1251", 1251}};
    for (const auto& [known, codePage] : Names)
        if (name == known)
            return codePage;
    return 0;
}

UINT CodePageOfLocale(const char* ALocaleName) noexcept
{
    // Read without changing the process's own locale.
    const locale_t locale = newlocale(LC_CTYPE_MASK, ALocaleName, static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0))
        return CP_UTF8;
    const UINT codePage = CodePageOfCharSet(nl_langinfo_l(CODESET, locale));
    freelocale(locale);
    return codePage != 0 ? codePage : CP_UTF8;
}

} // namespace internal

UINT GetACP() noexcept
{
    return AnsiCodePage().load(std::memory_order_relaxed);
}

bool SetAnsiCodePage(UINT ACodePage) noexcept
{
    if (ACodePage != CP_UTF8 && internal::FindCodePageTable(ACodePage) == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, false);
    AnsiCodePage().store(ACodePage, std::memory_order_relaxed);
    return true;
}

BOOL IsValidCodePage(UINT CodePage) noexcept
{
    return ResolveCodePage(CodePage) != 0 ? TRUE : FALSE;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
    LPWSTR lpWideCharStr, int cchWideChar)
{
    const UINT codePage = ResolveCodePage(CodePage);
    if (codePage == 0 || lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0
        || (cchWideChar > 0 && lpWideCharStr == nullptr))
        return Fail(ERROR_INVALID_PARAMETER, 0);
    constexpr DWORD BothForms = MB_PRECOMPOSED | MB_COMPOSITE;
    if ((dwFlags & ~MbKnownFlags) != 0 || (dwFlags & BothForms) == BothForms)
        return Fail(ERROR_INVALID_FLAGS, 0);
    const std::size_t length =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    const auto* bytes = reinterpret_cast<const BYTE*>(lpMultiByteStr);
    std::u16string out;
    out.reserve(length);
    if (codePage == CP_UTF8)
    {
        if (!DecodeUtf8(bytes, length, out) && (dwFlags & MB_ERR_INVALID_CHARS))
            return Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
    }
    else
        DecodeSingleByte(*internal::FindCodePageTable(codePage), bytes, length, (dwFlags & MB_COMPOSITE) != 0, out);
    return CopyOut(out, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
    int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    const UINT codePage = ResolveCodePage(CodePage);
    if (codePage == 0 || lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0
        || (cbMultiByte > 0 && lpMultiByteStr == nullptr))
        return Fail(ERROR_INVALID_PARAMETER, 0);
    if ((dwFlags & ~WcKnownFlags) != 0)
        return Fail(ERROR_INVALID_FLAGS, 0);
    const std::size_t length = cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                                 : static_cast<std::size_t>(cchWideChar);
    std::string out;
    out.reserve(length);
    bool usedDefault = false;
    if (codePage == CP_UTF8)
    {
        if (!EncodeUtf8(lpWideCharStr, length, out) && (dwFlags & WC_ERR_INVALID_CHARS))
            return Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
    }
    else
    {
        const char defaultChar = lpDefaultChar ? *lpDefaultChar : '?';
        TSingleByteEncoder encoder(*internal::FindCodePageTable(codePage), dwFlags, defaultChar);
        encoder.Encode(lpWideCharStr, length, out);
        usedDefault = encoder.UsedDefaultChar();
    }
    const int result = CopyOut(out, lpMultiByteStr, cbMultiByte);
    if (result > 0 && lpUsedDefaultChar != nullptr)
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return result;
}

} // namespace ix::os
