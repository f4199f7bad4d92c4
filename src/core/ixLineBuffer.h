// A list of lines kept as one block of text with a table of where each line starts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/ixBlockAllocator.h"
#include "core/ixStrings.h"

namespace ix {

/// A list of lines whose text stands in one block: adding a line copies its bytes once and
/// makes no string of its own (a line costs its bytes and one table entry), GetView reads a
/// line where it stands, and Get makes a string for a line the first time it is asked for.
/// Changes before the last line (Put, Insert, Delete, AppendToLine) move the text behind them:
/// correct, but slower than in a TStringList.
/// Get keeps the strings it makes inside the list, so even reading is a change as far as
/// threads are concerned: threads that share a line buffer serialise their calls.
class TLineBuffer : public TStrings
{
public:
    TLineBuffer();
    ~TLineBuffer() override;

    int32_t Count() const noexcept override { return static_cast<int32_t>(FStarts.size()) - 1; }
    /// Line AIndex as a string, made on the first call and kept until the line changes.
    const std::string& Get(int32_t AIndex) const override;
    std::string_view GetView(int32_t AIndex) const override;
    void Put(int32_t AIndex, const std::string& AValue) override;
    void AppendToLine(int32_t AIndex, std::string_view AText) override;
    TObject* GetObject(int32_t AIndex) const override;
    void PutObject(int32_t AIndex, TObject* AObject) override;
    intptr_t GetTag(int32_t AIndex) const override;
    void PutTag(int32_t AIndex, intptr_t ATag) override;
    int32_t Add(std::string AValue) override { return AddView(AValue); }
    void Insert(int32_t AIndex, std::string AValue) override;
    void Delete(int32_t AIndex) override;
    /// Removes every line and frees the text.
    void Clear() override;
    void SetCapacity(int32_t ACapacity) override;

    int32_t AddView(std::string_view AText) override;
    void ReserveText(int64_t ABytes) override;
    /// The bytes of all lines, without line breaks.
    int64_t GetTextSize() const noexcept { return static_cast<int64_t>(FText.size()); }

private:
    struct TLineData
    {
        TObject* Object = nullptr;
        intptr_t Tag = 0;
    };
    void CheckIndex(int32_t AIndex) const;
    /// Replaces ACount bytes at line AIndex's offset AFrom with AText and moves the starts of
    /// the lines after it.
    void ReplaceText(int32_t AIndex, size_t AFrom, size_t ACount, std::string_view AText);
    /// Renumbers the strings made for lines at or after AFrom by ADelta, each kept where it is.
    void ShiftStrings(int32_t AFrom, int32_t ADelta);

    std::basic_string<char, std::char_traits<char>, TBlockAllocator<char>> FText;
    std::vector<size_t, TBlockAllocator<size_t>> FStarts; // one per line and one past the last: line I is [I, I + 1)
    std::vector<TLineData> FLineData; // empty, or one per line
    mutable std::unordered_map<int32_t, std::string> FStrings; // the lines Get was asked for
};

} // namespace ix
