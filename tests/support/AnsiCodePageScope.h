// Selecting the ANSI code page in tests: for one scope, or for every test of a binary whose
// texts are written in that page's bytes.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "platform/ixOsKernel.h"

namespace ix::test {

/// Selects an ANSI code page until the end of the scope, then restores the one before.
class TAnsiCodePageScope
{
public:
    explicit TAnsiCodePageScope(os::UINT ACodePage) : FSaved(os::GetACP()) { os::SetAnsiCodePage(ACodePage); }
    ~TAnsiCodePageScope() { os::SetAnsiCodePage(FSaved); }
    TAnsiCodePageScope(const TAnsiCodePageScope&) = delete;
    TAnsiCodePageScope& operator=(const TAnsiCodePageScope&) = delete;

private:
    os::UINT FSaved;
};

/// Selects an ANSI code page for all the tests of a binary (register it with
/// testing::AddGlobalTestEnvironment).
class TAnsiCodePageEnvironment : public testing::Environment
{
public:
    explicit TAnsiCodePageEnvironment(os::UINT ACodePage) : FCodePage(ACodePage) {}
    void SetUp() override { FSelected.emplace(FCodePage); }
    void TearDown() override { FSelected.reset(); }

private:
    os::UINT FCodePage;
    std::optional<TAnsiCodePageScope> FSelected;
};

} // namespace ix::test
