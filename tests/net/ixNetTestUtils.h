// Helpers shared by the net tests: reading until a text has arrived, and counting the
// process's descriptors and threads to find leaks.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include "core/ixStreams.h"
#include "net/ixSocket.h"

namespace ix {

/// Reads from AConnection into AData until AData holds AText (the connection's TimeOut bounds
/// each wait; a closed connection raises).
inline void ReadUntil(TixConnection& AConnection, TMemoryStream& AData, std::string_view AText)
{
    for (int reads = 0; reads < 10000 && AData.View().find(AText) == std::string_view::npos; ++reads)
        AConnection.ReadData(&AData);
    ASSERT_NE(AData.View().find(AText), std::string_view::npos) << "received: " << AData.View();
}

/// Open descriptors and running threads of this process.
struct TResourceCount
{
    size_t Descriptors = 0;
    size_t Threads = 0;
    bool operator==(const TResourceCount&) const = default;
};

inline std::ostream& operator<<(std::ostream& AStream, const TResourceCount& ACount)
{
    return AStream << ACount.Descriptors << " descriptors, " << ACount.Threads << " threads";
}

inline TResourceCount CountResources()
{
    const auto count = [](const char* APath) {
        size_t result = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(APath))
            ++result;
        return result;
    };
    return {count("/proc/self/fd"), count("/proc/self/task")};
}

} // namespace ix
