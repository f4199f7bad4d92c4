// Ed25519 keys behind CryptoAPI key handles (RFC 8032), for the CryptoAPI key functions
// (internal: not installed). Each function returns ERROR_SUCCESS or the error code to set.
#pragma once

#include "platform/internal/ixOsCryptHandles.h"

#include <span>

namespace ix::os::internal {

/// Whether ABlob's header names an Ed25519 key (CALG_ED25519).
bool IsEd25519Blob(std::span<const BYTE> ABlob) noexcept;

/// The key of an Ed25519 PUBLICKEYBLOB or PRIVATEKEYBLOB of exactly its size.
DWORD Ed25519BlobToKey(std::span<const BYTE> ABlob, TCryptKey& AKey);

/// A new Ed25519 key pair (not yet exportable).
DWORD GenerateEd25519Key(TCryptKey& AKey);

/// The PRIVATEKEYBLOB of an Ed25519 private key.
DWORD Ed25519PrivateBlob(const TCryptKey& AKey, TSecretBytes& ABlob);

/// The size of an Ed25519 PRIVATEKEYBLOB.
size_t Ed25519PrivateBlobSize() noexcept;

/// The PUBLICKEYBLOB of the raw public key of a SubjectPublicKeyInfo (its bit string).
DWORD Ed25519PublicKeyInfoToBlob(std::span<const BYTE> APublicKey, TSecretBytes& ABlob);

/// The signature of AData (PureEdDSA) with the private key AKey.
DWORD Ed25519Sign(const TCryptKey& AKey, std::span<const BYTE> AData, std::vector<BYTE>& ASignature);

/// Whether ASignature is AKey's signature of AData.
bool Ed25519Verify(const TCryptKey& AKey, std::span<const BYTE> AData, std::span<const BYTE> ASignature);

} // namespace ix::os::internal
