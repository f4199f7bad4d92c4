// The content lines of a body as the message parser hands them to the decoders: read in
// place from the source lines, never copied into one block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ixStreams.h"
#include "core/ixStrings.h"

namespace ix {

/// A read-only window of ACount lines of another list, starting at line AFirst. A window over
/// a window reads the underlying list directly.
class TixLineRange final : public TStrings
{
public:
    TixLineRange(const TStrings& ABase, int32_t AFirst, int32_t ACount);

    int32_t Count() const noexcept override { return FCount; }
    const std::string& Get(int32_t AIndex) const override;
    std::string_view GetView(int32_t AIndex) const override;
    TObject* GetObject(int32_t AIndex) const override;
    intptr_t GetTag(int32_t AIndex) const override;
    // The window cannot be changed: these raise EListError "Line range is read-only".
    void Put(int32_t AIndex, const std::string& AValue) override;
    void PutObject(int32_t AIndex, TObject* AObject) override;
    void PutTag(int32_t AIndex, intptr_t ATag) override;
    void Insert(int32_t AIndex, std::string AValue) override;
    void Delete(int32_t AIndex) override;
    void Clear() override;
    /// The list the window reads (never itself a window) and the index there of line 0.
    const TStrings& GetBase() const noexcept { return *FBase; }
    int32_t GetFirst() const noexcept { return FFirst; }

private:
    int32_t BaseIndex(int32_t AIndex) const;

    const TStrings* FBase;
    int32_t FFirst;
    int32_t FCount;
};

/// Lines of a source list gathered for one body, read as bytes: each line followed by CR LF.
/// Lines are added by index and kept as runs of consecutive indexes. The stream can be made
/// shorter (SetSize) but not written.
class TixBodyDataStream final : public TStream
{
public:
    TixBodyDataStream() = default;

    /// Empties the stream and reads lines of ASource from now on.
    void Reset(const TStrings& ASource);
    /// Appends line AIndex of the source.
    void AddLine(int32_t AIndex);
    /// Forgets the lines.
    void Clear() noexcept;
    bool IsEmpty() const noexcept { return FRuns.empty(); }
    /// When the lines are one run: its first index and line count.
    bool GetSingleRun(int32_t& AFirst, int32_t& ACount) const noexcept;
    const TStrings* GetSource() const noexcept { return FSource; }
    /// Lets the stream free the memory of source lines it is done with: line I of the source
    /// is line AOffset + I of ALines (null: nothing is freed). Reset forgets it.
    void SetReleaseTarget(TStringList* ALines, int32_t AOffset) noexcept;
    /// While on, Read frees each line once it has read past it; a freed line reads as empty,
    /// so the stream must not be read again before that point.
    void SetReleasing(bool AValue) noexcept { FReleasing = AValue && FReleaseLines; }
    /// Frees every line of the stream (when a release target is set).
    void ReleaseLines();

    int64_t Read(void* ABuffer, int64_t ACount) override;
    /// Writes nothing (returns 0).
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    int64_t GetSize() override { return FSize; }
    /// Cuts the data to ANewSize bytes; a larger size raises EStreamError.
    void SetSize(int64_t ANewSize) override;

private:
    struct TRun
    {
        int32_t First;
        int32_t Count;
        int64_t Bytes;
    };
    /// Moves the read cursor to byte APosition of the full data.
    void MoveTo(int64_t APosition);
    void ReleaseLine(int32_t AIndex);

    const TStrings* FSource = nullptr;
    TStringList* FReleaseLines = nullptr;
    int32_t FReleaseOffset = 0;
    bool FReleasing = false;
    std::vector<TRun> FRuns;
    int64_t FSize = 0;
    int64_t FFullSize = 0;
    int64_t FPosition = 0;
    // Read cursor: run, line within the run, offset within the line and its CR LF.
    size_t FRun = 0;
    int32_t FLine = 0;
    size_t FOffset = 0;
};

} // namespace ix
