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
    static constexpr char DefaultNameValueSeparator = '=';

    virtual int32_t Count() const noexcept = 0;
    virtual const std::string& Get(int32_t AIndex) const = 0;
    virtual void Put(int32_t AIndex, const std::string& AValue) = 0;
    virtual TObject* GetObject(int32_t AIndex) const = 0;
    virtual void PutObject(int32_t AIndex, TObject* AObject) = 0;
    virtual intptr_t GetTag(int32_t AIndex) const = 0;
    virtual void PutTag(int32_t AIndex, intptr_t ATag) = 0;
    virtual void Insert(int32_t AIndex, std::string AValue) = 0;
    virtual void Delete(int32_t AIndex) = 0;
    virtual void Clear() = 0;
    /// Reserves room for ACapacity lines (a hint).
    virtual void SetCapacity(int32_t ACapacity);
    /// Appends AText to line AIndex. Here through Get and Put; a list that can grow a line in
    /// place does so, so that a line built in many steps costs time linear in its length.
    virtual void AppendToLine(int32_t AIndex, std::string_view AText);

    const std::string& operator[](int32_t AIndex) const { return Get(AIndex); }
    bool IsEmpty() const noexcept { return Count() == 0; }

    /// Appends a line; returns its index.
    virtual int32_t Add(std::string AValue);
    int32_t AddObject(std::string AValue, TObject* AObject);
    /// Appends every line of AStrings.
    void AddStrings(const TStrings& AStrings);
    /// Index of the first line equal to AValue (letter case per CaseSensitive); -1 when none.
    virtual int32_t IndexOf(std::string_view AValue) const;
    int32_t IndexOfObject(const TObject* AObject) const;
    void Exchange(int32_t AIndex1, int32_t AIndex2);
    void Move(int32_t ACurIndex, int32_t ANewIndex);

    /// Every line followed by CR LF.
    std::string GetText() const;
    /// Replaces the lines with those of AText (lines end at CR LF, LF or CR).
    void SetText(std::string_view AText);
    /// Lines joined with ADelimiter, without a trailing one.
    std::string Join(std::string_view ADelimiter) const;

    // name=value access
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

    bool GetCaseSensitive() const noexcept { return FCaseSensitive; }
    void SetCaseSensitive(bool AValue) noexcept { FCaseSensitive = AValue; }

    /// Batches changes: OnChange fires once when the outermost EndUpdate is reached.
    void BeginUpdate();
    void EndUpdate();
    int32_t GetUpdateCount() const noexcept { return FUpdateCount; }

    void LoadFromStream(TStream& AStream);
    void SaveToStream(TStream& AStream) const;
    void LoadFromFile(const std::string& AFileName);
    void SaveToFile(const std::string& AFileName) const;

    /// Copies the lines (with objects and tags) of another string list.
    void Assign(const TPersistent& ASource) override;

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    /// Called before and after every change; fire the events unless an update is in progress.
    virtual void Changing();
    virtual void Changed();
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
