// Byte streams with a position: the abstract stream, memory streams and file streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/ixClasses.h"

namespace ix {

/// What a Seek offset counts from: the start, the position, or the end.
enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

/// A sequence of bytes with a position. Read and Write move the position by what they moved.
class TStream : public TObject
{
public:
    /// Reads up to ACount bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* ABuffer, int64_t ACount) = 0;
    /// Writes up to ACount bytes; returns how many were written.
    virtual int64_t Write(const void* ABuffer, int64_t ACount) = 0;
    /// Moves the position; returns the new position.
    virtual int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) = 0;
    /// The number of bytes; here found by seeking to the end and back.
    virtual int64_t GetSize();
    /// Cuts or extends the stream to ANewSize bytes (new bytes are zero); the position stays,
    /// moved back to the end when it lies beyond it.
    virtual void SetSize(int64_t ANewSize) = 0;

    /// The position: bytes from the start.
    int64_t GetPosition() { return Seek(0, soCurrent); }
    void SetPosition(int64_t AValue) { Seek(AValue, soBeginning); }
    /// Bytes between the position and the end.
    int64_t Remaining() { return GetSize() - GetPosition(); }

    /// Reads exactly ACount bytes; raises EReadError "Stream read error" otherwise.
    void ReadBuffer(void* ABuffer, int64_t ACount);
    /// Writes exactly ACount bytes; raises EWriteError "Stream write error" otherwise.
    void WriteBuffer(const void* ABuffer, int64_t ACount);
    /// Writes the bytes of AText as WriteBuffer does.
    void WriteText(std::string_view AText) { WriteBuffer(AText.data(), static_cast<int64_t>(AText.size())); }
    /// Copies ACount bytes from ASource's position; ACount 0 copies the whole of ASource from its
    /// start. Returns the number of bytes copied.
    int64_t CopyFrom(TStream& ASource, int64_t ACount);
};

/// A stream over a growable block of memory.
class TMemoryStream : public TStream
{
public:
    /// An empty stream.
    TMemoryStream() = default;
    /// Frees the memory.
    ~TMemoryStream() override;

    int64_t Read(void* ABuffer, int64_t ACount) override;
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    /// The number of bytes.
    int64_t GetSize() override { return FSize; }
    /// As TStream::SetSize; a negative ANewSize counts as 0.
    void SetSize(int64_t ANewSize) override;

    /// The bytes; valid until the next change of size.
    uint8_t* Memory() noexcept { return FMemory; }
    /// The bytes; valid until the next change of size.
    const uint8_t* Memory() const noexcept { return FMemory; }
    /// The number of bytes, as GetSize.
    int64_t Size() const noexcept { return FSize; }
    /// The position, as GetPosition.
    int64_t Position() const noexcept { return FPosition; }
    /// The bytes from the start as a view.
    std::string_view View() const noexcept { return {reinterpret_cast<const char*>(FMemory), static_cast<size_t>(FSize)}; }
    /// Reserves room for ACapacity bytes without changing the size.
    void Reserve(int64_t ACapacity);
    /// Frees the memory: size and position 0.
    void Clear();
    /// Replaces the bytes with the whole of AStream (read from its start); position 0. Raises
    /// EReadError when AStream gives fewer bytes than its size.
    void LoadFromStream(TStream& AStream);
    /// Writes all the bytes to AStream at its position; raises EWriteError when it takes fewer.
    void SaveToStream(TStream& AStream);
    /// Replaces the bytes with those of the file AFileName; raises EFOpenError when it cannot
    /// be opened.
    void LoadFromFile(const std::string& AFileName);
    /// Writes all the bytes to the file AFileName, created or truncated; raises EFCreateError
    /// when it cannot be created.
    void SaveToFile(const std::string& AFileName);

private:
    void SetCapacity(int64_t ACapacity);

    uint8_t* FMemory = nullptr;
    int64_t FSize = 0;
    int64_t FPosition = 0;
    int64_t FCapacity = 0;
};

enum : uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

/// A stream over a file. fmCreate creates or truncates the file; the sharing modes are
/// accepted and have no effect here (files are not locked).
class TFileStream : public TStream
{
public:
    /// Raises EFCreateError "Cannot create file "name". reason" or EFOpenError
    /// "Cannot open file "name". reason".
    TFileStream(const std::string& AFileName, uint16_t AMode);
    /// Closes the file.
    ~TFileStream() override;

    int64_t Read(void* ABuffer, int64_t ACount) override;
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    /// As TStream::SetSize; raises EWriteError "Stream write error" when the file cannot be
    /// resized.
    void SetSize(int64_t ANewSize) override;
    /// The name the file was opened with.
    const std::string& FileName() const noexcept { return FFileName; }

private:
    struct TFileCloser
    {
        void operator()(std::FILE* AFile) const noexcept { std::fclose(AFile); }
    };
    std::unique_ptr<std::FILE, TFileCloser> FFile;
    std::string FFileName;
    bool FLastWasWrite = false;
};

} // namespace ix
