#pragma once
// Move-only owner of a POSIX file descriptor (internal to the platform layer).

#include <unistd.h>

#include <utility>

namespace ix::os::internal {

class TUniqueFd
{
public:
    TUniqueFd() noexcept = default;
    explicit TUniqueFd(int AFd) noexcept : FFd(AFd) {}
    TUniqueFd(TUniqueFd&& AOther) noexcept : FFd(AOther.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& AOther) noexcept
    {
        Reset(AOther.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    ~TUniqueFd() { Reset(); }

    int Get() const noexcept { return FFd; }
    bool IsValid() const noexcept { return FFd >= 0; }

    /// Gives up ownership; this object becomes invalid.
    int Release() noexcept { return std::exchange(FFd, -1); }

    /// Closes the owned descriptor, if any, and takes AFd.
    void Reset(int AFd = -1) noexcept
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = AFd;
    }

private:
    int FFd = -1;
};

} // namespace ix::os::internal
