#include "core/ixLineBuffer.h"

#include <algorithm>
#include <limits>

namespace ix {

TLineBuffer::TLineBuffer() : FStarts{0} {}

TLineBuffer::~TLineBuffer() = default;

void TLineBuffer::CheckIndex(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
}

std::string_view TLineBuffer::GetView(int32_t AIndex) const
{
    CheckIndex(AIndex);
    const auto index = static_cast<size_t>(AIndex);
    return std::string_view(FText).substr(FStarts[index], FStarts[index + 1] - FStarts[index]);
}

const std::string& TLineBuffer::Get(int32_t AIndex) const
{
    const std::string_view view = GetView(AIndex);
    const auto [made, added] = FStrings.try_emplace(AIndex);
    if (added)
        made->second.assign(view);
    return made->second;
}

int32_t TLineBuffer::AddView(std::string_view AText)
{
    if (Count() == std::numeric_limits<int32_t>::max())
        RaiseListIndexError(Count());
    Changing();
    FText.append(AText);
    FStarts.push_back(FText.size());
    if (!FLineData.empty())
        FLineData.emplace_back();
    Changed();
    return Count() - 1;
}

void TLineBuffer::ReplaceText(int32_t AIndex, size_t AFrom, size_t ACount, std::string_view AText)
{
    const auto index = static_cast<size_t>(AIndex);
    FText.replace(FStarts[index] + AFrom, ACount, AText.data(), AText.size());
    // Unsigned arithmetic wraps, so adding the difference also moves the starts back.
    const size_t delta = AText.size() - ACount;
    for (size_t i = index + 1; i < FStarts.size(); ++i)
        FStarts[i] += delta;
}

void TLineBuffer::ShiftStrings(int32_t AFrom, int32_t ADelta)
{
    // Taken out and put back as nodes, so that a string handed out by Get stays where it is.
    std::vector<decltype(FStrings)::node_type> moved;
    for (auto it = FStrings.begin(); it != FStrings.end();) {
        if (it->first >= AFrom)
            moved.push_back(FStrings.extract(it++));
        else
            ++it;
    }
    for (auto& node : moved) {
        node.key() += ADelta;
        FStrings.insert(std::move(node));
    }
}

void TLineBuffer::Put(int32_t AIndex, const std::string& AValue)
{
    const std::string_view line = GetView(AIndex);
    Changing();
    if (const auto made = FStrings.find(AIndex); made != FStrings.end() && &made->second != &AValue)
        made->second = AValue;
    ReplaceText(AIndex, 0, line.size(), AValue);
    Changed();
}

void TLineBuffer::AppendToLine(int32_t AIndex, std::string_view AText)
{
    const std::string_view line = GetView(AIndex);
    Changing();
    const std::string text(AText); // AText may be this line's own string
    if (const auto made = FStrings.find(AIndex); made != FStrings.end())
        made->second.append(text);
    ReplaceText(AIndex, line.size(), 0, text);
    Changed();
}

TObject* TLineBuffer::GetObject(int32_t AIndex) const
{
    CheckIndex(AIndex);
    return FLineData.empty() ? nullptr : FLineData[static_cast<size_t>(AIndex)].Object;
}

void TLineBuffer::PutObject(int32_t AIndex, TObject* AObject)
{
    if (GetObject(AIndex) == AObject)
        return;
    Changing();
    FLineData.resize(FStarts.size() - 1);
    FLineData[static_cast<size_t>(AIndex)].Object = AObject;
    Changed();
}

intptr_t TLineBuffer::GetTag(int32_t AIndex) const
{
    CheckIndex(AIndex);
    return FLineData.empty() ? 0 : FLineData[static_cast<size_t>(AIndex)].Tag;
}

void TLineBuffer::PutTag(int32_t AIndex, intptr_t ATag)
{
    if (GetTag(AIndex) == ATag)
        return;
    FLineData.resize(FStarts.size() - 1);
    FLineData[static_cast<size_t>(AIndex)].Tag = ATag;
}

void TLineBuffer::Insert(int32_t AIndex, std::string AValue)
{
    if (AIndex == Count()) {
        AddView(AValue);
        return;
    }
    CheckIndex(AIndex);
    Changing();
    const auto index = static_cast<size_t>(AIndex);
    FStarts.insert(FStarts.begin() + AIndex, FStarts[index]);
    ReplaceText(AIndex, 0, 0, AValue);
    if (!FLineData.empty())
        FLineData.insert(FLineData.begin() + AIndex, TLineData{});
    ShiftStrings(AIndex, 1);
    Changed();
}

void TLineBuffer::Delete(int32_t AIndex)
{
    const std::string_view line = GetView(AIndex);
    Changing();
    ReplaceText(AIndex, 0, line.size(), {});
    FStarts.erase(FStarts.begin() + AIndex);
    if (!FLineData.empty())
        FLineData.erase(FLineData.begin() + AIndex);
    FStrings.erase(AIndex);
    ShiftStrings(AIndex + 1, -1);
    Changed();
}

void TLineBuffer::Clear()
{
    if (Count() == 0)
        return;
    Changing();
    decltype(FText)().swap(FText);
    decltype(FStarts){0}.swap(FStarts);
    std::vector<TLineData>().swap(FLineData);
    FStrings.clear();
    Changed();
}

void TLineBuffer::SetCapacity(int32_t ACapacity)
{
    // As TStringList: room grows at least by half, however little each step asks for.
    const auto wanted = static_cast<size_t>(std::max(ACapacity, 0)) + 1;
    if (wanted > FStarts.capacity())
        FStarts.reserve(std::max(wanted, FStarts.capacity() + FStarts.capacity() / 2));
}

void TLineBuffer::ReserveText(int64_t ABytes)
{
    if (ABytes <= 0 || static_cast<uint64_t>(ABytes) >= FText.max_size() - FText.size())
        return;
    const size_t wanted = FText.size() + static_cast<size_t>(ABytes);
    if (wanted > FText.capacity())
        FText.reserve(wanted);
}

} // namespace ix
