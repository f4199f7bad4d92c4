// The content of a body on its way from DecodeData to DataAdded.
#pragma once

#include <cstdint>
#include <memory>

#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "message/internal/ixBodyData.h"

namespace ix {

/// A body's destination stream that holds either bytes written into it (decoded content) or,
/// when the content needs no decoding, the window of source lines it stands in: read as bytes
/// on demand, or taken as lines where they stand (a multipart body's nested parse).
class TixPartContent final : public TStream
{
public:
    /// Empty content of its own.
    TixPartContent() = default;

    /// Makes the content the lines of AData (one run of source lines, cut as AData is cut).
    void ShareLines(TixBodyDataStream& AData);
    /// The shared lines as reading the bytes back as lines gives them: their source, the first
    /// index and the count. False when the content is bytes of its own.
    bool GetLines(const TStrings*& ASource, int32_t& AFirst, int32_t& ACount) const noexcept;

    /// Reads the shared lines as bytes, or the bytes of its own.
    int64_t Read(void* ABuffer, int64_t ACount) override;
    /// Writing to shared lines first turns them into bytes of its own.
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    /// Moves in the shared lines or in the bytes of its own.
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    /// The size of the shared lines (as cut) or of the bytes of its own.
    int64_t GetSize() override;
    /// Shared lines can be cut; growing them first turns them into bytes of its own.
    void SetSize(int64_t ANewSize) override;

private:
    /// The shared lines, read as bytes.
    TixBodyDataStream& View();
    /// Copies the shared lines into bytes of its own, keeping the position.
    void OwnBytes();

    const TStrings* FSource = nullptr;
    int32_t FFirst = 0;
    int32_t FCount = 0;
    int64_t FSize = 0;
    bool FShared = false;
    std::unique_ptr<TixBodyDataStream> FView;
    TMemoryStream FBytes;
};

} // namespace ix
