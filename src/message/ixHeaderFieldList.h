// An indexed, in-place editor for an RFC 822 style header block that lives in a caller's
// string list: field lookup, unfolding, parameter items ("name=value" after ";") and
// insertion with folding by length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ixClasses.h"
#include "core/ixStrings.h"

namespace ix {

/// Reads and edits the header block of a string list without copying it. Parse first; the
/// indexed string list must outlive the header list. Field indexes are 0-based, character
/// positions inside a text 1-based. No operation raises on a bad index or a missing item.
class TixHeaderFieldList : public TObject
{
public:
    /// Default of ItemDelimiter.
    static constexpr char DefaultItemDelimiter = ';';

    /// An empty list; Parse indexes a header.
    TixHeaderFieldList();
    /// Releases the index (the source lines are not owned).
    ~TixHeaderFieldList() override;

    /// Folding width for inserted lines; 0 or less never folds.
    int32_t GetCharsPerLine() const noexcept { return FCharsPerLine; }
    void SetCharsPerLine(int32_t AValue) noexcept { FCharsPerLine = AValue; }
    /// Separator written between parameter items.
    char GetItemDelimiter() const noexcept { return FItemDelimiter; }
    void SetItemDelimiter(char AValue) noexcept { FItemDelimiter = AValue; }

    /// The indexed lines (null before Parse).
    TStrings* GetSource() const noexcept { return FSource; }
    /// Index of the first header line, from the last Parse.
    int32_t GetHeaderStart() const noexcept { return FHeaderStart; }
    /// Index of the first line after the header: its empty line, the first line that is neither
    /// a field nor a continuation, or the line count.
    int32_t GetHeaderEnd() const noexcept { return FHeaderEnd; }
    /// Index of the first line after the header and its empty line, if it has one.
    int32_t GetBodyStart() const noexcept;
    /// One line per field in header order: the lower-case name, tagged with the index of the
    /// field's first line in Source.
    const TStringList& GetFieldNames() const noexcept { return FFieldNames; }
    /// The number of fields.
    int32_t GetFieldCount() const noexcept { return FFieldNames.Count(); }
    /// Index in Source of the field's first line; -1 for a bad index.
    int32_t GetFieldLine(int32_t AIndex) const noexcept;

    /// Index of the first field named AName (letter case ignored); -1 when none.
    int32_t GetFieldIndex(std::string_view AName) const;
    /// The trimmed, unfolded value of the field named AName; empty when absent.
    std::string GetFieldValue(std::string_view AName);
    /// The field name as spelled in Source; empty for a bad index.
    std::string GetFieldName(int32_t AIndex) const;
    /// Index in Source of the field's last line; -1 for a bad index.
    int32_t GetFieldEnd(int32_t AIndex) const;
    /// Clears ALines and fills it with the field's lines, unchanged.
    void GetFieldLines(int32_t AIndex, TStrings& ALines) const;

    /// Appends "AName: AValue" at the end of the header, folded; nothing for an empty value.
    void AddField(std::string_view AName, std::string_view AValue);
    /// Appends the line "AName:".
    void AddEmptyField(std::string_view AName);
    /// Inserts the line "AName:" at ALineIndex.
    void InsertEmptyField(int32_t ALineIndex, std::string_view AName);
    /// Appends the item AItem=AValue (value trimmed) to the field AName; nothing for an empty value.
    void AddFieldItem(std::string_view AName, std::string_view AItem, std::string_view AValue);
    /// As AddFieldItem with the value as a quoted string ("\\" before each double quote and
    /// backslash), unless it already is one; an empty value is added as "".
    void AddQuotedFieldItem(std::string_view AName, std::string_view AItem, std::string_view AValue);
    /// Appends each non-empty line of ALines as a field, folded.
    void AddFields(const TStrings& ALines);
    /// Makes sure an empty line follows the header.
    void AddEndOfHeader();
    /// Rewrites a field without its item AItem.
    void RemoveFieldItem(std::string_view AName, std::string_view AItem);
    /// Rewrites field AIndex without its item AItem.
    void RemoveFieldItem(int32_t AIndex, std::string_view AItem);
    /// Rewrites a field with the value of its item AItem removed (the name and "=" stay).
    void ClearFieldItemValue(int32_t AIndex, std::string_view AItem);
    /// Inserts the lines of ALines from ALineIndex on, the first preceded by AFirstPrefix and
    /// each later one by ANextPrefix.
    void InsertPrefixedLines(int32_t ALineIndex, const TStrings& ALines, std::string_view AFirstPrefix,
        std::string_view ANextPrefix);

    // The character classes; descendants may change them.

    /// Characters that open and close a quoted item value.
    virtual std::string_view GetQuoteChars() const;
    /// Characters that end an unquoted item value.
    virtual std::string_view GetItemDelimiters() const;
    /// Characters that are never left alone on a folded line.
    virtual std::string_view GetStickyChars() const;
    /// Characters allowed between an item name and its "=".
    virtual std::string_view GetWhitespaceChars() const;

