#include "message/ixHeaderFieldList.h"

#include <algorithm>
#include <cmath>

#include "core/ixSysUtils.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

constexpr std::string_view CrLf = "\r\n";

bool Contains(std::string_view ASet, char AChar) noexcept
{
    return ASet.find(AChar) != std::string_view::npos;
}

/// Calls AProc with each non-empty line of AText (lines end at CR LF, LF or CR).
template <typename TProc>
void ForEachLine(std::string_view AText, TProc AProc)
{
    size_t start = 0;
    while (start <= AText.size()) {
        const size_t end = std::min(AText.find_first_of(CrLf, start), AText.size());
        if (end > start)
            AProc(AText.substr(start, end - start));
        start = end + 1;
        if (end + 1 < AText.size() && AText[end] == '\r' && AText[end + 1] == '\n')
            ++start;
    }
}

} // namespace

TixHeaderFieldList::TixHeaderFieldList() = default;

TixHeaderFieldList::~TixHeaderFieldList() = default;

// ---- Character classes ---------------------------------------------------------------------

std::string_view TixHeaderFieldList::GetQuoteChars() const
{
    return "\"'";
}

std::string_view TixHeaderFieldList::GetItemDelimiters() const
{
    return ",;";
}

std::string_view TixHeaderFieldList::GetStickyChars() const
{
    return "\";<>";
}

std::string_view TixHeaderFieldList::GetWhitespaceChars() const
{
    return "\t\n\r ";
}

bool TixHeaderFieldList::IsContinuationLine(std::string_view ALine) noexcept
{
    return !ALine.empty() && (ALine[0] == '\t' || ALine[0] == ' ');
}

// ---- The field index -----------------------------------------------------------------------

int32_t TixHeaderFieldList::Parse(int32_t AStart, TStrings& ASource)
{
    FSource = &ASource;
    FHeaderStart = std::clamp(AStart, 0, ASource.Count());
    FFieldNames.Clear();
    int32_t line = FHeaderStart;
    for (; line < ASource.Count(); ++line) {
        const std::string& text = ASource.Get(line);
        if (text.empty())
            break;
        if (!IsContinuationLine(text) && text.find(':') != std::string::npos)
            IndexLine(FFieldNames.Count(), line);
    }
    FHeaderEnd = line;
    return FHeaderEnd;
}

void TixHeaderFieldList::IndexLine(int32_t AFieldIndex, int32_t ALineIndex)
{
    const std::string& text = FSource->Get(ALineIndex);
    FFieldNames.Insert(AFieldIndex, LowerCase(std::string_view(text).substr(0, text.find(':'))));
    FFieldNames.PutTag(AFieldIndex, ALineIndex);
}

int32_t TixHeaderFieldList::GetFieldLine(int32_t AIndex) const noexcept
{
    return ValidIndex(AIndex) ? static_cast<int32_t>(FFieldNames.GetTag(AIndex)) : -1;
}

