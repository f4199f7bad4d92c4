#include "message/ixHeaderFieldList.h"

#include <algorithm>

#include "core/ixSysUtils.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

constexpr std::string_view CrLf = "\r\n";
/// The line a mailbox file puts before each message; it does not end the header it precedes.
constexpr std::string_view MailboxSeparator = "From ";
/// Longest line RFC 5322 allows (without its CR LF); only a longer run of text is cut.
constexpr size_t MaxLineLength = 998;

/// The blanks TrimRight takes off: the controls and the space.
constexpr std::string_view BlankChars = std::string_view("\0\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0B\x0C\r\x0E\x0F"
                                                         "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F ", 33);

/// AText without the blanks at both ends, without a copy.
std::string_view TrimView(std::string_view AText) noexcept
{
    const size_t first = AText.find_first_not_of(BlankChars);
    if (first == std::string_view::npos)
        return {};
    return AText.substr(first, AText.find_last_not_of(BlankChars) - first + 1);
}

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
        const std::string_view text = ASource.GetView(line);
        if (text.empty())
            break;
        if (IsContinuationLine(text))
            continue;
        if (text.find(':') != std::string_view::npos)
            IndexLine(FFieldNames.Count(), line);
        else if (line > FHeaderStart || !text.starts_with(MailboxSeparator))
            break; // neither a field nor a continuation: the body begins without a blank line
    }
    FHeaderEnd = line;
    return FHeaderEnd;
}

int32_t TixHeaderFieldList::GetBodyStart() const noexcept
{
    if (!FSource)
        return 0;
    return FHeaderEnd < FSource->Count() && FSource->GetView(FHeaderEnd).empty() ? FHeaderEnd + 1 : FHeaderEnd;
}

void TixHeaderFieldList::IndexLine(int32_t AFieldIndex, int32_t ALineIndex)
{
    const std::string_view text = FSource->GetView(ALineIndex);
    FFieldNames.Insert(AFieldIndex, LowerCase(text.substr(0, text.find(':'))));
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
    return std::string(FSource->GetView(GetFieldLine(AIndex)).substr(0, FFieldNames.Get(AIndex).size()));
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
    const std::string_view line = FSource->GetView(first);
    std::string value(line.substr(std::min(line.size(), FFieldNames.Get(AIndex).size() + 1)));
    if (!value.empty() && (value[0] == '\t' || value[0] == ' '))
        value.erase(0, 1);
    // The last character of the value that is not blank, kept as lines are added.
    const auto lastNonBlank = [](std::string_view AText, char APrevious) {
        const size_t at = AText.find_last_not_of(BlankChars);
        return at == std::string_view::npos ? APrevious : AText[at];
    };
    char last = lastNonBlank(value, '\0');
    for (int32_t next = first + 1; next < FSource->Count(); ++next) {
        const std::string_view continuation = FSource->GetView(next);
        if (!IsContinuationLine(continuation))
            break;
        if (ASeparateAddresses && last == '>') {
            value += ',';
            last = ',';
        }
        value += continuation; // only the line break goes: the blank that folded the line stays
        last = lastNonBlank(continuation, last);
    }
    return value;
}

int32_t TixHeaderFieldList::GetFieldEnd(int32_t AIndex) const
{
    if (!ValidIndex(AIndex))
        return -1;
    int32_t line = GetFieldLine(AIndex) + 1;
    while (line < FSource->Count() && IsContinuationLine(FSource->GetView(line)))
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
        ALines.AddView(FSource->GetView(line));
}

// ---- Items ---------------------------------------------------------------------------------

