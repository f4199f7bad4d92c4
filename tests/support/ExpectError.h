#pragma once
// The error an action must raise: its class, its code and (returned for further checks) its message.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace ix::test {

/// Runs AAction, which must raise the error class TError with ACode; returns its message.
template <typename TError, typename TAction>
std::string ExpectError(TAction AAction, int32_t ACode)
{
    try
    {
        AAction();
    }
    catch (const TError& E)
    {
        EXPECT_EQ(E.ErrorCode(), ACode) << E.Message();
        return E.Message();
    }
    ADD_FAILURE() << "no error with code " << ACode;
    return {};
}

} // namespace ix::test
