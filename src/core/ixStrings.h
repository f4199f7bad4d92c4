// Ordered lists of text lines, each with an optional object and an integer tag, with
// name=value access and change events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixClasses.h"

namespace ix {

class TStream;

/// The interface of a list of lines. Indexes are 0-based.
class TStrings : public TPersistent
{
public:
    /// Default of NameValueSeparator.
    static constexpr char DefaultNameValueSeparator = '=';

    /// The number of lines.
    virtual int32_t Count() const noexcept = 0;
    /// Line AIndex; raises EListError outside 0..Count-1.
    virtual const std::string& Get(int32_t AIndex) const = 0;
    /// Line AIndex to read, valid until the list changes: a list that holds its lines in
    /// another form gives them without making a string. Raises EListError as Get.
    virtual std::string_view GetView(int32_t AIndex) const { return Get(AIndex); }
    /// Replaces line AIndex; raises EListError outside 0..Count-1.
    virtual void Put(int32_t AIndex, const std::string& AValue) = 0;
    /// The object of line AIndex (null when none); raises EListError outside 0..Count-1.
    virtual TObject* GetObject(int32_t AIndex) const = 0;
    /// Sets the object of line AIndex; raises EListError outside 0..Count-1.
    virtual void PutObject(int32_t AIndex, TObject* AObject) = 0;
    /// The integer tag of line AIndex (0 when none); raises EListError outside 0..Count-1.
    virtual intptr_t GetTag(int32_t AIndex) const = 0;
    /// Sets the integer tag of line AIndex; raises EListError outside 0..Count-1.
    virtual void PutTag(int32_t AIndex, intptr_t ATag) = 0;
    /// Inserts a line before AIndex (Count appends); raises EListError outside 0..Count.
    virtual void Insert(int32_t AIndex, std::string AValue) = 0;
    /// Removes line AIndex; raises EListError outside 0..Count-1.
    virtual void Delete(int32_t AIndex) = 0;
    /// Removes every line.
    virtual void Clear() = 0;
    /// Reserves room for ACapacity lines (a hint).
    virtual void SetCapacity(int32_t ACapacity);
    /// Appends AText to line AIndex. Here through Get and Put; a list that can grow a line in
    /// place does so, so that a line built in many steps costs time linear in its length.
    virtual void AppendToLine(int32_t AIndex, std::string_view AText);

    /// Line AIndex, as Get.
    const std::string& operator[](int32_t AIndex) const { return Get(AIndex); }
    /// True when there are no lines.
    bool IsEmpty() const noexcept { return Count() == 0; }

    /// Appends a line; returns its index.
    virtual int32_t Add(std::string AValue);
    /// Appends a line copied from AText; returns its index. Here through Add; a list that keeps
    /// its text in another form copies the bytes without making a string.
    virtual int32_t AddView(std::string_view AText) { return Add(std::string(AText)); }
    /// Reserves room for ABytes more bytes of text (a hint; lists that keep each line apart
    /// have nothing to reserve).
    virtual void ReserveText(int64_t ABytes) { static_cast<void>(ABytes); }
    /// Appends a line with AObject; returns its index.
    int32_t AddObject(std::string AValue, TObject* AObject);
    /// Appends every line of AStrings.
    void AddStrings(const TStrings& AStrings);
    /// Index of the first line equal to AValue (letter case per CaseSensitive); -1 when none.
    virtual int32_t IndexOf(std::string_view AValue) const;
    /// Index of the first line with AObject; -1 when none.
    int32_t IndexOfObject(const TObject* AObject) const;
    /// Swaps two lines with their objects and tags.
    void Exchange(int32_t AIndex1, int32_t AIndex2);
    /// Moves a line with its object and tag from ACurIndex to ANewIndex.
    void Move(int32_t ACurIndex, int32_t ANewIndex);

    /// Every line followed by CR LF.
    std::string GetText() const;
    /// Replaces the lines with those of AText (lines end at CR LF, LF or CR).
    void SetText(std::string_view AText);
    /// Lines joined with ADelimiter, without a trailing one.
    std::string Join(std::string_view ADelimiter) const;

