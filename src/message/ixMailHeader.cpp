#include "message/ixMailHeader.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "core/ixStreams.h"
#include "core/ixSysUtils.h"
#include "message/ixPercentEncoder.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

constexpr std::string_view Blanks = " \t\r\n";

/// Fields whose folded lines hold message identifiers in angle brackets, not addresses: no
/// comma goes between them.
bool IsIdentifierField(std::string_view ALowerName) noexcept
{
    return ALowerName == "references" || ALowerName == "in-reply-to" || ALowerName == "message-id" ||
        ALowerName == "resent-message-id" || ALowerName == "content-id";
}

/// One encoded word found in a text: =?charset?X?text?=.
struct TEncodedWord
{
    std::string_view CharSet;
    char Letter = 0;
    std::string_view Text;
    size_t End = 0;  // index after "?="
    bool Decodable = true;
};

/// The first position at or after a start where ATest holds (the text's length when there is
/// none). The last answer is kept, so that the searches of one scan, whose starts only grow,
/// take time in proportion to the text however many words fail.
template <typename TTest>
class TNextFinder
{
public:
    TNextFinder(std::string_view AText, TTest ATest) noexcept : FText(AText), FTest(ATest) {}

    size_t Find(size_t AFrom)
    {
        if (AFrom < FFrom || AFrom > FFound) {
            FFrom = AFrom;
            for (FFound = AFrom; FFound < FText.size() && !FTest(FText, FFound);)
                ++FFound;
        }
        return FFound;
    }

private:
    std::string_view FText;
    TTest FTest;
    size_t FFrom = std::string_view::npos;
    size_t FFound = 0;
};

bool IsBlankAt(std::string_view AText, size_t AIndex) noexcept
{
    return Blanks.find(AText[AIndex]) != std::string_view::npos;
}

bool IsWordEndAt(std::string_view AText, size_t AIndex) noexcept
{
    return AText[AIndex] == '?' && AIndex + 1 < AText.size() && AText[AIndex + 1] == '=';
}

/// A character base64 decoding refuses (it skips blanks and "=").
bool IsNotBase64At(std::string_view AText, size_t AIndex) noexcept
{
    const char c = AText[AIndex];
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
        c == '/';
    return !(alphabet || c == '=' || IsBlankAt(AText, AIndex));
}

using TFinder = TNextFinder<bool (*)(std::string_view, size_t) noexcept>;

/// The searches of one scan for encoded words.
struct TWordScan
{
    explicit TWordScan(std::string_view AText) noexcept
        : Blank(AText, &IsBlankAt), End(AText, &IsWordEndAt), NotBase64(AText, &IsNotBase64At)
    {
    }

    TFinder Blank;
    TFinder End;
    TFinder NotBase64;
};

/// Reads the encoded word that begins with the "=?" at AStart; false when there is none. A word
/// holds no blank (RFC 2047), so the search for its end stops at one.
bool ReadEncodedWord(std::string_view AText, size_t AStart, TWordScan& AScan, TEncodedWord& AWord)
{
    const size_t letterMark = AText.find_first_of("? \t\r\n", AStart + 2);
    if (letterMark == std::string_view::npos || AText[letterMark] != '?' || letterMark + 2 >= AText.size() ||
        AText[letterMark + 2] != '?')
        return false;
    const size_t end = AScan.End.Find(letterMark + 3);
    if (end >= AText.size() || end > AScan.Blank.Find(letterMark + 3))
        return false;
    AWord.CharSet = AText.substr(AStart + 2, letterMark - AStart - 2);
    // RFC 2231 lets a language follow the character set: "utf-8*en".
    AWord.CharSet = AWord.CharSet.substr(0, AWord.CharSet.find('*'));
    AWord.Letter = static_cast<char>(UpCase(AText[letterMark + 1]));
    AWord.Text = AText.substr(letterMark + 3, end - letterMark - 3);
    AWord.End = end + 2;
    // Base64 that holds a character outside its alphabet cannot decode; known without trying.
    AWord.Decodable = AWord.Letter != 'B' || AScan.NotBase64.Find(letterMark + 3) >= end;
    return true;
}

std::string DecodeWord(const TEncodedWord& AWord)
{
    if (AWord.Letter == 'Q') {
        std::string text(AWord.Text);
        std::replace(text.begin(), text.end(), '_', ' ');
        return TixMailHeaderFieldList::DecodeText(text, AWord.CharSet, cmQuotedPrintable);
    }
    return TixMailHeaderFieldList::DecodeText(AWord.Text, AWord.CharSet, AWord.Letter == 'B' ? cmBase64 : cmNone);
}

