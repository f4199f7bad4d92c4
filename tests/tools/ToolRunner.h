#pragma once
// Runs ixmail as a user would (see support/ProgramRun.h), and checks how it fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/ProgramRun.h"

namespace ix::test {

using TToolRun = TProgramRun;

/// ixmail with AArgs (shell words), its output captured in files under AScratch.
inline TToolRun RunTool(const std::string& AArgs, const std::filesystem::path& AScratch)
{
    return RunProgram(IX_MAIL_TOOL, AArgs, AScratch);
}

/// A command line that fails: its arguments, exit status and error text (the whole error line
/// when it ends with a line end, else a part of it).
struct TToolFailure
{
    std::string Args;
    int Status;
    std::string Error;
};

/// Runs each of AFailures: each ends with its status, no output and one error line starting
/// "ixmail: ".
inline void ExpectFailures(const std::vector<TToolFailure>& AFailures, const std::filesystem::path& AScratch)
{
    for (const TToolFailure& failure : AFailures)
    {
        const auto run = RunTool(failure.Args, AScratch);
        EXPECT_EQ(run.Status, failure.Status) << failure.Args;
        EXPECT_EQ(run.Out, "") << failure.Args;
        EXPECT_TRUE(run.Err.starts_with("ixmail: ")) << failure.Args << ": " << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        if (failure.Error.ends_with('\n'))
            EXPECT_EQ(run.Err, failure.Error) << failure.Args;
        else
            EXPECT_NE(run.Err.find(failure.Error), std::string::npos) << failure.Args << ": " << run.Err;
    }
}

} // namespace ix::test
