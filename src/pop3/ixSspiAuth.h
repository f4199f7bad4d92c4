#pragma once
// The NTLM login through the system's security interface: the credentials handed to the
// security package, and the client context that turns the server's tokens into the next one.

#include "platform/ixOsSecurity.h"
#include "tls/ixSspi.h"

#include <string>
#include <vector>

namespace ix {

class TStream;

/// A user's credentials for a security package, with the identity record built from them.
/// Every buffer that held a text is zeroed before it is released.
class TixAuthIdentity
{
public:
    /// Splits AUser at its "\" (or, without one, at its "/"): the text before is the domain,
    /// the text after the user.
    TixAuthIdentity(const std::string& AUser, const std::string& APassword);
    ~TixAuthIdentity();
    TixAuthIdentity(const TixAuthIdentity&) = delete;
    TixAuthIdentity& operator=(const TixAuthIdentity&) = delete;

    /// The user name without its domain.
    const std::string& GetUser() const noexcept { return FUser; }
    /// The domain; empty when the user text named none.
    const std::string& GetDomain() const noexcept { return FDomain; }
    /// The password as given.
    const std::string& GetPassword() const noexcept { return FPassword; }

    /// The identity record (ANSI, flags 1) over fresh copies of the three texts; an empty
    /// text gives a null pointer and length 0. Valid until the next call or destruction.
    os::SEC_WINNT_AUTH_IDENTITY_A* GetIdentity();

private:
    /// Zeroes and releases the copies and clears the record (flags back to 1).
    void Release() noexcept;

    std::string FUser;
    std::string FPassword;
    std::string FDomain;
    std::vector<unsigned char> FUserCopy;
    std::vector<unsigned char> FDomainCopy;
    std::vector<unsigned char> FPasswordCopy;
    os::SEC_WINNT_AUTH_IDENTITY_A FIdentity{};
};

/// A security context of an authentication package with its credentials; both are released
/// when the object goes.
class TixNtAuthSspi : public TixSspi
{
public:
    /// Releases the context and the credentials.
    ~TixNtAuthSspi() override;

protected:
    /// Deletes the context and frees the credentials that are held; zeroes both handles.
    void Release() noexcept;

    /// The credentials handle; zero when none is held.
    os::CredHandle FCredentials{};
    /// The security context handle; zero when none is held.
    os::CtxtHandle FContext{};
};

/// The client side of an authentication exchange (NTLM).
class TixNtAuthClientSspi : public TixNtAuthSspi
{
public:
    /// The context requirements of every step: delegate, mutual authentication, replay and
    /// sequence detection, confidentiality, allocated memory, connection, integrity.
    static constexpr os::ULONG ContextRequirements = 0x1091F;

    /// One step. ABuffer holds the server's last token from its position (nothing on the
    /// first step, which acquires credentials for APackage with AIdentity, or the logged-on
    /// user's when it is null). On return ABuffer holds the token to send from position 0, or
    /// is unchanged when the package made none. True when the context is complete. Raises
    /// EixSSPIError with the status of a failing call.
    bool GenChallenge(const std::string& APackage, TStream& ABuffer, const std::string& ATargetName,
        TixAuthIdentity* AIdentity);
};

} // namespace ix
