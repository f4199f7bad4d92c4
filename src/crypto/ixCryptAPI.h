// The CryptoAPI functions the library calls, under their own names and parameters. The platform
// layer links them in directly, so binding them is a matter of naming them here: the hash, HMAC,
// signature and certificate code calls them unqualified from namespace ix.
#pragma once

#include "platform/ixOsCrypt.h"

namespace ix {

// Providers, hashes and keys ("advapi32.dll").
using os::CryptAcquireContextA;
using os::CryptCreateHash;
using os::CryptDestroyHash;
using os::CryptDestroyKey;
using os::CryptExportKey;
using os::CryptGenKey;
using os::CryptGenRandom;
using os::CryptGetHashParam;
using os::CryptGetKeyParam;
using os::CryptGetUserKey;
using os::CryptHashData;
using os::CryptImportKey;
using os::CryptReleaseContext;
using os::CryptSignHashA;
using os::CryptVerifySignatureA;

// Certificates, encoded objects, chains ("crypt32.dll").
using os::CertDuplicateCertificateContext;
using os::CertFindExtension;
using os::CertFreeCertificateChain;
using os::CertFreeCertificateContext;
using os::CertGetCertificateChain;
using os::CertGetCertificateContextProperty;
using os::CertGetEnhancedKeyUsage;
using os::CertGetNameStringW;
using os::CertGetPublicKeyLength;
using os::CertVerifyCertificateChainPolicy;
using os::CryptDecodeObject;
using os::CryptDecodeObjectEx;
using os::CryptEncodeObjectEx;
using os::CryptFindOIDInfo;
using os::CryptImportPublicKeyInfoEx;

} // namespace ix
