#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

using namespace ix::os;

namespace {

std::string SystemText(DWORD ACode)
{
    char buffer[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ACode, 0,
        buffer, sizeof buffer, nullptr);
    return std::string(buffer, length);
}

} // namespace

TEST(PlatformKernel, LastErrorBelongsToTheCallingThread)
{
    SetLastError(1234);
    DWORD seenByOther = 1;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(99);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(PlatformKernel, VirtualAllocGivesZeroedPagesLargeBlocksOnLargePageBoundaries)
{
    for (const SIZE_T size : {SIZE_T(1), SIZE_T(5000), SIZE_T(2) << 20, (SIZE_T(5) << 20) + 1}) {
        auto* block = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (size >= (SIZE_T(2) << 20) ? SIZE_T(2) << 20 : 4096), 0u) << size;
        EXPECT_EQ(block[0] | block[size - 1], 0) << size;
        block[size - 1] = 1;
        EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE)) << size;
    }
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_READWRITE), nullptr);
    EXPECT_FALSE(VirtualFree(nullptr, 0, MEM_RELEASE));
}

TEST(PlatformErrorTexts, KernelAndErrnoCodesHaveTheirTextWithLineEndUnlessABufferIsShortOrTheSourceUnsupported)
{
    const std::pair<DWORD, const char*> table[] = {
        {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
        {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
        {110, "Connection timed out\r\n"}, // ETIMEDOUT: the C library's text
        {3999, ""},                         // in errno range, but no such errno
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(SystemText(code), text) << code;
    SetLastError(0);
    EXPECT_EQ(SystemText(0x00777777), "");
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);

    // A short buffer and other sources than the system are refused.
    char buffer[8];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 10061, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "x", 0, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    char wide[64];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 6, 0, wide,
        sizeof wide, nullptr);
    EXPECT_EQ(std::string(wide, length), "The handle is invalid.");
}