size_t TixHeaderFieldList::ItemValueEnd(std::string_view ASource, size_t AFrom) const
{
    // A quote at the start of the value (blanks aside) opens a quoted stretch that runs to the
    // same quote character (in a double-quoted one, "\\" takes the next character literally);
    // otherwise the value ends before the first item delimiter.
    const size_t opening = ASource.find_first_not_of(GetWhitespaceChars(), AFrom);
    if (opening == std::string_view::npos || !Contains(GetQuoteChars(), ASource[opening]))
        return std::min(ASource.find_first_of(GetItemDelimiters(), AFrom), ASource.size());
    const char quote = ASource[opening];
    for (size_t i = opening + 1; i < ASource.size(); ++i) {
        if (quote == '"' && ASource[i] == '\\')
            ++i;
        else if (ASource[i] == quote)
            return i + 1;
    }
    return ASource.size(); // an unclosed quote runs to the end
}

template <typename TVisit>
void TixHeaderFieldList::ScanItems(std::string_view ASource, TVisit AVisit) const
{
    // The first item is the value's first token, with an empty name; every later one starts
    // after an item delimiter, so that a name is only ever matched at the start of an item.
    const std::string_view whitespace = GetWhitespaceChars();
    const std::string_view delimiters = GetItemDelimiters();
    size_t end = ItemValueEnd(ASource, 0);
    if (AVisit(TItemSpan{0, 0, 0, end}))
        return;
    for (size_t at = ASource.find_first_of(delimiters, end); at < ASource.size();
         at = ASource.find_first_of(delimiters, end)) {
        const size_t nameBegin = std::min(ASource.find_first_not_of(whitespace, at + 1), ASource.size());
        const size_t stop = std::min(ASource.find_first_of(delimiters, nameBegin), ASource.size());
        const size_t equals = ASource.substr(0, stop).find('=', nameBegin);
        if (equals == std::string_view::npos) {
            end = stop; // an item without a value
            continue;
        }
        const size_t nameEnd = std::max(nameBegin, ASource.find_last_not_of(whitespace, equals - 1) + 1);
        end = ItemValueEnd(ASource, equals + 1);
        if (AVisit(TItemSpan{nameBegin, nameEnd, equals + 1, end}))
            return;
    }
}

void TixHeaderFieldList::GetItemBounds(std::string_view ASource, std::string_view AItem, int32_t& ALength,
    int32_t& AStart, std::string& AValue)
{
    ALength = 0;
    AStart = 0;
    AValue.clear();
    if (ASource.empty())
        return;
    ScanItems(ASource, [&](const TItemSpan& AItemSpan) {
        const std::string_view name = ASource.substr(AItemSpan.NameBegin, AItemSpan.NameEnd - AItemSpan.NameBegin);
        if (AItemSpan.ValueBegin == 0 ? !AItem.empty() : !SameText(name, AItem))
            return false;
        AValue.assign(ASource.substr(AItemSpan.ValueBegin, AItemSpan.ValueEnd - AItemSpan.ValueBegin));
        AStart = static_cast<int32_t>(AItemSpan.NameBegin + 1);
        ALength = static_cast<int32_t>(AItemSpan.ValueEnd - AItemSpan.NameBegin);
        return true;
    });
}

std::string TixHeaderFieldList::UnquoteItemValue(std::string_view AValue, std::string_view AQuoteChars)
{
    const std::string_view value = TrimView(AValue);
    if (value.empty() || !Contains(AQuoteChars, value.front()) || !Contains(AQuoteChars, value.back()))
        return std::string(value);
    if (value.size() < 2)
        return {};
    const std::string_view inner = value.substr(1, value.size() - 2);
    if (value.front() != '"')
        return std::string(inner);
    std::string result;
    result.reserve(inner.size());
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size())
            ++i; // a quoted-pair stands for its second character
        result += inner[i];
    }
    return result;
}

