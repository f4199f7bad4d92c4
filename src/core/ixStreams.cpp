#include "core/ixStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/ixBlockAllocator.h"

namespace ix {

// ---- TStream ------------------------------------------------------------------------------

int64_t TStream::GetSize()
{
    const int64_t position = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* ABuffer, int64_t ACount)
{
    if (ACount > 0 && Read(ABuffer, ACount) != ACount)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* ABuffer, int64_t ACount)
{
    if (ACount > 0 && Write(ABuffer, ACount) != ACount)
        throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& ASource, int64_t ACount)
{
    if (ACount == 0) {
        ASource.SetPosition(0);
        ACount = ASource.GetSize();
    }
    if (auto* memory = dynamic_cast<TMemoryStream*>(&ASource)) {
        const int64_t available = std::min(ACount, memory->Size() - memory->Position());
        if (available < ACount)
            throw EReadError("Stream read error");
        WriteBuffer(memory->Memory() + memory->Position(), ACount);
        memory->Seek(ACount, soCurrent);
        return ACount;
    }
    constexpr int64_t ChunkSize = 64 * 1024;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(ACount, ChunkSize)));
    int64_t left = ACount;
    while (left > 0) {
        const int64_t n = std::min(left, ChunkSize);
        ASource.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return ACount;
}

// ---- TMemoryStream ------------------------------------------------------------------------

TMemoryStream::~TMemoryStream()
{
    FreeBlock(FMemory, static_cast<size_t>(FCapacity));
}

void TMemoryStream::SetCapacity(int64_t ACapacity)
{
    if (ACapacity == FCapacity)
        return;
    if (ACapacity == 0) {
        FreeBlock(FMemory, static_cast<size_t>(FCapacity));
        FMemory = nullptr;
    } else {
        FMemory = static_cast<uint8_t*>(ResizeBlock(
            FMemory, static_cast<size_t>(FCapacity), static_cast<size_t>(ACapacity), static_cast<size_t>(FSize)));
    }
    FCapacity = ACapacity;
}

void TMemoryStream::Reserve(int64_t ACapacity)
{
    if (ACapacity > FCapacity)
        SetCapacity(ACapacity);
}

int64_t TMemoryStream::Read(void* ABuffer, int64_t ACount)
{
    if (ACount <= 0 || FPosition >= FSize)
        return 0;
    const int64_t n = std::min(ACount, FSize - FPosition);
    std::memcpy(ABuffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* ABuffer, int64_t ACount)
{
    if (ACount <= 0)
        return 0;
    const int64_t end = FPosition + ACount;
    if (end > FCapacity)
        SetCapacity(std::max(end, FCapacity + FCapacity / 2 + 4096));
    if (FPosition > FSize)
        std::memset(FMemory + FSize, 0, static_cast<size_t>(FPosition - FSize));
    std::memcpy(FMemory + FPosition, ABuffer, static_cast<size_t>(ACount));
    FPosition = end;
    FSize = std::max(FSize, end);
    return ACount;
}

int64_t TMemoryStream::Seek(int64_t AOffset, TSeekOrigin AOrigin)
{
    int64_t base = 0;
    if (AOrigin == soCurrent)
        base = FPosition;
    else if (AOrigin == soEnd)
        base = FSize;
    FPosition = std::max<int64_t>(0, base + AOffset);
    return FPosition;
}

void TMemoryStream::SetSize(int64_t ANewSize)
{
    ANewSize = std::max<int64_t>(0, ANewSize);
    if (ANewSize > FCapacity)
        SetCapacity(ANewSize);
    if (ANewSize > FSize)
        std::memset(FMemory + FSize, 0, static_cast<size_t>(ANewSize - FSize));
    FSize = ANewSize;
    FPosition = std::min(FPosition, FSize);
}

void TMemoryStream::Clear()
{
    SetCapacity(0);
    FSize = 0;
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& AStream)
{
    AStream.SetPosition(0);
    const int64_t size = AStream.GetSize();
    SetSize(size);
    if (size > 0)
        AStream.ReadBuffer(FMemory, size);
    FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& AStream)
{
    AStream.WriteBuffer(FMemory, FSize);
}

void TMemoryStream::LoadFromFile(const std::string& AFileName)
{
    TFileStream stream(AFileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TMemoryStream::SaveToFile(const std::string& AFileName)
{
    TFileStream stream(AFileName, fmCreate);
    SaveToStream(stream);
}

// ---- TFileStream --------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& AFileName, uint16_t AMode) : FFileName(AFileName)
{
    const char* mode = "rb";
    if (AMode == fmCreate)
        mode = "w+b";
    else if ((AMode & 3) == fmOpenWrite || (AMode & 3) == fmOpenReadWrite)
        mode = "r+b";
    FFile.reset(std::fopen(AFileName.c_str(), mode));
    if (!FFile) {
        const std::string reason = std::strerror(errno);
        if (AMode == fmCreate)
            throw EFCreateError("Cannot create file \"" + AFileName + "\". " + reason);
        throw EFOpenError("Cannot open file \"" + AFileName + "\". " + reason);
    }
}

TFileStream::~TFileStream() = default;

int64_t TFileStream::Read(void* ABuffer, int64_t ACount)
{
    if (ACount <= 0)
        return 0;
    if (FLastWasWrite) {
        std::fflush(FFile.get());
        FLastWasWrite = false;
    }
    return static_cast<int64_t>(std::fread(ABuffer, 1, static_cast<size_t>(ACount), FFile.get()));
}

int64_t TFileStream::Write(const void* ABuffer, int64_t ACount)
{
    if (ACount <= 0)
        return 0;
    if (!FLastWasWrite) {
        std::fseek(FFile.get(), 0, SEEK_CUR);
        FLastWasWrite = true;
    }
    return static_cast<int64_t>(std::fwrite(ABuffer, 1, static_cast<size_t>(ACount), FFile.get()));
}

int64_t TFileStream::Seek(int64_t AOffset, TSeekOrigin AOrigin)
{
    const int whence = AOrigin == soBeginning ? SEEK_SET : (AOrigin == soCurrent ? SEEK_CUR : SEEK_END);
    if (std::fseek(FFile.get(), static_cast<long>(AOffset), whence) != 0)
        return -1;
    FLastWasWrite = false;
    return static_cast<int64_t>(std::ftell(FFile.get()));
}

void TFileStream::SetSize(int64_t ANewSize)
{
    std::fflush(FFile.get());
    const int64_t position = GetPosition();
    std::error_code error;
    std::filesystem::resize_file(FFileName, static_cast<uintmax_t>(std::max<int64_t>(0, ANewSize)), error);
    if (error)
        throw EWriteError("Stream write error");
    Seek(std::min(position, ANewSize), soBeginning);
}

} // namespace ix
