#pragma once
// Runs ixmail as a user would (see support/ProgramRun.h).

#include "support/ProgramRun.h"

namespace ix::test {

using TToolRun = TProgramRun;

/// ixmail with AArgs (shell words), its output captured in files under AScratch.
inline TToolRun RunTool(const std::string& AArgs, const std::filesystem::path& AScratch)
{
    return RunProgram(IX_MAIL_TOOL, AArgs, AScratch);
}

} // namespace ix::test
