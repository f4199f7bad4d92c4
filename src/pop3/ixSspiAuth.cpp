#include "pop3/ixSspiAuth.h"

#include "core/ixStreams.h"
#include "platform/ixOsKernel.h"
#include "util/ixSecret.h"

#include <string_view>

namespace ix {

namespace {

/// AText's bytes with a terminating zero.
std::vector<unsigned char> TerminatedCopy(const std::string& AText)
{
    std::vector<unsigned char> copy(AText.begin(), AText.end());
    copy.push_back(0);
    return copy;
}

void WipeBuffer(std::vector<unsigned char>& ABuffer) noexcept
{
    os::SecureZeroMemory(ABuffer.data(), ABuffer.size());
    ABuffer.clear();
    ABuffer.shrink_to_fit();
}

/// Points one text of the record at ACopy, or leaves it null when AText is empty.
void SetRecordText(const std::string& AText, std::vector<unsigned char>& ACopy, unsigned char*& AField,
    os::ULONG& ALength)
{
    if (AText.empty())
        return;
    ACopy = TerminatedCopy(AText);
    AField = ACopy.data();
    ALength = static_cast<os::ULONG>(AText.size());
}

bool IsNoHandle(const os::SecHandle& AHandle) noexcept
{
    return AHandle.dwLower == 0 && AHandle.dwUpper == 0;
}

} // namespace

// ---- TixAuthIdentity -------------------------------------------------------------------------

TixAuthIdentity::TixAuthIdentity(const std::string& AUser, const std::string& APassword)
    : FPassword(APassword)
{
    size_t at = AUser.find('\\');
    if (at == std::string::npos)
        at = AUser.find('/');
    if (at == std::string::npos)
        FUser = AUser;
    else
    {
        FDomain = AUser.substr(0, at);
        FUser = AUser.substr(at + 1);
    }
    FIdentity.Flags = os::SEC_WINNT_AUTH_IDENTITY_ANSI;
}

TixAuthIdentity::~TixAuthIdentity()
{
    Release();
    WipeString(FPassword);
}

void TixAuthIdentity::Release() noexcept
{
    WipeBuffer(FUserCopy);
    WipeBuffer(FDomainCopy);
    WipeBuffer(FPasswordCopy);
    FIdentity = {};
    FIdentity.Flags = os::SEC_WINNT_AUTH_IDENTITY_ANSI;
}

os::SEC_WINNT_AUTH_IDENTITY_A* TixAuthIdentity::GetIdentity()
{
    Release();
    SetRecordText(FUser, FUserCopy, FIdentity.User, FIdentity.UserLength);
    SetRecordText(FDomain, FDomainCopy, FIdentity.Domain, FIdentity.DomainLength);
    SetRecordText(FPassword, FPasswordCopy, FIdentity.Password, FIdentity.PasswordLength);
    return &FIdentity;
}

// ---- TixNtAuthSspi ---------------------------------------------------------------------------

TixNtAuthSspi::~TixNtAuthSspi()
{
    Release();
}

void TixNtAuthSspi::Release() noexcept
{
    if (IsNoHandle(FContext) && IsNoHandle(FCredentials))
        return;
    // Handles exist only after the table was loaded, so this does not load (or raise).
    os::PSecurityFunctionTableA table = nullptr;
    try
    {
        table = GetFunctionTable();
    }
    catch (...) // unreachable with a handle held; nothing can be released without a table
    {
    }
    if (table != nullptr && !IsNoHandle(FContext))
        table->DeleteSecurityContext(&FContext);
    if (table != nullptr && !IsNoHandle(FCredentials))
        table->FreeCredentialsHandle(&FCredentials);
    FContext = {};
    FCredentials = {};
}

// ---- TixNtAuthClientSspi ---------------------------------------------------------------------

bool TixNtAuthClientSspi::GenChallenge(const std::string& APackage, TStream& ABuffer,
    const std::string& ATargetName, TixAuthIdentity* AIdentity)
{
    os::PSecurityFunctionTableA table = GetFunctionTable();
    os::SecBuffer output{0, os::SECBUFFER_TOKEN, nullptr};
    os::SecBufferDesc outputDesc{os::SECBUFFER_VERSION, 1, &output};
    TixContextBuffer outputOwner(table);

    const bool first = ABuffer.Remaining() <= 0;
    std::vector<uint8_t> input;
    os::SecBuffer inputToken{0, os::SECBUFFER_TOKEN, nullptr};
    os::SecBufferDesc inputDesc{os::SECBUFFER_VERSION, 1, &inputToken};
    os::TimeStamp expiry = 0;
    if (first)
    {
        Release();
        const os::SECURITY_STATUS status = table->AcquireCredentialsHandleA(nullptr,
            const_cast<os::SEC_CHAR*>(APackage.c_str()), os::SECPKG_CRED_OUTBOUND, nullptr,
            AIdentity != nullptr ? AIdentity->GetIdentity() : nullptr, nullptr, nullptr, &FCredentials, &expiry);
        if (status != os::SEC_E_OK)
        {
            FCredentials = {};
            RaiseSspiError(status);
        }
    }
    else
    {
        input.resize(static_cast<size_t>(ABuffer.Remaining()));
        ABuffer.Read(input.data(), static_cast<int64_t>(input.size()));
        inputToken.cbBuffer = static_cast<os::ULONG>(input.size());
        inputToken.pvBuffer = input.data();
    }

    os::ULONG attributes = 0;
    os::SECURITY_STATUS status = table->InitializeSecurityContextA(&FCredentials, first ? nullptr : &FContext,
        const_cast<os::SEC_CHAR*>(ATargetName.c_str()), ContextRequirements, 0, 0, first ? nullptr : &inputDesc, 0,
        &FContext, &outputDesc, &attributes, &expiry);
    *outputOwner.Receive() = output.pvBuffer;

    const bool complete = status == os::SEC_E_OK || status == os::SEC_I_COMPLETE_NEEDED;
    if (status == os::SEC_I_COMPLETE_AND_CONTINUE || status == os::SEC_I_COMPLETE_NEEDED)
    {
        status = table->CompleteAuthToken(&FContext, &outputDesc);
        if (status != os::SEC_E_OK)
            RaiseSspiError(status);
    }
    if (status != os::SEC_E_OK && status != os::SEC_I_CONTINUE_NEEDED)
        RaiseSspiError(status);

    if (output.pvBuffer != nullptr && output.cbBuffer > 0)
    {
        ABuffer.SetSize(0);
        ABuffer.SetPosition(0);
        ABuffer.Write(output.pvBuffer, output.cbBuffer);
        ABuffer.SetPosition(0);
    }
    return complete;
}

} // namespace ix
