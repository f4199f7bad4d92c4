#include "message/internal/ixBodyData.h"

#include <algorithm>
#include <cstring>

#include "core/ixSysUtils.h"

namespace ix {

namespace {

constexpr int64_t LineBreakSize = 2;
constexpr char LineBreak[] = "\r\n";

int64_t LineBytes(const TStrings& ASource, int32_t AIndex)
{
    return static_cast<int64_t>(ASource.GetView(AIndex).size()) + LineBreakSize;
}

[[noreturn]] void RaiseReadOnly()
{
    throw EListError("Line range is read-only");
}

} // namespace

// ---- TixLineRange -------------------------------------------------------------------------

TixLineRange::TixLineRange(const TStrings& ABase, int32_t AFirst, int32_t ACount)
    : FBase(&ABase), FFirst(std::max(AFirst, 0)), FCount(std::clamp(ACount, 0, ABase.Count() - FFirst))
{
    // A window over a window reads the underlying list, so nesting costs nothing per line.
    if (const auto* outer = dynamic_cast<const TixLineRange*>(&ABase)) {
        FBase = outer->FBase;
        FFirst += outer->FFirst;
    }
}

int32_t TixLineRange::BaseIndex(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= FCount)
        RaiseListIndexError(AIndex);
    return FFirst + AIndex;
}

const std::string& TixLineRange::Get(int32_t AIndex) const
{
    return FBase->Get(BaseIndex(AIndex));
}

std::string_view TixLineRange::GetView(int32_t AIndex) const
{
    return FBase->GetView(BaseIndex(AIndex));
}

TObject* TixLineRange::GetObject(int32_t AIndex) const
{
    return FBase->GetObject(BaseIndex(AIndex));
}

intptr_t TixLineRange::GetTag(int32_t AIndex) const
{
    return FBase->GetTag(BaseIndex(AIndex));
}

void TixLineRange::Put(int32_t, const std::string&)
{
    RaiseReadOnly();
}

void TixLineRange::PutObject(int32_t, TObject*)
{
    RaiseReadOnly();
}

void TixLineRange::PutTag(int32_t, intptr_t)
{
    RaiseReadOnly();
}

void TixLineRange::Insert(int32_t, std::string)
{
    RaiseReadOnly();
}

void TixLineRange::Delete(int32_t)
{
    RaiseReadOnly();
}

void TixLineRange::Clear()
{
    RaiseReadOnly();
}

// ---- TixBodyDataStream --------------------------------------------------------------------

void TixBodyDataStream::Reset(const TStrings& ASource)
{
    Clear();
    FSource = &ASource;
    FReleaseLines = nullptr;
    FReleasing = false;
}

void TixBodyDataStream::SetReleaseTarget(TStringList* ALines, int32_t AOffset) noexcept
{
    FReleaseLines = ALines;
    FReleaseOffset = AOffset;
    FReleasing = false;
}

void TixBodyDataStream::ReleaseLine(int32_t AIndex)
{
    std::string().swap(FReleaseLines->Line(FReleaseOffset + AIndex));
}

void TixBodyDataStream::ReleaseLines()
{
    if (!FReleaseLines)
        return;
    for (const TRun& run : FRuns)
        for (int32_t i = 0; i < run.Count; ++i)
            ReleaseLine(run.First + i);
}

void TixBodyDataStream::Clear() noexcept
{
    FRuns.clear();
    FSize = FFullSize = FPosition = 0;
    FRun = 0;
    FLine = 0;
    FOffset = 0;
}

void TixBodyDataStream::AddLine(int32_t AIndex)
{
    const int64_t bytes = LineBytes(*FSource, AIndex);
    const bool atEnd = FPosition == FFullSize;
    if (!FRuns.empty() && FRuns.back().First + FRuns.back().Count == AIndex) {
        ++FRuns.back().Count;
        FRuns.back().Bytes += bytes;
    } else {
        FRuns.push_back({AIndex, 1, bytes});
    }
    FFullSize += bytes;
    FSize = FFullSize;
    // A cursor at the end stays where it was, which is now the start of the new line.
    if (atEnd)
        MoveTo(FPosition);
}

