#include "dkim/ixDkimConfig.h"

#include "crypto/ixCryptHash.h"
#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkimCanonicalizer.h"

namespace ix {

TixDkimConfig::TixDkimConfig()
{
    RegisterClass("sha1", ConfigClassOf<TixSha1>());
    RegisterClass("sha256", ConfigClassOf<TixSha256>());
    RegisterClass("rsa-sha1", ConfigClassOf<TixSignatureRsaSha1>());
    RegisterClass("rsa-sha256", ConfigClassOf<TixSignatureRsaSha256>());
    RegisterClass("simple", ConfigClassOf<TixDkimSimpleCanonicalizer>());
    RegisterClass("relaxed", ConfigClassOf<TixDkimRelaxedCanonicalizer>());
    RegisterClass("rsa", ConfigClassOf<TixCryptApiRsaKey>());
    RegisterClass("ed25519-sha256", ConfigClassOf<TixSignatureEd25519Sha256>());
    RegisterClass("ed25519", ConfigClassOf<TixCryptApiEd25519Key>());
}

} // namespace ix
