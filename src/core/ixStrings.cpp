#include "core/ixStrings.h"

#include <algorithm>
#include <utility>

#include "core/ixStreams.h"

namespace ix {

// ---- TStrings -----------------------------------------------------------------------------

void TStrings::SetCapacity(int32_t) {}

void TStrings::AppendToLine(int32_t AIndex, std::string_view AText)
{
    std::string line = Get(AIndex);
    line.append(AText);
    Put(AIndex, line);
}

int32_t TStrings::Add(std::string AValue)
{
    const int32_t index = Count();
    Insert(index, std::move(AValue));
    return index;
}

int32_t TStrings::AddObject(std::string AValue, TObject* AObject)
{
    const int32_t index = Add(std::move(AValue));
    PutObject(index, AObject);
    return index;
}

void TStrings::AddStrings(const TStrings& AStrings)
{
    BeginUpdate();
    try {
        SetCapacity(Count() + AStrings.Count());
        for (int32_t i = 0; i < AStrings.Count(); ++i) {
            const int32_t index = Add(AStrings.Get(i));
            PutObject(index, AStrings.GetObject(i));
            PutTag(index, AStrings.GetTag(i));
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

bool TStrings::SameLine(std::string_view A, std::string_view B) const noexcept
{
    return FCaseSensitive ? A == B : SameText(A, B);
}

int32_t TStrings::IndexOf(std::string_view AValue) const
{
    for (int32_t i = 0; i < Count(); ++i)
        if (SameLine(Get(i), AValue))
            return i;
    return -1;
}

int32_t TStrings::IndexOfObject(const TObject* AObject) const
{
    for (int32_t i = 0; i < Count(); ++i)
        if (GetObject(i) == AObject)
            return i;
    return -1;
}

void TStrings::Exchange(int32_t AIndex1, int32_t AIndex2)
{
    if (AIndex1 == AIndex2)
        return;
    BeginUpdate();
    std::string text1 = Get(AIndex1);
    TObject* object1 = GetObject(AIndex1);
    const intptr_t tag1 = GetTag(AIndex1);
    Put(AIndex1, Get(AIndex2));
    PutObject(AIndex1, GetObject(AIndex2));
    PutTag(AIndex1, GetTag(AIndex2));
    Put(AIndex2, text1);
    PutObject(AIndex2, object1);
    PutTag(AIndex2, tag1);
    EndUpdate();
}

void TStrings::Move(int32_t ACurIndex, int32_t ANewIndex)
{
    if (ACurIndex == ANewIndex)
        return;
    BeginUpdate();
    std::string text = Get(ACurIndex);
    TObject* object = GetObject(ACurIndex);
    const intptr_t tag = GetTag(ACurIndex);
    PutObject(ACurIndex, nullptr);
    Delete(ACurIndex);
    Insert(ANewIndex, std::move(text));
    PutObject(ANewIndex, object);
    PutTag(ANewIndex, tag);
    EndUpdate();
}

std::string TStrings::GetText() const
{
    size_t size = 0;
    for (int32_t i = 0; i < Count(); ++i)
        size += Get(i).size() + 2;
    std::string text;
    text.reserve(size);
    for (int32_t i = 0; i < Count(); ++i) {
        text += Get(i);
        text += "\r\n";
    }
    return text;
}

void TStrings::SetText(std::string_view AText)
{
    BeginUpdate();
    try {
        Clear();
        size_t start = 0;
        while (start < AText.size()) {
            size_t end = start;
            while (end < AText.size() && AText[end] != '\r' && AText[end] != '\n')
                ++end;
            Add(std::string(AText.substr(start, end - start)));
            if (end < AText.size() && AText[end] == '\r')
                ++end;
            if (end < AText.size() && AText[end] == '\n')
                ++end;
            start = end;
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::Join(std::string_view ADelimiter) const
{
    std::string text;
    for (int32_t i = 0; i < Count(); ++i) {
        if (i > 0)
            text += ADelimiter;
        text += Get(i);
    }
    return text;
}

std::string TStrings::GetName(int32_t AIndex) const
{
    const std::string& line = Get(AIndex);
    const size_t separator = line.find(FNameValueSeparator);
    return separator == std::string::npos ? std::string() : line.substr(0, separator);
}

std::string TStrings::GetValueFromIndex(int32_t AIndex) const
{
    const std::string& line = Get(AIndex);
    const size_t separator = line.find(FNameValueSeparator);
    return separator == std::string::npos ? std::string() : line.substr(separator + 1);
}

int32_t TStrings::IndexOfName(std::string_view AName) const
{
    for (int32_t i = 0; i < Count(); ++i) {
        const std::string& line = Get(i);
        const size_t separator = line.find(FNameValueSeparator);
        if (separator != std::string::npos && SameLine(std::string_view(line).substr(0, separator), AName))
            return i;
    }
    return -1;
}

std::string TStrings::GetValue(std::string_view AName) const
{
    const int32_t index = IndexOfName(AName);
    return index < 0 ? std::string() : GetValueFromIndex(index);
}

void TStrings::SetValue(std::string_view AName, std::string_view AValue)
{
    const int32_t index = IndexOfName(AName);
    std::string line = std::string(AName) + FNameValueSeparator + std::string(AValue);
    if (AValue.empty()) {
        if (index >= 0)
            Delete(index);
    } else if (index >= 0) {
        Put(index, line);
    } else {
        Add(std::move(line));
    }
}

void TStrings::BeginUpdate()
{
    if (FUpdateCount == 0)
        FChangedInUpdate = false;
    ++FUpdateCount;
}

void TStrings::EndUpdate()
{
    if (FUpdateCount == 0)
        return;
    if (--FUpdateCount == 0 && FChangedInUpdate) {
        FChangedInUpdate = false;
        Changed();
    }
}

void TStrings::Changing()
{
    if (FUpdateCount == 0)
        CallEvent(OnChanging, this);
}

void TStrings::Changed()
{
    if (FUpdateCount > 0) {
        FChangedInUpdate = true;
        return;
    }
    CallEvent(OnChange, this);
}

void TStrings::LoadFromStream(TStream& AStream)
{
    const int64_t size = AStream.GetSize() - AStream.GetPosition();
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    const int64_t read = text.empty() ? 0 : AStream.Read(text.data(), static_cast<int64_t>(text.size()));
    text.resize(static_cast<size_t>(read));
    SetText(text);
}

void TStrings::SaveToStream(TStream& AStream) const
{
    const std::string text = GetText();
    AStream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& AFileName)
{
    TFileStream stream(AFileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TStrings::SaveToFile(const std::string& AFileName) const
{
    TFileStream stream(AFileName, fmCreate);
    SaveToStream(stream);
}

void TStrings::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TStrings>(ASource);
    if (!source || source == this)
        return;
    BeginUpdate();
    try {
        Clear();
        AddStrings(*source);
        FNameValueSeparator = source->FNameValueSeparator;
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

// ---- TStringList --------------------------------------------------------------------------

TStringList::TStringList(std::initializer_list<std::string> ALines)
{
    FItems.reserve(ALines.size());
    for (const std::string& line : ALines)
        FItems.push_back(TItem{line});
}

TStringList::~TStringList()
{
    for (TItem& item : FItems)
        ReleaseObject(item);
}

void TStringList::ReleaseObject(TItem& AItem) noexcept
{
    if (FOwnsObjects)
        delete AItem.Object;
    AItem.Object = nullptr;
}

const TStringList::TItem& TStringList::Item(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return FItems[static_cast<size_t>(AIndex)];
}

TStringList::TItem& TStringList::Item(int32_t AIndex)
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return FItems[static_cast<size_t>(AIndex)];
}

const std::string& TStringList::Get(int32_t AIndex) const
{
    return Item(AIndex).Text;
}

std::string& TStringList::Line(int32_t AIndex)
{
    return Item(AIndex).Text;
}

void TStringList::Put(int32_t AIndex, const std::string& AValue)
{
    TItem& item = Item(AIndex);
    Changing();
    item.Text = AValue;
    Changed();
}

void TStringList::AppendToLine(int32_t AIndex, std::string_view AText)
{
    TItem& item = Item(AIndex);
    Changing();
    item.Text.append(AText);
    Changed();
}

TObject* TStringList::GetObject(int32_t AIndex) const
{
    return Item(AIndex).Object;
}

void TStringList::PutObject(int32_t AIndex, TObject* AObject)
{
    TItem& item = Item(AIndex);
    if (item.Object == AObject)
        return;
    Changing();
    ReleaseObject(item);
    item.Object = AObject;
    Changed();
}

intptr_t TStringList::GetTag(int32_t AIndex) const
{
    return Item(AIndex).Tag;
}

void TStringList::PutTag(int32_t AIndex, intptr_t ATag)
{
    Item(AIndex).Tag = ATag;
}

int32_t TStringList::Add(std::string AValue)
{
    Changing();
    FItems.push_back(TItem{std::move(AValue)});
    Changed();
    return Count() - 1;
}

void TStringList::Insert(int32_t AIndex, std::string AValue)
{
    if (AIndex < 0 || AIndex > Count())
        RaiseListIndexError(AIndex);
    Changing();
    FItems.insert(FItems.begin() + AIndex, TItem{std::move(AValue)});
    Changed();
}

void TStringList::Delete(int32_t AIndex)
{
    TItem& item = Item(AIndex);
    Changing();
    ReleaseObject(item);
    FItems.erase(FItems.begin() + AIndex);
    Changed();
}

void TStringList::Clear()
{
    if (FItems.empty())
        return;
    Changing();
    for (TItem& item : FItems)
        ReleaseObject(item);
    FItems.clear();
    Changed();
}

void TStringList::SetCapacity(int32_t ACapacity)
{
    // Room grows at least by half each time, so that a list filled in many steps, each asking
    // for just what it adds, is not moved once per step.
    const auto wanted = static_cast<size_t>(std::max(ACapacity, 0));
    if (wanted > FItems.capacity())
        FItems.reserve(std::max(wanted, FItems.capacity() + FItems.capacity() / 2));
}

} // namespace ix
