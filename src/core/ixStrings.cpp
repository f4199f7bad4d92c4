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
            const int32_t index = AddView(AStrings.GetView(i));
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
        if (SameLine(GetView(i), AValue))
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
        size += GetView(i).size() + 2;
    std::string text;
    text.reserve(size);
    for (int32_t i = 0; i < Count(); ++i) {
        text += GetView(i);
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
        text += GetView(i);
    }
    return text;
}

std::string TStrings::GetName(int32_t AIndex) const
{
    const std::string_view line = GetView(AIndex);
    const size_t separator = line.find(FNameValueSeparator);
    return std::string(separator == std::string_view::npos ? std::string_view() : line.substr(0, separator));
}

std::string TStrings::GetValueFromIndex(int32_t AIndex) const
{
    const std::string_view line = GetView(AIndex);
    const size_t separator = line.find(FNameValueSeparator);
    return std::string(separator == std::string_view::npos ? std::string_view() : line.substr(separator + 1));
}

int32_t TStrings::IndexOfName(std::string_view AName) const
{
    for (int32_t i = 0; i < Count(); ++i) {
        const std::string_view line = GetView(i);
        const size_t separator = line.find(FNameValueSeparator);
        if (separator != std::string_view::npos && SameLine(line.substr(0, separator), AName))
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

TStringList::TStringList(std::initializer_list<std::string> ALines) : FLines(ALines) {}

TStringList::~TStringList()
{
    for (size_t i = 0; i < FLineData.size(); ++i)
        ReleaseObject(i);
}

void TStringList::ReleaseObject(size_t AIndex) noexcept
{
    if (AIndex >= FLineData.size())
        return;
    if (FOwnsObjects)
        delete FLineData[AIndex].Object;
    FLineData[AIndex].Object = nullptr;
}

void TStringList::CheckIndex(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
}

void TStringList::UseLineData()
{
    if (FLineData.empty())
        FLineData.resize(FLines.size());
}

const std::string& TStringList::Get(int32_t AIndex) const
{
    CheckIndex(AIndex);
    return FLines[static_cast<size_t>(AIndex)];
}

std::string& TStringList::Line(int32_t AIndex)
{
    CheckIndex(AIndex);
    return FLines[static_cast<size_t>(AIndex)];
}

void TStringList::Put(int32_t AIndex, const std::string& AValue)
{
    CheckIndex(AIndex);
    Changing();
    FLines[static_cast<size_t>(AIndex)] = AValue;
    Changed();
}

void TStringList::AppendToLine(int32_t AIndex, std::string_view AText)
{
    CheckIndex(AIndex);
    Changing();
    FLines[static_cast<size_t>(AIndex)].append(AText);
    Changed();
}

TObject* TStringList::GetObject(int32_t AIndex) const
{
    CheckIndex(AIndex);
    return FLineData.empty() ? nullptr : FLineData[static_cast<size_t>(AIndex)].Object;
}

void TStringList::PutObject(int32_t AIndex, TObject* AObject)
{
    if (GetObject(AIndex) == AObject)
        return;
    Changing();
    UseLineData();
    ReleaseObject(static_cast<size_t>(AIndex));
    FLineData[static_cast<size_t>(AIndex)].Object = AObject;
    Changed();
}

intptr_t TStringList::GetTag(int32_t AIndex) const
{
    CheckIndex(AIndex);
    return FLineData.empty() ? 0 : FLineData[static_cast<size_t>(AIndex)].Tag;
}

void TStringList::PutTag(int32_t AIndex, intptr_t ATag)
{
    if (GetTag(AIndex) == ATag)
        return;
    UseLineData();
    FLineData[static_cast<size_t>(AIndex)].Tag = ATag;
}

int32_t TStringList::Add(std::string AValue)
{
    Changing();
    FLines.push_back(std::move(AValue));
    if (!FLineData.empty())
        FLineData.emplace_back();
    Changed();
    return Count() - 1;
}

void TStringList::Insert(int32_t AIndex, std::string AValue)
{
    if (AIndex < 0 || AIndex > Count())
        RaiseListIndexError(AIndex);
    Changing();
    FLines.insert(FLines.begin() + AIndex, std::move(AValue));
    if (!FLineData.empty())
        FLineData.insert(FLineData.begin() + AIndex, TLineData{});
    Changed();
}

void TStringList::Delete(int32_t AIndex)
{
    CheckIndex(AIndex);
    Changing();
    ReleaseObject(static_cast<size_t>(AIndex));
    FLines.erase(FLines.begin() + AIndex);
    if (!FLineData.empty())
        FLineData.erase(FLineData.begin() + AIndex);
    Changed();
}

void TStringList::Clear()
{
    if (FLines.empty())
        return;
    Changing();
    for (size_t i = 0; i < FLineData.size(); ++i)
        ReleaseObject(i);
    FLines.clear();
    FLineData.clear();
    Changed();
}

void TStringList::SetCapacity(int32_t ACapacity)
{
    // Room grows at least by half each time, so that a list filled in many steps, each asking
    // for just what it adds, is not moved once per step.
    const auto wanted = static_cast<size_t>(std::max(ACapacity, 0));
    if (wanted > FLines.capacity())
        FLines.reserve(std::max(wanted, FLines.capacity() + FLines.capacity() / 2));
}

} // namespace ix