int32_t TixHeaderFieldList::FirstFieldAtOrAfter(int32_t ALineIndex) const
{
    // The fields are in line order, so their first lines ascend.
    int32_t low = 0;
    int32_t high = FFieldNames.Count();
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (FFieldNames.GetTag(middle) < ALineIndex)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void TixHeaderFieldList::ShiftFieldLines(int32_t AFromField, int32_t ADelta)
{
    for (int32_t field = AFromField; field < FFieldNames.Count(); ++field)
        FFieldNames.PutTag(field, FFieldNames.GetTag(field) + ADelta);
}

int32_t TixHeaderFieldList::ClampToHeader(int32_t ALineIndex) const noexcept
{
    return std::clamp(ALineIndex, FHeaderStart, std::max(FHeaderStart, FHeaderEnd));
}

void TixHeaderFieldList::InsertSourceLine(int32_t ALineIndex, std::string AText)
{
    const bool isField = !IsContinuationLine(AText) && AText.find(':') != std::string::npos;
    const bool endsHeader = AText.empty();
    FSource->Insert(ALineIndex, std::move(AText));
    if (endsHeader) {
        // An empty line inside the header cuts it short there.
        if (ALineIndex < FHeaderEnd)
            Parse(FHeaderStart, *FSource);
        return;
    }
    const int32_t field = FirstFieldAtOrAfter(ALineIndex);
    ShiftFieldLines(field, 1);
    ++FHeaderEnd;
    if (isField)
        IndexLine(field, ALineIndex);
}

// ---- Reading -------------------------------------------------------------------------------

int32_t TixHeaderFieldList::GetFieldIndex(std::string_view AName) const
{
    const std::string name = LowerCase(AName);
    for (int32_t field = 0; field < FFieldNames.Count(); ++field)
        if (FFieldNames.Get(field) == name)
            return field;
    return -1;
}

std::string TixHeaderFieldList::GetFieldValue(std::string_view AName)
{
    const int32_t index = GetFieldIndex(AName);
    return index < 0 ? std::string() : GetFieldValue(index);
}

std::string TixHeaderFieldList::GetFieldValue(int32_t AIndex)
{
    return Trim(GetFieldValueRaw(AIndex));
}

std::string TixHeaderFieldList::GetFieldName(int32_t AIndex) const
{
    if (!ValidIndex(AIndex))
        return {};
    return FSource->Get(GetFieldLine(AIndex)).substr(0, FFieldNames.Get(AIndex).size());
}

std::string TixHeaderFieldList::GetFieldValueRaw(int32_t AIndex)
{
    return UnfoldField(AIndex, false);
}

std::string TixHeaderFieldList::UnfoldField(int32_t AIndex, bool ASeparateAddresses) const
{
    if (!ValidIndex(AIndex))
        return {};
    const int32_t first = GetFieldLine(AIndex);
    const std::string& line = FSource->Get(first);
    std::string value = line.substr(std::min(line.size(), FFieldNames.Get(AIndex).size() + 1));
    if (!value.empty() && (value[0] == '\t' || value[0] == ' '))
        value.erase(0, 1);
    for (int32_t next = first + 1; next < FSource->Count(); ++next) {
        const std::string& continuation = FSource->Get(next);
        if (!IsContinuationLine(continuation))
            break;
        if (ASeparateAddresses && TrimRight(value).ends_with('>'))
            value += ',';
        value.append(continuation, continuation[0] == '\t' ? 1 : 0);
    }
    return value;
}

int32_t TixHeaderFieldList::RoundHalfEven(int32_t ANumerator, int32_t ADenominator) noexcept
{
    // lrint rounds halves to even in the default rounding mode; the quotient of two 32-bit
    // integers is exact enough for that (a half is representable).
    return static_cast<int32_t>(std::lrint(static_cast<double>(ANumerator) / ADenominator));
}

int32_t TixHeaderFieldList::GetFieldEnd(int32_t AIndex) const
{
    if (!ValidIndex(AIndex))
        return -1;
    int32_t line = GetFieldLine(AIndex) + 1;
    while (line < FSource->Count() && IsContinuationLine(FSource->Get(line)))
        ++line;
    return line < FSource->Count() ? line - 1 : FHeaderEnd - 1;
}

void TixHeaderFieldList::GetFieldLines(int32_t AIndex, TStrings& ALines) const
{
    ALines.Clear();
    if (!ValidIndex(AIndex))
        return;
    const int32_t last = GetFieldEnd(AIndex);
    for (int32_t line = GetFieldLine(AIndex); line <= last; ++line)
        ALines.Add(FSource->Get(line));
}

// ---- Items ---------------------------------------------------------------------------------

void TixHeaderFieldList::GetItemBounds(std::string_view ASource, std::string_view AItem, int32_t& ALength,
    int32_t& AStart, std::string& AValue)
{
    ALength = 0;
    AStart = 0;
    AValue.clear();
    const std::string_view whitespace = GetWhitespaceChars();
    size_t nameAt = 0;
    size_t valueAt = 0;
    if (AItem.empty()) {
        if (ASource.empty())
            return;
    } else {
        // Unanchored: "name" also matches the tail of "filename".
        const std::string source = LowerCase(ASource);
        const std::string item = LowerCase(AItem);
        for (nameAt = source.find(item); nameAt != std::string::npos; nameAt = source.find(item, nameAt + 1)) {
            valueAt = source.find_first_not_of(whitespace, nameAt + item.size());
            if (valueAt != std::string::npos && source[valueAt] == '=')
                break;
        }
        if (nameAt == std::string::npos)
            return;
        ++valueAt;
    }

    // A quote at the start of the value (blanks aside) opens a quoted stretch that runs to the
    // same quote character; otherwise the value ends before the first item delimiter.
    const std::string_view rest = ASource.substr(valueAt);
    const size_t opening = rest.find_first_not_of(whitespace);
    size_t length = rest.size();
    if (opening != std::string_view::npos && Contains(GetQuoteChars(), rest[opening])) {
        const size_t closing = rest.find(rest[opening], opening + 1);
        if (closing != std::string_view::npos)
            length = closing + 1;
    } else {
        length = std::min(rest.find_first_of(GetItemDelimiters()), rest.size());
    }
    AValue.assign(rest.substr(0, length));
    AStart = static_cast<int32_t>(nameAt + 1);
    ALength = static_cast<int32_t>(valueAt - nameAt + length);
}

std::string TixHeaderFieldList::GetItemValue(std::string_view ASource, std::string_view AItem)
{
    int32_t length = 0;
    int32_t start = 0;
    std::string value;
    GetItemBounds(ASource, AItem, length, start, value);
    value = Trim(value);
    const std::string_view quotes = GetQuoteChars();
    if (!value.empty() && Contains(quotes, value.front()) && Contains(quotes, value.back()))
        return value.size() < 2 ? std::string() : value.substr(1, value.size() - 2);
    return value;
}

std::string TixHeaderFieldList::RemoveItem(std::string_view ASource, std::string_view AItem)
{
    int32_t length = 0;
    int32_t start = 0;
    std::string value;
    GetItemBounds(ASource, AItem, length, start, value);
    if (start < 1 || length < 1)
        return std::string(ASource);
    size_t begin = static_cast<size_t>(start - 1);
    size_t end = begin + static_cast<size_t>(length);
    if (end < ASource.size() && ASource[end] == FItemDelimiter)
        ++end;
    // The last item also takes the delimiter before it; any other only the blanks before it.
    const std::string_view whitespace = GetWhitespaceChars();
    const bool isLast = ASource.find_first_not_of(whitespace, end) == std::string_view::npos;
    while (begin > 0 && (Contains(whitespace, ASource[begin - 1]) || (isLast && ASource[begin - 1] == FItemDelimiter)))
        --begin;
    return std::string(ASource.substr(0, begin)).append(ASource.substr(end));
}

std::string TixHeaderFieldList::ClearItemValue(std::string_view ASource, std::string_view AItem)
{
    int32_t length = 0;
    int32_t start = 0;
    std::string value;
    GetItemBounds(ASource, AItem, length, start, value);
    std::string result(ASource);
    if (start >= 1 && length >= 1) {
        const size_t valueAt = static_cast<size_t>(start - 1 + length) - value.size();
        result.erase(valueAt, value.size());
    }
    return result;
}

// ---- Editing -------------------------------------------------------------------------------

int32_t TixHeaderFieldList::InsertFolded(int32_t ALineIndex, std::string_view AText, std::string_view AFirstPrefix,
    std::string_view ANextPrefix)
{
    // One more than the text for the item delimiter that may follow it.
    const int32_t total = static_cast<int32_t>(AText.size()) + 1;
    const int32_t pieces = total / FCharsPerLine + (total % FCharsPerLine != 0 ? 1 : 0);
    const int32_t pieceLength = RoundHalfEven(total, pieces);
    const std::string_view sticky = GetStickyChars();
    int32_t line = ALineIndex;
    for (int32_t at = 0; at + 1 < total; at += pieceLength) {
        const std::string_view piece = AText.substr(static_cast<size_t>(at), static_cast<size_t>(pieceLength));
        if (at > 0 && piece.size() == 1 && Contains(sticky, piece[0])) {
            // A lone quote, ";" or angle bracket stays with the piece before it.
            FSource->Put(line - 1, FSource->Get(line - 1) + std::string(piece));
            continue;
        }
        InsertSourceLine(line++, std::string(at == 0 ? AFirstPrefix : ANextPrefix).append(piece));
    }
    return line;
}

void TixHeaderFieldList::InsertField(int32_t ALineIndex, std::string_view ALine, bool AFold)
{
    if (!FSource || ALine.empty())
        return;
    int32_t line = ClampToHeader(ALineIndex);
    // Line breaks inside the text never start a new field: every further line is made a
    // continuation line, and empty ones (which would end the header) are dropped.
    bool first = true;
    ForEachLine(ALine, [&](std::string_view APiece) {
        std::string text = first || IsContinuationLine(APiece) ? std::string(APiece) : "\t" + std::string(APiece);
        first = false;
        if (AFold && FCharsPerLine >= 1)
            line = InsertFolded(line, text, "", "\t");
        else
            InsertSourceLine(line++, std::move(text));
    });
}

bool TixHeaderFieldList::NeedsItemDelimiter(std::string_view ALine) const
{
    const std::string trimmed = Trim(ALine);
    return !trimmed.empty() && trimmed.back() != FItemDelimiter && trimmed.back() != ':';
}

void TixHeaderFieldList::InsertFieldItem(int32_t AIndex, std::string_view AItem, bool ANewLine, std::string_view AValue)
{
    if (!ValidIndex(AIndex))
        return;
    std::string item(AItem);
    if (!item.empty() && item.back() != '=')
        item += '=';
    item += Trim(AValue);

    const int32_t last = GetFieldEnd(AIndex);
    std::string line = FSource->Get(last);
    if (NeedsItemDelimiter(line))
        line += FItemDelimiter;
    const bool fits = FCharsPerLine <= 0 ||
        (static_cast<int64_t>(line.size() + item.size()) + 2 <= FCharsPerLine && !line.starts_with("\t "));
    if (!ANewLine && fits) {
        FSource->Put(last, line + " " + item);
        return;
    }
    FSource->Put(last, line);
    if (FCharsPerLine < 1)
        InsertSourceLine(last + 1, "\t" + item);
    else
        InsertFolded(last + 1, item, "\t", "\t ");
}

void TixHeaderFieldList::InsertLines(int32_t ALineIndex, const TStrings& ALines)
{
    InsertPrefixedLines(ALineIndex, ALines, {}, {});
}

void TixHeaderFieldList::InsertPrefixedLines(int32_t ALineIndex, const TStrings& ALines,
    std::string_view AFirstPrefix, std::string_view ANextPrefix)
{
    if (!FSource)
        return;
    int32_t line = ClampToHeader(ALineIndex);
    for (int32_t i = 0; i < ALines.Count(); ++i)
        InsertSourceLine(line++, std::string(i == 0 ? AFirstPrefix : ANextPrefix) + ALines.Get(i));
}

void TixHeaderFieldList::DeleteFieldLines(int32_t AIndex)
{
    if (!ValidIndex(AIndex))
        return;
    const int32_t first = GetFieldLine(AIndex);
    int32_t deleted = 0;
    do {
        FSource->Delete(first);
        ++deleted;
    } while (first < FSource->Count() && IsContinuationLine(FSource->Get(first)));
    FFieldNames.Delete(AIndex);
    ShiftFieldLines(AIndex, -deleted);
    FHeaderEnd = std::max(FHeaderStart, FHeaderEnd - deleted);
}

void TixHeaderFieldList::EditFieldItem(int32_t AIndex, std::string_view AItem, TItemEdit AEdit)
{
    if (!ValidIndex(AIndex))
        return;
    TStringList lines;
    GetFieldLines(AIndex, lines);
    const std::string text = (this->*AEdit)(lines.Join(CrLf), AItem);
    const int32_t first = GetFieldLine(AIndex);
    lines.SetText(text);
    DeleteFieldLines(AIndex);
    InsertLines(first, lines);
}

void TixHeaderFieldList::RemoveFieldItem(std::string_view AName, std::string_view AItem)
{
    RemoveFieldItem(GetFieldIndex(AName), AItem);
}

void TixHeaderFieldList::RemoveFieldItem(int32_t AIndex, std::string_view AItem)
{
    EditFieldItem(AIndex, AItem, &TixHeaderFieldList::RemoveItem);
}

void TixHeaderFieldList::ClearFieldItemValue(int32_t AIndex, std::string_view AItem)
{
    EditFieldItem(AIndex, AItem, &TixHeaderFieldList::ClearItemValue);
}

void TixHeaderFieldList::AddField(std::string_view AName, std::string_view AValue)
{
    if (!AValue.empty())
        InsertField(FHeaderEnd, Format("%s:%s", AName, " " + std::string(AValue)), true);
}

void TixHeaderFieldList::AddEmptyField(std::string_view AName)
{
    InsertEmptyField(FHeaderEnd, AName);
}

void TixHeaderFieldList::InsertEmptyField(int32_t ALineIndex, std::string_view AName)
{
    InsertField(ALineIndex, std::string(AName) + ":", false);
}

void TixHeaderFieldList::AddFieldItem(std::string_view AName, std::string_view AItem, std::string_view AValue)
{
    const std::string value = Trim(AValue);
    if (!value.empty())
        InsertFieldItem(GetFieldIndex(AName), AItem, false, value);
}

void TixHeaderFieldList::AddQuotedFieldItem(std::string_view AName, std::string_view AItem, std::string_view AValue)
{
    AddFieldItem(AName, AItem, QuoteString(AValue));
}

void TixHeaderFieldList::AddFields(const TStrings& ALines)
{
    for (int32_t i = 0; i < ALines.Count(); ++i)
        InsertField(FHeaderEnd, ALines.Get(i), true);
}

void TixHeaderFieldList::AddEndOfHeader()
{
    if (!FSource || FSource->Count() == 0)
        return;
    if (FHeaderEnd >= FSource->Count()) {
        if (!FSource->Get(FSource->Count() - 1).empty())
            InsertSourceLine(FSource->Count(), {});
    } else if (!FSource->Get(FHeaderEnd).empty()) {
        InsertSourceLine(FHeaderEnd, {});
    }
}

} // namespace ix
