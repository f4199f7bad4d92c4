#pragma once
// Helpers shared by the TLS client tests: aiming a client at a loopback port, its TLS stream,
// and a certificate with its key from the test files.

#include "core/ixStreams.h"
#include "platform/ixOsCrypt.h"
#include "tls/ixCertificate.h"
#include "tls/ixTcpClientTls.h"
#include "tls/ixTlsStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ix::test {

/// Points AClient at 127.0.0.1:APort (or AHost) with implicit TLS and a bounded wait.
inline void AimTls(TixTcpClientTls& AClient, int32_t APort, const std::string& AHost = "127.0.0.1")
{
    AClient.SetServer(AHost);
    AClient.SetPort(APort);
    AClient.SetUseTLS(ctImplicit);
    AClient.SetTimeOut(10000);
}

/// The client's current stream as a TLS stream; fails the test when it is not one.
inline TixTlsNetworkStream& TlsStreamOf(TixTcpClientTls& AClient)
{
    auto* stream = dynamic_cast<TixTlsNetworkStream*>(AClient.GetConnection()->GetNetworkStream());
    EXPECT_NE(stream, nullptr);
    return *stream;
}

/// A certificate context with its private key, from a PEM certificate and key file pair.
inline std::unique_ptr<TixCertificate> LoadPemCertificate(const std::string& ACertFile,
    const std::string& AKeyFile)
{
    const os::PCCERT_CONTEXT context
        = os::CertCreateContextFromPemFile(ACertFile.c_str(), AKeyFile.c_str(), nullptr);
    EXPECT_NE(context, nullptr) << ACertFile;
    if (context == nullptr)
        return nullptr;
    auto certificate = std::make_unique<TixCertificate>(context);
    os::CertFreeCertificateContext(context);
    return certificate;
}

}  // namespace ix::test
