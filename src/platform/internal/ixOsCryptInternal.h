// Certificate contexts and their OpenSSL objects, for the platform's TLS code (internal: not
// installed). Nothing here transfers ownership unless it says so.
#pragma once

#include "platform/ixOsCrypt.h"

#include <openssl/types.h>
#include <openssl/x509.h>

#include <vector>

namespace ix::os::internal {

/// The certificate of a context (borrowed; null for an unknown context).
X509* CertContextCertificate(PCCERT_CONTEXT AContext) noexcept;

/// The private key a context carries (borrowed); null when it has none.
EVP_PKEY* CertContextPrivateKey(PCCERT_CONTEXT AContext) noexcept;

/// The certificates of the context's store (borrowed), e.g. the chain to send with it.
std::vector<X509*> CertContextStoreCertificates(PCCERT_CONTEXT AContext);

/// Makes a context of ACert (up-referenced) whose store holds the certificates of AChain (each
/// up-referenced; AChain may be null and may repeat ACert, which is then left out) and that
/// carries AKey (up-referenced; may be null). Release it with CertFreeCertificateContext.
/// Returns null (last error set) when ACert cannot be encoded.
PCCERT_CONTEXT CertCreateContextFromX509(X509* ACert, STACK_OF(X509)* AChain, EVP_PKEY* AKey);

} // namespace ix::os::internal
