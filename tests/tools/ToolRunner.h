#pragma once
// Runs ixmail as a user would, collecting its exit status, standard output and error.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ix::test {

struct TToolRun
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

inline std::string ReadAll(const std::filesystem::path& APath)
{
    std::ifstream file(APath, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

/// ixmail with AArgs (shell words), its output captured in files under AScratch.
inline TToolRun RunTool(const std::string& AArgs, const std::filesystem::path& AScratch)
{
    const std::filesystem::path out = AScratch / "stdout", err = AScratch / "stderr";
    const std::string command =
        std::string(IX_MAIL_TOOL) + " " + AArgs + " > '" + out.string() + "' 2> '" + err.string() + "' < /dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
}

/// A fresh folder removed at the end of the test.
class TScratch
{
public:
    explicit TScratch(const std::string& AName)
        : FPath(std::filesystem::temp_directory_path() / ("ixmail-" + AName + "-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(FPath);
        std::filesystem::create_directories(FPath);
    }
    ~TScratch() { std::filesystem::remove_all(FPath); }
    const std::filesystem::path& Path() const noexcept { return FPath; }

private:
    std::filesystem::path FPath;
};

} // namespace ix::test
