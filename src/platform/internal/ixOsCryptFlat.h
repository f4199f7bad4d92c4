// Lays out CryptoAPI result structures in one flat block: the structures first, then the arrays
// and texts they point to. Pointers are kept as offsets until the block is copied to its final
// place, so the same layout serves the caller's buffer (size query, then data) and the buffers a
// certificate context owns.
#pragma once

#include "platform/ixOsCrypt.h"
#include "platform/ixOsKernel.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ix::os::internal {

/// Sets the last error and returns FALSE.
inline BOOL Fail(DWORD ACode) noexcept
{
    SetLastError(ACode);
    return FALSE;
}

/// The caller-buffer protocol of CryptoAPI: no buffer gives the size needed (TRUE); a short one
/// fails with ERROR_MORE_DATA and the size needed; otherwise AWrite fills ADest.
template <typename TWrite>
BOOL CopyToCaller(void* ADest, DWORD* ASize, size_t ANeeded, TWrite AWrite)
{
    if (ASize == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD given = *ASize;
    *ASize = static_cast<DWORD>(ANeeded);
    if (ADest == nullptr)
        return TRUE;
    if (given < ANeeded)
        return Fail(ERROR_MORE_DATA);
    AWrite(static_cast<BYTE*>(ADest));
    return TRUE;
}

class TCryptFlatBlock
{
public:
    /// Appends ASize zero bytes aligned for any structure; returns their offset.
    size_t Reserve(size_t ASize)
    {
        const size_t offset = (FBytes.size() + Alignment - 1) / Alignment * Alignment;
        FBytes.resize(offset + ASize);
        return offset;
    }

    /// Stores AValue at AOffset.
    template <typename T>
    void Put(size_t AOffset, const T& AValue)
    {
        std::memcpy(FBytes.data() + AOffset, &AValue, sizeof(T));
    }

    /// Appends AValue and returns its offset.
    template <typename T>
    size_t Add(const T& AValue)
    {
        const size_t offset = Reserve(sizeof(T));
        Put(offset, AValue);
        return offset;
    }

    /// Appends bytes; returns their offset.
    size_t AddBytes(const void* AData, size_t ASize)
    {
        const size_t offset = Reserve(ASize);
        if (ASize != 0)
            std::memcpy(FBytes.data() + offset, AData, ASize);
        return offset;
    }

    /// Appends a zero-terminated 8-bit text; returns its offset.
    size_t AddText(std::string_view AText)
    {
        const size_t offset = Reserve(AText.size() + 1);
        std::memcpy(FBytes.data() + offset, AText.data(), AText.size());
        return offset;
    }

    /// Appends a zero-terminated UTF-16 text; returns its offset.
    size_t AddWideText(std::u16string_view AText)
    {
        const size_t offset = Reserve((AText.size() + 1) * sizeof(char16_t));
        std::memcpy(FBytes.data() + offset, AText.data(), AText.size() * sizeof(char16_t));
        return offset;
    }

    /// Makes the pointer field at AFieldOffset point to ATargetOffset once the block is placed.
    void Link(size_t AFieldOffset, size_t ATargetOffset)
    {
        FLinks.push_back({AFieldOffset, ATargetOffset});
    }

    /// Appends a blob's bytes and points the blob at AOffset (a CRYPTOAPI_BLOB) to them.
    void PutBlob(size_t ABlobOffset, const void* AData, size_t ASize)
    {
        Put(ABlobOffset + offsetof(CRYPTOAPI_BLOB, cbData), static_cast<DWORD>(ASize));
        if (ASize != 0)
            Link(ABlobOffset + offsetof(CRYPTOAPI_BLOB, pbData), AddBytes(AData, ASize));
    }

    size_t Size() const noexcept { return FBytes.size(); }

    /// Copies the block to ADest (aligned for any structure) and resolves its pointers there.
    void PlaceAt(void* ADest) const
    {
        auto* dest = static_cast<BYTE*>(ADest);
        std::memcpy(dest, FBytes.data(), FBytes.size());
        for (const TLink& link : FLinks)
        {
            BYTE* target = dest + link.Target;
            std::memcpy(dest + link.Field, &target, sizeof(target));
        }
    }

    /// Places the block in a caller's buffer (CopyToCaller's protocol).
    BOOL CopyOut(void* ADest, DWORD* ASize) const
    {
        return CopyToCaller(ADest, ASize, FBytes.size(), [this](BYTE* ADest) { PlaceAt(ADest); });
    }

    /// Places the block in AStorage (resized to fit) and returns its start.
    BYTE* PlaceIn(std::vector<BYTE>& AStorage) const
    {
        // Heap blocks are aligned for any fundamental type.
        static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= Alignment);
        AStorage.resize(FBytes.size());
        PlaceAt(AStorage.data());
        return AStorage.data();
    }

private:
    static constexpr size_t Alignment = alignof(std::max_align_t);

    struct TLink
    {
        size_t Field;
        size_t Target;
    };

    std::vector<BYTE> FBytes;
    std::vector<TLink> FLinks;
};

}  // namespace ix::os::internal