/// Appends the text of AWord to AResult; false when it cannot be decoded.
bool TryDecodeWord(const TEncodedWord& AWord, std::string& AResult)
{
    if (!AWord.Decodable)
        return false;
    try {
        AResult += DecodeWord(AWord);
        return true;
    } catch (const EixEncoderError&) {
        return false;
    }
}

/// The position after the blanks that separate a decoded word from the next text: all of them
/// when another encoded word follows, else none.
size_t SkipAfterWord(std::string_view AText, size_t APosition)
{
    const size_t next = AText.find_first_not_of(Blanks, APosition);
    return next != std::string_view::npos && AText.substr(next).starts_with("=?") ? next : APosition;
}

/// Number of pieces of at most AMaxLength that ALength needs (one when there is no limit).
int32_t PieceCount(size_t ALength, int32_t AMaxLength) noexcept
{
    if (AMaxLength < 1)
        return 1;
    const auto maxLength = static_cast<size_t>(AMaxLength);
    return std::max<int32_t>(1, static_cast<int32_t>(ALength / maxLength + (ALength % maxLength != 0 ? 1 : 0)));
}

/// The items of an address list: split at commas outside quoted strings and comments, with
/// "\\" escaping the next character in both.
std::vector<std::string_view> SplitAddressList(std::string_view AText)
{
    std::vector<std::string_view> items;
    size_t begin = 0;
    bool inQuote = false;
    bool escaped = false;
    int32_t commentDepth = 0;
    for (size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (escaped || c == '\\') {
            escaped = !escaped;
        } else if (inQuote) {
            inQuote = c != '"';
        } else if (c == '"' && commentDepth == 0) {
            inQuote = true;
        } else if (c == '(') {
            ++commentDepth;
        } else if (c == ')' && commentDepth > 0) {
            --commentDepth;
        } else if (c == ',' && commentDepth == 0) {
            items.push_back(AText.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    items.push_back(AText.substr(begin));
    return items;
}

/// Clears a flag when the scope ends, however it ends.
class TFlagScope
{
public:
    TFlagScope(bool& AFlag, bool AValue) noexcept : FFlag(AFlag) { FFlag = AValue; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

} // namespace

TixMailHeaderFieldList::TixMailHeaderFieldList(std::string ACharSet, int32_t ACharsPerLine, TixEncodeMethod AEncoding)
    : FCharSet(std::move(ACharSet)), FEncoding(AEncoding)
{
    SetCharsPerLine(ACharsPerLine);
}

std::string_view TixMailHeaderFieldList::GetQuoteChars() const
{
    return FRfc2231Mode ? "\"" : TixHeaderFieldList::GetQuoteChars();
}

std::string TixMailHeaderFieldList::GetFieldValue(int32_t AIndex)
{
    if (AIndex < 0 || AIndex >= GetFieldCount())
        return {};
    const std::string& name = GetFieldNames().Get(AIndex);
    if (name == "subject")
        return GetFieldValueRaw(AIndex);
    return Trim(UnfoldField(AIndex, !IsIdentifierField(name)));
}

// ---- Decoding ------------------------------------------------------------------------------

std::string TixMailHeaderFieldList::DecodeText(std::string_view AText, std::string_view ACharSet,
    TixEncodeMethod AEncoding)
{
    if (AEncoding == cmNone) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(AText.data());
        return TixTranslator::GetString(std::span<const uint8_t>(bytes, AText.size()), ACharSet);
    }
    return TixTranslator::GetString(TixEncoder::DecodeBytesWith(AEncoding, AText), ACharSet);
}

std::string TixMailHeaderFieldList::DecodeEncodedWords(std::string_view AText, std::string_view ACharSet)
{
    std::string result;
    bool decodedAny = false;
    size_t position = 0;
    TWordScan scan(AText);
    while (position < AText.size()) {
        const size_t start = AText.find("=?", position);
        TEncodedWord word;
        if (start == std::string_view::npos) {
            result.append(AText.substr(position));
            break;
        }
        if (!ReadEncodedWord(AText, start, scan, word)) {
            // Not a word (a blank or the end comes first): the "=?" is text, and the search
            // goes on after it, so that a word further on is still decoded.
            result.append(AText.substr(position, start + 2 - position));
            position = start + 2;
            continue;
        }
        result.append(AText.substr(position, start - position));
        if (!TryDecodeWord(word, result)) {
            // Not decodable: the "=?" stays, and the rest of the word is read as text.
            result += "=?";
            position = start + 2;
            continue;
        }
        decodedAny = true;
        position = SkipAfterWord(AText, word.End);
    }
    return decodedAny ? result : DecodeText(AText, ACharSet, cmNone);
}

std::string TixMailHeaderFieldList::GetDecodedFieldValue(std::string_view AName)
{
    return DecodeEncodedWords(TixHeaderFieldList::GetFieldValue(AName), FCharSet);
}

std::string TixMailHeaderFieldList::DecodeEmail(std::string_view AText) const
{
    TixEmailAddressItem item;
    item.SetFullAddress(AText);
    if (item.GetName().empty() || item.GetEmail().empty())
        return std::string(AText);
    item.SetName(DecodeEncodedWords(item.GetName(), FCharSet));
    return item.GetFullAddress();
}

std::string TixMailHeaderFieldList::GetDecodedEmail(std::string_view AName)
{
    return DecodeEmail(TixHeaderFieldList::GetFieldValue(AName));
}

void TixMailHeaderFieldList::GetDecodedEmailList(std::string_view AName, TixEmailAddressList& AList)
{
    AList.Clear();
    const std::string value = TixHeaderFieldList::GetFieldValue(AName);
    for (const std::string_view item : SplitAddressList(value)) {
        const std::string address = Trim(item);
        if (!address.empty())
            AList.AddAddress(DecodeEmail(address));
    }
}

std::string TixMailHeaderFieldList::GetDecodedItemValue(std::string_view AFieldValue, std::string_view AItemName)
{
    const TFlagScope mode(FRfc2231Mode, AItemName.ends_with('*'));
    const std::string value = GetItemValue(AFieldValue, AItemName);
    if (!FRfc2231Mode)
        return DecodeEncodedWords(value, FCharSet);
    if (!value.empty())
        return TixRfc2231HeaderEncoder().DecodeParam(value);
    return DecodeExtendedPieces(AFieldValue, AItemName);
}

std::string TixMailHeaderFieldList::DecodeExtendedPieces(std::string_view AFieldValue, std::string_view AItemName)
{
    // Extended pieces (name*0*, name*1*, ...) are joined as bytes before the conversion, so that
    // a character whose bytes were split between two pieces comes out whole.
    // The items are read once; the first of each name counts.
    std::unordered_map<std::string, std::string> items;
    for (auto& [name, value] : GetItems(AFieldValue))
        items.try_emplace(std::move(name), std::move(value));
    const auto valueOf = [&items](const std::string& AName) {
        const auto found = items.find(AName);
        return found == items.end() ? std::string() : found->second;
    };
    TixRfc2231HeaderEncoder encoder;
    bool haveCharSet = false;
    TixByteArray pending;
    std::string result;
    const auto flush = [&]() {
        result += TixTranslator::GetString(pending, encoder.GetCharSet());
        pending.clear();
    };
    const std::string itemName = LowerCase(AItemName);
    for (int32_t n = 0;; ++n) {
        const std::string name = itemName + std::to_string(n);
        const std::string plain = valueOf(name);
        if (!plain.empty()) {
            flush();
            result += DecodeEncodedWords(plain, FCharSet);
            continue;
        }
        const std::string extended = valueOf(name + "*");
        if (extended.empty())
            break;
        std::string charSet;
        std::string language;
        std::string text;
        if (n > 0 && haveCharSet) {
            text = extended;
        } else if (encoder.ParseParamValue(extended, charSet, text, language)) {
            flush();
            encoder.DecodeParam(extended);
            haveCharSet = true;
        } else {
            flush();
            result += extended;
            continue;
        }
        const TixByteArray bytes = encoder.DecodeBytes(text);
        pending.insert(pending.end(), bytes.begin(), bytes.end());
    }
    flush();
    return result;
}

// ---- Encoding ------------------------------------------------------------------------------

std::string TixMailHeaderFieldList::EncodeWord(std::string_view AText, std::string_view ACharSet,
    TixEncodeMethod& AEncoding)
{
    const TixByteArray bytes = TixTranslator::GetBytes(AText, ACharSet);
    TMemoryStream source;
    if (!bytes.empty())
        source.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    source.SetPosition(0);
    if (AEncoding == cmNone)
        AEncoding = TixEncoder().GetPreferredEncoding(source);
    std::string encoded = TixEncoder::EncodeLineWith(AEncoding, source);
    if (AEncoding == cmQuotedPrintable) {
        encoded = StringReplace(encoded, "_", "=5F");
        encoded = StringReplace(encoded, "?", "=3F");
        encoded = StringReplace(encoded, " ", "_");
        // The encoder keeps a CR LF pair as a line break; a word must stay on its line.
        encoded = StringReplace(encoded, "\r\n", "=0D=0A");
    }
    if (AEncoding != cmQuotedPrintable && AEncoding != cmBase64)
        return encoded;
    return Format("=?%s?%s?%s?=", ACharSet, AEncoding == cmQuotedPrintable ? "Q" : "B", encoded);
}

std::string TixMailHeaderFieldList::EncodeHeaderText(std::string_view AText, std::string_view ACharSet,
    int32_t AMaxLength, TixEncodeMethod AEncoding)
{
    if (AText.empty() || AEncoding == cmUUEncode)
        return std::string(AText);
    TixEncodeMethod method = AEncoding;
    int32_t pieces = PieceCount(EncodeWord(AText, ACharSet, method).size(), AMaxLength);
    if (method == cmNone && pieces > 1) {
        method = cmQuotedPrintable;
        pieces = PieceCount(EncodeWord(AText, ACharSet, method).size(), AMaxLength);
    }
    // Pieces of even length, the last one ending with the text; each ends between two
    // characters of the ANSI code page, so that every word decodes on its own.
    const auto count = static_cast<size_t>(std::min<int64_t>(pieces, static_cast<int64_t>(AText.size())));
    std::string words;
    size_t begin = 0;
    for (size_t piece = 0; piece < count && begin < AText.size(); ++piece) {
        size_t end = begin;
        while (end < AText.size() && end < (piece + 1) * AText.size() / count)
            end += TixTranslator::CharLength(AText.substr(end));
        TixEncodeMethod pieceMethod = method;
        if (!words.empty())
            words += "\r\n";
        words += EncodeWord(AText.substr(begin, end - begin), ACharSet, pieceMethod);
        begin = end;
    }
    words = Trim(words);
    return words.empty() ? std::string(AText) : words;
}

void TixMailHeaderFieldList::BuildExtendedItem(std::string_view AItemName, std::string_view AValue,
    TStrings& ALines) const
{
    TixRfc2231HeaderEncoder encoder;
    // Cut the value so that each piece, once encoded, fits its line.
    const int64_t limit = static_cast<int64_t>(GetCharsPerLine()) - 1 - static_cast<int64_t>(AItemName.size()) - 7;
    // Measured and cut per character of the ANSI code page, never inside one.
    std::vector<std::string> pieces(1);
    size_t encodedLength = 0;
    for (std::string_view rest = AValue; !rest.empty();) {
        const std::string_view c = rest.substr(0, TixTranslator::CharLength(rest));
        rest.remove_prefix(c.size());
        const size_t charLength = encoder.EncodeString(c, FCharSet).size();
        if (GetCharsPerLine() >= 1 && !pieces.back().empty() && static_cast<int64_t>(encodedLength + charLength) > limit) {
            pieces.emplace_back();
            encodedLength = 0;
        }
        pieces.back() += c;
        encodedLength += charLength;
    }
    if (pieces.size() == 1) {
        ALines.Add(std::string(AItemName) + "=" + encoder.EncodeParam(AValue, FCharSet));
        return;
    }
    for (size_t n = 0; n < pieces.size(); ++n) {
        const std::string text = n == 0 ? encoder.EncodeParam(pieces[n], FCharSet) : encoder.EncodeString(pieces[n], FCharSet);
        ALines.Add(std::string(AItemName) + std::to_string(n) + "*=" + text + (n + 1 < pieces.size() ? ";" : ""));
    }
}

void TixMailHeaderFieldList::BuildQuotedItem(std::string_view AItemName, std::string_view AValue, TStrings& ALines) const
{
    const int64_t maxLength = static_cast<int64_t>(GetCharsPerLine()) - 1 - static_cast<int64_t>(AItemName.size()) - 3;
    const std::string words =
        EncodeHeaderText(AValue, FCharSet, static_cast<int32_t>(std::max<int64_t>(maxLength, 0)), FEncoding);
    ALines.SetText(std::string(AItemName) + "=" + QuoteItemValue(words));
}

void TixMailHeaderFieldList::AddEncodedFieldItem(std::string_view AName, std::string_view AItemName,
    std::string_view AValue)
{
    AddEncodedFieldItem(GetFieldIndex(AName), AItemName, AValue);
}

void TixMailHeaderFieldList::AddEncodedFieldItem(int32_t AIndex, std::string_view AItemName, std::string_view AValue)
{
    if (GetFieldLine(AIndex) < 0 || Trim(AValue).empty())
        return;
    TStringList lines;
    if (AItemName.ends_with('*'))
        BuildExtendedItem(AItemName, AValue, lines);
    else
        BuildQuotedItem(AItemName, AValue, lines);
    const int32_t last = GetFieldEnd(AIndex);
    const std::string line = TrimRight(GetSource()->Get(last));
    if (!line.ends_with(':') && !line.ends_with(';'))
        GetSource()->Put(last, GetSource()->Get(last) + ";");
    InsertPrefixedLines(last + 1, lines, "\t", "\t");
}

} // namespace ix