    // name=value access
    /// The character between name and value ('=' by default).
    char GetNameValueSeparator() const noexcept { return FNameValueSeparator; }
    void SetNameValueSeparator(char AValue) noexcept { FNameValueSeparator = AValue; }
    /// The part of line AIndex before the separator; empty when the line has none.
    std::string GetName(int32_t AIndex) const;
    /// The part of line AIndex after the separator.
    std::string GetValueFromIndex(int32_t AIndex) const;
    /// Index of the first line whose name equals AName (letter case per CaseSensitive).
    int32_t IndexOfName(std::string_view AName) const;
    /// The value of the first line named AName; empty when none.
    std::string GetValue(std::string_view AName) const;
    /// Sets the value of AName (adding the line when absent); an empty value removes the line.
    void SetValue(std::string_view AName, std::string_view AValue);

    /// Whether IndexOf and IndexOfName heed letter case (default false: ASCII case ignored).
    bool GetCaseSensitive() const noexcept { return FCaseSensitive; }
    void SetCaseSensitive(bool AValue) noexcept { FCaseSensitive = AValue; }

    /// Batches changes: OnChange fires once when the outermost EndUpdate is reached.
    void BeginUpdate();
    /// Ends one BeginUpdate; the outermost fires OnChange when something changed meanwhile.
    void EndUpdate();
    /// The nesting of BeginUpdate.
    int32_t GetUpdateCount() const noexcept { return FUpdateCount; }

    /// Replaces the lines with the text from AStream's position to its end, as SetText.
    void LoadFromStream(TStream& AStream);
    /// Writes Text (each line followed by CR LF) at AStream's position.
    void SaveToStream(TStream& AStream) const;
    /// Replaces the lines with the text of the file; raises EFOpenError when it cannot be opened.
    void LoadFromFile(const std::string& AFileName);
    /// Writes Text to the file, created or truncated; raises EFCreateError when it cannot be.
    void SaveToFile(const std::string& AFileName) const;

    /// Copies the lines (with objects and tags) of another string list.
    void Assign(const TPersistent& ASource) override;

    /// After a change (once per outermost update).
    TNotifyEvent OnChange;
    /// Before a change, unless an update is in progress.
    TNotifyEvent OnChanging;

protected:
    /// Called before and after every change; fire the events unless an update is in progress.
    virtual void Changing();
    /// After a change: fires OnChange, or records it for the outermost EndUpdate.
    virtual void Changed();
    /// Equality of two lines, letter case per CaseSensitive.
    bool SameLine(std::string_view A, std::string_view B) const noexcept;

private:
    int32_t FUpdateCount = 0;
    bool FChangedInUpdate = false;
    bool FCaseSensitive = false;
    char FNameValueSeparator = DefaultNameValueSeparator;
};

/// The list of lines kept in memory.
class TStringList : public TStrings
{
public:
    TStringList() = default;
    /// A list of ALines.
    explicit TStringList(std::initializer_list<std::string> ALines);
    ~TStringList() override;

    int32_t Count() const noexcept override { return static_cast<int32_t>(FLines.size()); }
    const std::string& Get(int32_t AIndex) const override;
    void Put(int32_t AIndex, const std::string& AValue) override;
    void AppendToLine(int32_t AIndex, std::string_view AText) override;
    /// Direct access to line AIndex for in-place editing; no change events fire.
    std::string& Line(int32_t AIndex);
    TObject* GetObject(int32_t AIndex) const override;
    void PutObject(int32_t AIndex, TObject* AObject) override;
    intptr_t GetTag(int32_t AIndex) const override;
    void PutTag(int32_t AIndex, intptr_t ATag) override;
    int32_t Add(std::string AValue) override;
    void Insert(int32_t AIndex, std::string AValue) override;
    void Delete(int32_t AIndex) override;
    void Clear() override;
    void SetCapacity(int32_t ACapacity) override;

    /// When set, the list owns the objects of its lines and destroys them with the lines.
    bool GetOwnsObjects() const noexcept { return FOwnsObjects; }
    void SetOwnsObjects(bool AValue) noexcept { FOwnsObjects = AValue; }

private:
    /// The object and tag of a line, kept apart from the text: most lists have none, and their
    /// lines then cost only their text.
    struct TLineData
    {
        TObject* Object = nullptr;
        intptr_t Tag = 0;
    };
    void CheckIndex(int32_t AIndex) const;
    /// Gives every line its TLineData, once an object or a tag is set.
    void UseLineData();
    void ReleaseObject(size_t AIndex) noexcept;

    std::vector<std::string> FLines;
    std::vector<TLineData> FLineData; // empty, or one per line
    bool FOwnsObjects = false;
};

} // namespace ix
