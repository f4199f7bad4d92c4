#include "core/ixBlockAllocator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/ixOsKernel.h"

namespace ix {

void* AllocateBlock(size_t ASize)
{
    void* block = ASize < LargeBlockSize
        ? std::malloc(std::max<size_t>(ASize, 1))
        : os::VirtualAlloc(nullptr, ASize, os::MEM_COMMIT | os::MEM_RESERVE, os::PAGE_READWRITE);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void FreeBlock(void* ABlock, size_t ASize) noexcept
{
    if (!ABlock)
        return;
    if (ASize < LargeBlockSize)
        std::free(ABlock);
    else
        os::VirtualFree(ABlock, 0, os::MEM_RELEASE);
}

void* ResizeBlock(void* ABlock, size_t AOldSize, size_t ANewSize, size_t AKeep)
{
    if (AOldSize < LargeBlockSize && ANewSize < LargeBlockSize) {
        void* block = std::realloc(ABlock, ANewSize);
        if (!block)
            throw std::bad_alloc();
        return block;
    }
    void* block = AllocateBlock(ANewSize);
    if (ABlock)
        std::memcpy(block, ABlock, std::min({AKeep, AOldSize, ANewSize}));
    FreeBlock(ABlock, AOldSize);
    return block;
}

} // namespace ix
