// The shell's "open" verb over xdg-open.
#include "platform/ixOsShell.h"

#include "platform/internal/ixOsFail.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace ix::os {

namespace {

constexpr const char* OpenCommand = "xdg-open";

HINSTANCE ShellResult(INT ACode) noexcept
{
    return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(ACode));
}

HINSTANCE ShellFailure(INT ACode) noexcept
{
    return internal::Fail(static_cast<DWORD>(ACode), ShellResult(ACode));
}

bool IsEmpty(LPCSTR AText) noexcept
{
    return AText == nullptr || *AText == '\0';
}

/// Collects the handler's exit status so that it leaves no zombie; the caller does not wait.
void ReapDetached(pid_t APid)
{
    std::thread([APid] {
        int status = 0;
        while (waitpid(APid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

/// Owns a posix_spawn_file_actions_t for one spawn.
class TSpawnActions
{
public:
    TSpawnActions() noexcept { FValid = posix_spawn_file_actions_init(&FActions) == 0; }
    ~TSpawnActions() { if (FValid) posix_spawn_file_actions_destroy(&FActions); }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;

    bool IsValid() const noexcept { return FValid; }
    int ChangeDirectory(LPCSTR ADirectory) noexcept
    {
        return posix_spawn_file_actions_addchdir_np(&FActions, ADirectory);
    }
    const posix_spawn_file_actions_t* Get() const noexcept { return &FActions; }

private:
    posix_spawn_file_actions_t FActions{};
    bool FValid = false;
};

} // namespace

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
    LPCSTR lpDirectory, INT nShowCmd)
{
    (void)hwnd;
    (void)nShowCmd;
    if (!IsEmpty(lpOperation) && std::strcmp(lpOperation, "open") != 0)
        return ShellFailure(SE_ERR_NOASSOC);
    if (!IsEmpty(lpParameters))
        return ShellFailure(SE_ERR_NOASSOC);
    if (IsEmpty(lpFile))
        return ShellFailure(static_cast<INT>(ERROR_FILE_NOT_FOUND));
    TSpawnActions actions;
    if (!actions.IsValid() || (!IsEmpty(lpDirectory) && actions.ChangeDirectory(lpDirectory) != 0))
        return ShellFailure(SE_ERR_ACCESSDENIED);
    char* argv[] = {const_cast<char*>(OpenCommand), const_cast<char*>(lpFile), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, OpenCommand, actions.Get(), nullptr, argv, environ);
    if (rc == ENOENT)
        return ShellFailure(static_cast<INT>(ERROR_FILE_NOT_FOUND));
    if (rc != 0)
        return ShellFailure(SE_ERR_ACCESSDENIED);
    ReapDetached(pid);
    return ShellResult(42);
}

} // namespace ix::os
