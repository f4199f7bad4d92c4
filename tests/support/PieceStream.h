// A read-only stream that is not a memory stream and hands out at most a given number of bytes
// per read, so that the decoders take their buffered path and meet every split of their input.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "core/ixStreams.h"

namespace ix::test {

class TPieceStream : public TStream
{
public:
    TPieceStream(std::string AData, int64_t APiece) : FData(std::move(AData)), FPiece(APiece) {}

    int64_t Read(void* ABuffer, int64_t ACount) override
    {
        const int64_t n = std::min({ACount, FPiece, Size() - FPosition});
        if (n <= 0)
            return 0;
        std::memcpy(ABuffer, FData.data() + FPosition, static_cast<size_t>(n));
        FPosition += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override
    {
        const int64_t base = AOrigin == soBeginning ? 0 : AOrigin == soCurrent ? FPosition : Size();
        FPosition = std::clamp<int64_t>(base + AOffset, 0, Size());
        return FPosition;
    }
    void SetSize(int64_t) override {}

private:
    int64_t Size() const noexcept { return static_cast<int64_t>(FData.size()); }

    std::string FData;
    int64_t FPiece;
    int64_t FPosition = 0;
};

} // namespace ix::test