std::string TixHeaderFieldList::QuoteItemValue(std::string_view AText)
{
    std::string result = "\"";
    result.reserve(AText.size() + 2);
    for (const char c : AText) {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result += '"';
}

std::string TixHeaderFieldList::GetItemValue(std::string_view ASource, std::string_view AItem)
{
    int32_t length = 0;
    int32_t start = 0;
    std::string value;
    GetItemBounds(ASource, AItem, length, start, value);
    return UnquoteItemValue(value, GetQuoteChars());
}

std::vector<std::pair<std::string, std::string>> TixHeaderFieldList::GetItems(std::string_view ASource)
{
    std::vector<std::pair<std::string, std::string>> items;
    ScanItems(ASource, [&](const TItemSpan& AItemSpan) {
        if (AItemSpan.ValueBegin > 0)
            items.emplace_back(LowerCase(ASource.substr(AItemSpan.NameBegin, AItemSpan.NameEnd - AItemSpan.NameBegin)),
                UnquoteItemValue(ASource.substr(AItemSpan.ValueBegin, AItemSpan.ValueEnd - AItemSpan.ValueBegin),
                    GetQuoteChars()));
        return false;
    });
    return items;
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

size_t TixHeaderFieldList::FoldPoint(std::string_view AText, size_t ARoom, size_t AFrom) const
{
    // The last blank that keeps the line within the room, else the first one after it; never
    // one that would leave the line blank, nor one that leaves a sticky character alone.
    const size_t word = AText.find_first_not_of(" \t", std::min(AFrom, AText.size()));
    if (word == std::string_view::npos)
        return AText.size();
    size_t blank = ARoom > word ? AText.find_last_of(" \t", ARoom) : std::string_view::npos;
    if (blank == std::string_view::npos || blank < word)
        blank = AText.find_first_of(" \t", word);
    if (blank == std::string_view::npos || (blank + 2 == AText.size() && Contains(GetStickyChars(), AText.back())))
        return AText.size();
    return blank;
}

int32_t TixHeaderFieldList::InsertFolded(int32_t ALineIndex, std::string_view AText, std::string_view AFirstPrefix,
    std::string_view ANextPrefix, size_t AValueStart)
{
    // Folds only before a blank, which then begins the next line, so that unfolding (taking out
    // the line break) gives the text back. A run without blanks stays whole unless it is longer
    // than any line may be; only then is it cut, with ANextPrefix before the rest.
    const auto limit = static_cast<size_t>(std::max(FCharsPerLine, 1));
    int32_t line = ALineIndex;
    std::string_view prefix = AFirstPrefix;
    while (!AText.empty()) {
        size_t cut = AText.size();
        if (prefix.size() + AText.size() > limit)
            cut = FoldPoint(AText, limit > prefix.size() ? limit - prefix.size() : 0, AValueStart);
        std::string_view next;
        if (prefix.size() + cut > MaxLineLength) {
            cut = MaxLineLength > prefix.size() ? MaxLineLength - prefix.size() : 1;
            next = ANextPrefix;
        }
        InsertSourceLine(line++, std::string(prefix).append(AText.substr(0, cut)));
        AText.remove_prefix(cut);
        prefix = next;
        AValueStart = 0;
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
        // A field's first line is not folded at the blank before its value: an unstructured
        // value (a subject) would gain a leading blank.
        const size_t colon = first ? text.find(':') : std::string::npos;
        first = false;
        if (AFold && FCharsPerLine >= 1)
            line = InsertFolded(line, text, "", "\t", colon == std::string::npos ? 0 : colon + 1);
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
    // A value that is already one quoted string stays as it is; any other is quoted with its
    // quotes and backslashes escaped, so that it cannot end early and add items of its own.
    const std::string value = Trim(AValue);
    const bool quoted = value.size() >= 2 && value.front() == '"' && ItemValueEnd(value, 0) == value.size() &&
        value.back() == '"' && UnquoteItemValue(value, "\"") != value;
    InsertFieldItem(GetFieldIndex(AName), AItem, false, quoted ? value : QuoteItemValue(value));
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
        if (!FSource->GetView(FSource->Count() - 1).empty())
            InsertSourceLine(FSource->Count(), {});
    } else if (!FSource->GetView(FHeaderEnd).empty()) {
        InsertSourceLine(FHeaderEnd, {});
    }
}

} // namespace ix
