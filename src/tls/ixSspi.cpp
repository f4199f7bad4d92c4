#include "tls/ixSspi.h"

#include "platform/ixOsKernel.h"

#include <array>
#include <string_view>

namespace ix {

namespace {

struct TLibraryError
{
    int32_t Code;
    const char* Message;
};

constexpr std::array<TLibraryError, 8> LibraryErrors{{
    {-1, "Could not load the dll (schannel.dll, security.dll or secur32.dll)"},
    {-2, "Could not get security initialization routine"},
    {-3, "Could not initialize the security package"},
    {-4, "AcquireCredentials failed"},
    {-5, "None of needed security package was found"},
    {-6, "Could not query package information"},
    {-11, "Error occured when authenticating server credentials"},
    {20, "Out of memory"},
}};

/// The system's text for ACode with trailing characters #0..#32 and "." removed.
std::string SystemText(int32_t ACode)
{
    std::array<char, 512> buffer{};
    const os::DWORD length = os::FormatMessageA(os::FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
        static_cast<os::DWORD>(ACode), 0, buffer.data(), static_cast<os::DWORD>(buffer.size()),
        nullptr);
    std::string_view text(buffer.data(), length);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

std::string GetSspiErrorText(int32_t ACode, bool& AFound)
{
    AFound = true;
    for (const TLibraryError& item : LibraryErrors)
        if (item.Code == ACode)
            return item.Message;
    std::string text = SystemText(ACode);
    if (Trim(text).empty())
    {
        AFound = false;
        text = "The unknown error was occured: " + IntToHex(static_cast<uint32_t>(ACode), 1);
    }
    return text;
}

std::string GetSspiErrorText(int32_t ACode)
{
    bool found;
    return GetSspiErrorText(ACode, found);
}

void RaiseSspiError(int32_t ACode, int32_t AFallbackCode)
{
    bool found;
    std::string text = GetSspiErrorText(ACode, found);
    if (!found)
        text = GetSspiErrorText(AFallbackCode);
    throw EixSSPIError(std::move(text), ACode);
}

void RaiseSspiError(int32_t ACode)
{
    RaiseSspiError(ACode, ACode);
}

TixSspiStatus CheckStatus(os::SECURITY_STATUS AStatus, int32_t AFallbackCode)
{
    switch (AStatus)
    {
    case os::SEC_E_OK:
        return tsOk;
    case os::SEC_I_CONTINUE_NEEDED:
        return tsContinueNeeded;
    case os::SEC_I_COMPLETE_NEEDED:
        return tsCompleteNeeded;
    case os::SEC_I_CONTEXT_EXPIRED:
        return tsContextExpired;
    case os::SEC_I_RENEGOTIATE:
        return tsRenegotiate;
    case os::SEC_E_INCOMPLETE_MESSAGE:
        return tsIncompleteMessage;
    default:
        RaiseSspiError(AStatus, AFallbackCode);
    }
}

TixSspiStatus CheckStatus(os::SECURITY_STATUS AStatus)
{
    return CheckStatus(AStatus, AStatus);
}

TixSspi::~TixSspi()
{
    if (FModule != nullptr)
        os::FreeLibrary(FModule);
}

os::PSecurityFunctionTableA TixSspi::GetFunctionTable()
{
    if (FFunctionTable != nullptr)
        return FFunctionTable;
    if (FModule == nullptr)
        for (const char* name : {"security.dll", "schannel.dll", "secur32.dll"})
        {
            const os::HMODULE module = os::LoadLibraryA(name);
            if (reinterpret_cast<uintptr_t>(module) > 32)
            {
                FModule = module;
                break;
            }
        }
    if (FModule == nullptr)
        RaiseSspiError(-1);
    const auto init = reinterpret_cast<os::INIT_SECURITY_INTERFACE_A>(
        os::GetProcAddress(FModule, "InitSecurityInterfaceA"));
    if (init == nullptr)
        RaiseSspiError(-2);
    FFunctionTable = init();
    if (FFunctionTable == nullptr)
        RaiseSspiError(-3);
    return FFunctionTable;
}

TixContextBuffer::~TixContextBuffer()
{
    if (FMemory != nullptr)
        FTable->FreeContextBuffer(FMemory);
}

}  // namespace ix