    /// The unfolded value of a field: the line breaks taken out (the blanks that fold the lines
    /// stay), one blank after the colon dropped. Empty for a bad index.
    virtual std::string GetFieldValueRaw(int32_t AIndex);
    /// Finds the item AItem in ASource: the first item whose name, at the start of an item (after
    /// a delimiter), equals AItem without regard to letter case. AStart (1-based) and ALength
    /// cover the name, "=" and the raw value (AValue, quotes included); 0 and 0 when absent.
    /// An empty AItem designates the value's first token.
    virtual void GetItemBounds(std::string_view ASource, std::string_view AItem, int32_t& ALength,
        int32_t& AStart, std::string& AValue);
    /// Inserts ALine at ALineIndex (kept inside the header), folded by length when AFold is set.
    virtual void InsertField(int32_t ALineIndex, std::string_view ALine, bool AFold);
    /// Appends the item AItem=AValue to field AIndex, on its last line or on new lines.
    virtual void InsertFieldItem(int32_t AIndex, std::string_view AItem, bool ANewLine, std::string_view AValue);
    /// ASource without the item AItem and its delimiter.
    virtual std::string RemoveItem(std::string_view ASource, std::string_view AItem);
    /// ASource with the value of the item AItem removed.
    virtual std::string ClearItemValue(std::string_view ASource, std::string_view AItem);
    /// Inserts the lines of ALines at ALineIndex (kept inside the header).
    virtual void InsertLines(int32_t ALineIndex, const TStrings& ALines);
    /// Deletes the lines of field AIndex.
    virtual void DeleteFieldLines(int32_t AIndex);
    /// Indexes the header of ASource that starts at AStart; returns HeaderEnd.
    virtual int32_t Parse(int32_t AStart, TStrings& ASource);
    /// The unfolded value of field AIndex, trimmed.
    virtual std::string GetFieldValue(int32_t AIndex);
    /// The value of the item AItem in ASource, trimmed and without surrounding quotes; inside
    /// double quotes a quoted-pair ("\\" and a character) stands for its character.
    virtual std::string GetItemValue(std::string_view ASource, std::string_view AItem);

    /// Every item of ASource after the first token, in order: its name in lower case and its
    /// value as GetItemValue reads it. One pass over the text.
    std::vector<std::pair<std::string, std::string>> GetItems(std::string_view ASource);
    /// AValue trimmed and, when its first and last characters are in AQuoteChars, without them;
    /// quoted-pairs inside double quotes are read.
    static std::string UnquoteItemValue(std::string_view AValue, std::string_view AQuoteChars);
    /// AText as a quoted string: in double quotes, with "\\" before each double quote and backslash.
    static std::string QuoteItemValue(std::string_view AText);

protected:
    /// True for a non-empty line that begins with TAB or space.
    static bool IsContinuationLine(std::string_view ALine) noexcept;
    /// Inserts AText from ALineIndex on, folded before blanks to lines of about CharsPerLine
    /// characters (a longer run stays whole up to the 998 characters a line may hold);
    /// returns the index after the last inserted line.
    /// Blanks before AValueStart (the value of a field's first line) are no fold points.
    int32_t InsertFolded(int32_t ALineIndex, std::string_view AText, std::string_view AFirstPrefix,
        std::string_view ANextPrefix, size_t AValueStart = 0);
    /// The field's lines joined (only the line breaks go) with one blank after the colon
    /// dropped. With ASeparateAddresses a "," goes in before a continuation line that follows
    /// a ">" (an address whose list was folded without its comma).
    std::string UnfoldField(int32_t AIndex, bool ASeparateAddresses) const;
    /// Inserts one line into Source and keeps the field index current.
    void InsertSourceLine(int32_t ALineIndex, std::string AText);

private:
    /// Where one item lies in a field value: its name and its raw value (quotes included).
    struct TItemSpan
    {
        size_t NameBegin;
        size_t NameEnd;
        size_t ValueBegin; // 0 for the first token, which has no name
        size_t ValueEnd;
    };
    /// Calls AVisit with each item of ASource, the first token first, until it returns true.
    template <typename TVisit>
    void ScanItems(std::string_view ASource, TVisit AVisit) const;
    /// The end of the raw item value that starts at AFrom.
    size_t ItemValueEnd(std::string_view ASource, size_t AFrom) const;
    /// Where to fold AText (its length when it stays whole) for a line with ARoom characters,
    /// at a blank after the word that starts at or after AFrom.
    size_t FoldPoint(std::string_view AText, size_t ARoom, size_t AFrom) const;
    bool ValidIndex(int32_t AIndex) const noexcept { return FSource && AIndex >= 0 && AIndex < FFieldNames.Count(); }
    int32_t ClampToHeader(int32_t ALineIndex) const noexcept;
    int32_t FirstFieldAtOrAfter(int32_t ALineIndex) const;
    void ShiftFieldLines(int32_t AFromField, int32_t ADelta);
    void IndexLine(int32_t AFieldIndex, int32_t ALineIndex);
    using TItemEdit = std::string (TixHeaderFieldList::*)(std::string_view, std::string_view);
    /// Rewrites field AIndex with AEdit (RemoveItem or ClearItemValue) applied to its joined lines.
    void EditFieldItem(int32_t AIndex, std::string_view AItem, TItemEdit AEdit);
    bool NeedsItemDelimiter(std::string_view ALine) const;

    TStringList FFieldNames;
    TStrings* FSource = nullptr;
    int32_t FHeaderEnd = 0;
    int32_t FHeaderStart = 0;
    int32_t FCharsPerLine = 0;
    char FItemDelimiter = DefaultItemDelimiter;
};

} // namespace ix
