#pragma once
// What the fuzz targets share: the fuzz bytes as text, a check that reports a finding, and
// running a step whose only allowed failures are the library's own errors.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

namespace ix::fuzz {

/// The bytes of AData from AFrom on, as text.
inline std::string Text(const uint8_t* AData, size_t ASize, size_t AFrom = 0)
{
    return AFrom >= ASize ? std::string() : std::string(reinterpret_cast<const char*>(AData + AFrom), ASize - AFrom);
}

/// Stops the run with a finding unless ACondition holds.
inline void Require(bool ACondition)
{
    if (!ACondition)
        std::abort();
}

/// Runs AStep; false when it raised one of the allowed errors TAllowed, true when it completed.
/// Any other exception escapes and stops the run.
template <typename... TAllowed, typename TStep>
bool Completes(TStep&& AStep)
{
    try {
        AStep();
        return true;
    } catch (const std::exception& e) {
        if ((false || ... || (dynamic_cast<const TAllowed*>(&e) != nullptr)))
            return false;
        throw;
    }
}

/// Runs the target's checks on one input; each target defines it.
void CheckInput(const uint8_t* AData, size_t ASize);

} // namespace ix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    ix::fuzz::CheckInput(AData, ASize);
    return 0;
}
