// Selecting the ANSI code page in tests: for one scope (a test's, or a whole binary's whose texts
// are written in that page's bytes).
#pragma once

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

} // namespace ix::test