bool TixBodyDataStream::GetSingleRun(int32_t& AFirst, int32_t& ACount) const noexcept
{
    if (FRuns.size() != 1)
        return false;
    AFirst = FRuns.front().First;
    ACount = FRuns.front().Count;
    return true;
}

void TixBodyDataStream::MoveTo(int64_t APosition)
{
    FPosition = APosition;
    FRun = 0;
    FLine = 0;
    FOffset = 0;
    int64_t left = APosition;
    if (APosition * 2 > FFullSize) {
        // Near the end (the final line break is looked at there): walk back from the end.
        left = FFullSize - APosition;
        FRun = FRuns.size();
        while (left > 0 && FRun > 0) {
            const TRun& run = FRuns[FRun - 1];
            if (left <= run.Bytes) {
                --FRun;
                FLine = run.Count;
                while (left > 0) {
                    --FLine;
                    left -= LineBytes(*FSource, run.First + FLine);
                }
                FOffset = static_cast<size_t>(-left);
                return;
            }
            left -= run.Bytes;
            --FRun;
        }
        return;
    }
    while (FRun < FRuns.size() && left >= FRuns[FRun].Bytes) {
        left -= FRuns[FRun].Bytes;
        ++FRun;
    }
    if (FRun == FRuns.size())
        return;
    const TRun& run = FRuns[FRun];
    while (left >= LineBytes(*FSource, run.First + FLine)) {
        left -= LineBytes(*FSource, run.First + FLine);
        ++FLine;
    }
    FOffset = static_cast<size_t>(left);
}

int64_t TixBodyDataStream::Read(void* ABuffer, int64_t ACount)
{
    auto* out = static_cast<char*>(ABuffer);
    int64_t want = std::min(ACount, FSize - FPosition);
    int64_t done = 0;
    while (want > 0 && FRun < FRuns.size()) {
        const TRun& run = FRuns[FRun];
        const std::string_view line = FSource->GetView(run.First + FLine);
        const size_t lineSize = line.size();
        if (FOffset < lineSize) {
            const size_t take = static_cast<size_t>(std::min<int64_t>(want, static_cast<int64_t>(lineSize - FOffset)));
            std::memcpy(out + done, line.data() + FOffset, take);
            FOffset += take;
            done += static_cast<int64_t>(take);
            want -= static_cast<int64_t>(take);
        }
        while (want > 0 && FOffset >= lineSize && FOffset < lineSize + LineBreakSize) {
            out[done++] = LineBreak[FOffset - lineSize];
            ++FOffset;
            --want;
        }
        if (FOffset == lineSize + LineBreakSize) {
            if (FReleasing)
                ReleaseLine(run.First + FLine);
            FOffset = 0;
            if (++FLine == run.Count) {
                FLine = 0;
                ++FRun;
            }
        }
    }
    FPosition += done;
    return done;
}

int64_t TixBodyDataStream::Write(const void*, int64_t)
{
    return 0;
}

int64_t TixBodyDataStream::Seek(int64_t AOffset, TSeekOrigin AOrigin)
{
    int64_t target = AOffset;
    if (AOrigin == soCurrent)
        target += FPosition;
    else if (AOrigin == soEnd)
        target += FSize;
    target = std::clamp<int64_t>(target, 0, FSize);
    if (target != FPosition)
        MoveTo(target);
    return FPosition;
}

void TixBodyDataStream::SetSize(int64_t ANewSize)
{
    if (ANewSize < 0 || ANewSize > FFullSize)
        throw EStreamError("Body data cannot grow");
    FSize = ANewSize;
    if (FPosition > FSize)
        MoveTo(FSize);
}

} // namespace ix
