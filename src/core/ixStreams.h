// Byte streams with a position: the abstract stream, memory streams and file streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/ixClasses.h"

namespace ix {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TStream : public TObject
{
public:
    /// Reads up to ACount bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* ABuffer, int64_t ACount) = 0;
    /// Writes up to ACount bytes; returns how many were written.
    virtual int64_t Write(const void* ABuffer, int64_t ACount) = 0;
    /// Moves the position; returns the new position.
    virtual int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) = 0;
    virtual int64_t GetSize();
    virtual void SetSize(int64_t ANewSize) = 0;

    int64_t GetPosition() { return Seek(0, soCurrent); }
    void SetPosition(int64_t AValue) { Seek(AValue, soBeginning); }
    /// Bytes between the position and the end.
    int64_t Remaining() { return GetSize() - GetPosition(); }

    /// Reads exactly ACount bytes; raises EReadError "Stream read error" otherwise.
    void ReadBuffer(void* ABuffer, int64_t ACount);
    /// Writes exactly ACount bytes; raises EWriteError "Stream write error" otherwise.
    void WriteBuffer(const void* ABuffer, int64_t ACount);
    void WriteText(std::string_view AText) { WriteBuffer(AText.data(), static_cast<int64_t>(AText.size())); }
    /// Copies ACount bytes from ASource's position; ACount 0 copies the whole of ASource from its
    /// start. Returns the number of bytes copied.
    int64_t CopyFrom(TStream& ASource, int64_t ACount);
};

/// A stream over a growable block of memory.
class TMemoryStream : public TStream
{
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;

    int64_t Read(void* ABuffer, int64_t ACount) override;
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    int64_t GetSize() override { return FSize; }
    void SetSize(int64_t ANewSize) override;

    /// The bytes; valid until the next change of size.
    uint8_t* Memory() noexcept { return FMemory; }
    const uint8_t* Memory() const noexcept { return FMemory; }
    int64_t Size() const noexcept { return FSize; }
    int64_t Position() const noexcept { return FPosition; }
    /// The bytes from the start as a view.
    std::string_view View() const noexcept { return {reinterpret_cast<const char*>(FMemory), static_cast<size_t>(FSize)}; }
    /// Reserves room for ACapacity bytes without changing the size.
    void Reserve(int64_t ACapacity);
    void Clear();
    void LoadFromStream(TStream& AStream);
    void SaveToStream(TStream& AStream);
    void LoadFromFile(const std::string& AFileName);
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
    ~TFileStream() override;

    int64_t Read(void* ABuffer, int64_t ACount) override;
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    void SetSize(int64_t ANewSize) override;
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
