// Memory for blocks that can grow large (message text, decoded data): small blocks come from
// the heap, large ones are pages of their own that the system can back with large pages.
#pragma once

#include <cstddef>
#include <limits>
#include <new>

namespace ix {

/// Blocks of this size and more are pages of their own instead of heap memory.
inline constexpr size_t LargeBlockSize = size_t(2) << 20;

/// A block of ASize bytes (not zeroed, ASize > 0); raises std::bad_alloc when there is no room.
void* AllocateBlock(size_t ASize);
/// Frees ABlock (nullptr: nothing), a block of ASize bytes from AllocateBlock or ResizeBlock.
void FreeBlock(void* ABlock, size_t ASize) noexcept;
/// Gives a block of ANewSize bytes for ABlock (AOldSize bytes, nullptr for none) holding its
/// first AKeep bytes, and frees ABlock when it moved; raises std::bad_alloc when there is no room.
void* ResizeBlock(void* ABlock, size_t AOldSize, size_t ANewSize, size_t AKeep);

/// A standard allocator over AllocateBlock, for strings and tables that can grow large.
template <typename T>
class TBlockAllocator
{
public:
    using value_type = T;

    TBlockAllocator() noexcept = default;
    template <typename U>
    TBlockAllocator(const TBlockAllocator<U>&) noexcept // NOLINT(google-explicit-constructor)
    {
    }

    /// Room for ACount values.
    T* allocate(size_t ACount)
    {
        if (ACount > std::numeric_limits<size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(AllocateBlock(ACount * sizeof(T)));
    }
    /// Frees room for ACount values from allocate.
    void deallocate(T* AValues, size_t ACount) noexcept { FreeBlock(AValues, ACount * sizeof(T)); }

    template <typename U>
    bool operator==(const TBlockAllocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace ix
