// An indexed, in-place editor for an RFC 822 style header block that lives in a caller's
// string list: field lookup, unfolding, parameter items ("name=value" after ";") and
// insertion with folding by length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ixClasses.h"
#include "core/ixStrings.h"

namespace ix {

/// Reads and edits the header block of a string list without copying it. Parse first; the
/// indexed string list must outlive the header list. Field indexes are 0-based, character
/// positions inside a text 1-based. No operation raises on a bad index or a missing item.
class TixHeaderFieldList : public TObject
{
public:
    static constexpr char DefaultItemDelimiter = ';';

    TixHeaderFieldList();
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
    /// Index of the first line after the header (its empty line, or the line count).
    int32_t GetHeaderEnd() const noexcept { return FHeaderEnd; }
    /// One line per field in header order: the lower-case name, tagged with the index of the
    /// field's first line in Source.
    const TStringList& GetFieldNames() const noexcept { return FFieldNames; }
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
    /// As AddFieldItem with the value in double quotes (unless it already begins or ends with
    /// one); an empty value is added as "".
    void AddQuotedFieldItem(std::string_view AName, std::string_view AItem, std::string_view AValue);
    /// Appends each non-empty line of ALines as a field, folded.
    void AddFields(const TStrings& ALines);
    /// Makes sure an empty line follows the header.
    void AddEndOfHeader();
    /// Rewrites a field without its item AItem.
    void RemoveFieldItem(std::string_view AName, std::string_view AItem);
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

    /// The unfolded value of a field: one blank after the colon dropped, one leading TAB of
    /// each continuation line dropped. Empty for a bad index.
    virtual std::string GetFieldValueRaw(int32_t AIndex);
    /// Finds the item AItem in ASource (see the .cpp); AStart 0 and ALength 0 when absent.
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
    /// The value of the item AItem in ASource, trimmed and without surrounding quotes.
    virtual std::string GetItemValue(std::string_view ASource, std::string_view AItem);

protected:
    /// True for a non-empty line that begins with TAB or space.
    static bool IsContinuationLine(std::string_view ALine) noexcept;
    /// Inserts AText cut into pieces of about CharsPerLine characters from ALineIndex on;
    /// returns the index after the last inserted line.
    int32_t InsertFolded(int32_t ALineIndex, std::string_view AText, std::string_view AFirstPrefix,
        std::string_view ANextPrefix);
    /// The field's lines joined: one blank after the colon and one leading TAB of each
    /// continuation line dropped. With ASeparateAddresses a "," goes in before a continuation
    /// line that follows a ">" (an address whose list was folded without its comma).
    std::string UnfoldField(int32_t AIndex, bool ASeparateAddresses) const;
    /// ANumerator / ADenominator rounded to the nearest integer, halves to even.
    static int32_t RoundHalfEven(int32_t ANumerator, int32_t ADenominator) noexcept;
    /// Inserts one line into Source and keeps the field index current.
    void InsertSourceLine(int32_t ALineIndex, std::string AText);

private:
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
