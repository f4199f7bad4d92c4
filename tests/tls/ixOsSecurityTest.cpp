// The security interface's own behaviour beneath the TLS contexts: its modules, packages and
// credentials, and the forms of a handshake that the TLS stream never produces (a legacy
// credentials block, names that are no host names).
#include "platform/ixOsSecurity.h"

#include "platform/ixOsKernel.h"
#include "platform/ixOsModules.h"
#include "support/TlsTestServer.h"
#include "tls/ixSspiTls.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ix::os {
namespace {

using test::Fill;
using test::TTlsTestServer;

PSecurityFunctionTableA Table()
{
    return InitSecurityInterfaceA();
}

// ---- loading and packages ---------------------------------------------------------------------

TEST(SecurityInterface, EachModuleNameLoadsAndExportsTheInitRoutineUntilFreedAndPackagesAreSchannelAndNtlm)
{
    for (const char* name : {"security.dll", "schannel.dll", "SECUR32.DLL"})
    {
        const HMODULE module = LoadLibraryA(name);
        ASSERT_GT(reinterpret_cast<uintptr_t>(module), 32u) << name;
        const auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
            GetProcAddress(module, "InitSecurityInterfaceA"));
        ASSERT_NE(init, nullptr);
        EXPECT_EQ(init(), InitSecurityInterfaceA());
        EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
        EXPECT_EQ(FreeLibrary(module), TRUE);
        // A freed handle is refused.
        EXPECT_EQ(GetProcAddress(module, "InitSecurityInterfaceA"), nullptr);
        EXPECT_EQ(FreeLibrary(module), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    // The packages are Schannel and NTLM.
    ULONG count = 0;
    PSecPkgInfoA packages = nullptr;
    ASSERT_EQ(Table()->EnumerateSecurityPackagesA(&count, &packages), SEC_E_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(packages[0].Name, "Microsoft Unified Security Protocol Provider");
    EXPECT_STREQ(packages[1].Name, "NTLM");
    EXPECT_EQ(Table()->FreeContextBuffer(packages), SEC_E_OK);
    EXPECT_EQ(Table()->FreeContextBuffer(packages), SEC_E_INVALID_HANDLE);
}

TEST(SecurityInterface, CredentialsAreRefusedForUnknownPackagesBlocksAndProtocolsAndBogusHandlesEverywhere)
{
    CredHandle handle{};
    SCHANNEL_CRED block{};
    block.dwVersion = SCHANNEL_CRED_VERSION;
    const auto acquire = [&](const char* APackage, void* AData, ULONG AUse = SECPKG_CRED_OUTBOUND) {
        return Table()->AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(APackage), AUse,
            nullptr, AData, nullptr, nullptr, &handle, nullptr);
    };
    EXPECT_EQ(acquire("Microsoft SSL 3.0", &block), SEC_E_SECPKG_NOT_FOUND);
    EXPECT_EQ(acquire("NTLM", nullptr, SECPKG_CRED_INBOUND), SEC_E_UNSUPPORTED_FUNCTION); // client side only
    block.grbitEnabledProtocols = SP_PROT_SSL2_CLIENT;
    EXPECT_EQ(acquire(UNISP_NAME_A, &block), SEC_E_ALGORITHM_MISMATCH);
    block.grbitEnabledProtocols = 0;
    EXPECT_EQ(acquire(UNISP_NAME_A, &block, SECPKG_CRED_INBOUND), SEC_E_NO_CREDENTIALS);
    block.dwVersion = 3;
    EXPECT_EQ(acquire(UNISP_NAME_A, &block), SEC_E_UNKNOWN_CREDENTIALS);
    EXPECT_EQ(Table()->FreeCredentialsHandle(&handle), SEC_E_INVALID_HANDLE);
    CtxtHandle bogus{12345, 0x43545854};
    SecPkgContext_StreamSizes sizes{};
    EXPECT_EQ(Table()->QueryContextAttributesA(&bogus, SECPKG_ATTR_STREAM_SIZES, &sizes), SEC_E_INVALID_HANDLE);
    EXPECT_EQ(Table()->DeleteSecurityContext(&bogus), SEC_E_INVALID_HANDLE);
    EXPECT_EQ(Table()->EncryptMessage(&bogus, 0, nullptr, 0), SEC_E_INVALID_HANDLE);
    EXPECT_EQ(Table()->DecryptMessage(&bogus, nullptr, 0, nullptr), SEC_E_INVALID_HANDLE);
}

// ---- handshakes -------------------------------------------------------------------------------

TEST(SecurityHandshakeForms, VersionFourBlockStopsAtTls12AndItsBitsChooseTheVersions)
{
    // The legacy block, driven the way its callers drive it; returns the client's last status.
    const auto handshake = [](SCHANNEL_CRED& ABlock, TTlsTestServer& AServer) {
        CredHandle credentials{};
        EXPECT_EQ(Table()->AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A),
                      SECPKG_CRED_OUTBOUND, nullptr, &ABlock, nullptr, nullptr, &credentials, nullptr),
            SEC_E_OK);
        CtxtHandle context{};
        std::string input;
        SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
        for (bool first = true; status == SEC_I_CONTINUE_NEEDED; first = false)
        {
            SecBuffer inBuffers[2] = {{static_cast<ULONG>(input.size()), SECBUFFER_TOKEN, input.data()},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
            SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
            ULONG attributes = 0;
            status = Table()->InitializeSecurityContextA(&credentials, first ? nullptr : &context,
                const_cast<SEC_CHAR*>("localhost"), 0xC11C, 0, 0, first ? nullptr : &inDesc, 0, &context,
                &outDesc, &attributes, nullptr);
            input = AServer.Handshake(std::string(static_cast<char*>(outBuffer.pvBuffer), outBuffer.cbBuffer));
            Table()->FreeContextBuffer(outBuffer.pvBuffer);
        }
        if (SecPkgContext_ConnectionInfo info{}; status == SEC_E_OK)
        {
            EXPECT_EQ(Table()->QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &info), SEC_E_OK);
            EXPECT_EQ(info.dwProtocol, DWORD(SP_PROT_TLS1_2_CLIENT));
            EXPECT_GE(info.dwCipherStrength, 128u);
            // A data buffer that claims bytes without holding any is refused, not read.
            SecBuffer buffers[4] = {{5, SECBUFFER_DATA, nullptr}, {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            EXPECT_EQ(Table()->DecryptMessage(&context, &desc, 0, nullptr), SEC_E_INVALID_TOKEN);
        }
        Table()->DeleteSecurityContext(&context);
        Table()->FreeCredentialsHandle(&credentials);
        return status;
    };
    SCHANNEL_CRED block{};
    block.dwVersion = SCHANNEL_CRED_VERSION;
    block.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION;
    TTlsTestServer tls13(13);
    ASSERT_EQ(handshake(block, tls13), SEC_E_OK);
    EXPECT_EQ(tls13.Version(), 12);
    block.grbitEnabledProtocols = SP_PROT_TLS1_3_CLIENT;
    TTlsTestServer tls12(12);
    EXPECT_EQ(handshake(block, tls12), SEC_E_ALGORITHM_MISMATCH);
}

TEST(SecurityHandshakeForms, ServerNameIsIndicatedForHostNamesOnly)
{
    TixCertificateList none(false);
    for (const auto& [target, expected] : std::vector<std::pair<const char*, std::string>>{
             {"localhost", "localhost"}, {"mail.example.org.", "mail.example.org"},
             {"127.0.0.1", ""}, {"::1", ""}, {"45123.5", ""}})
    {
        // The client's handshake against an OpenSSL server through memory.
        TixTlsClientSspi client;
        client.SetTargetName(target);
        TTlsTestServer server(13);
        TMemoryStream data;
        TixSspiStatus status = client.HandshakeStep(data, none, false);
        while (status == tsSendToken)
        {
            Fill(data, server.Handshake(std::string(data.View())));
            status = client.HandshakeStep(data, none, false);
        }
        EXPECT_EQ(status, tsExtraData) << target;
        EXPECT_TRUE(server.HandshakeDone()) << target;
        EXPECT_EQ(server.ServerName(), expected) << target;
    }
}

}  // namespace
}  // namespace ix::os
