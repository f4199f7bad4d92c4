#pragma once
// Runs a program of this project as a user would, collecting its exit status, standard output
// and error; and a scratch folder for its files.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ix::test {

/// What a program run left.
struct TProgramRun
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

/// The bytes of the file APath; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& APath)
{
    std::ifstream file(APath, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

/// AProgram with AArgs (shell words) and no input; its output is captured in files under AScratch.
inline TProgramRun RunProgram(const std::string& AProgram, const std::string& AArgs,
    const std::filesystem::path& AScratch)
{
    const std::filesystem::path out = AScratch / "stdout", err = AScratch / "stderr";
    const std::string command =
        AProgram + " " + AArgs + " > '" + out.string() + "' 2> '" + err.string() + "' < /dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
}

/// A fresh folder removed at the end of the test.
class TScratch
{
public:
    explicit TScratch(const std::string& AName)
        : FPath(std::filesystem::temp_directory_path() / ("ix-" + AName + "-" + std::to_string(::getpid())))
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
