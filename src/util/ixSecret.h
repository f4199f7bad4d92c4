// Texts that carry secrets (passwords, tokens, the protocol lines that hold them): their bytes
// are zeroed before the memory that held them is released.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ix {

class TMemoryStream;

/// Zeroes the bytes of AText before it is cleared (a secret that is no longer needed).
void WipeString(std::string& AText) noexcept;
/// Zeroes the bytes of AStream (from its start to its size); the size stays.
void WipeStream(TMemoryStream& AStream) noexcept;

/// A text that carries a secret, zeroed when it is released. It is neither copied nor moved, so
/// that no other buffer is left with the bytes.
class TSecretString
{
public:
    TSecretString() = default;
    /// APrefix followed by ASecret, built in one buffer of their joint size. APrefix is public
    /// (a command word, a user name): PublicLength.
    TSecretString(std::string_view APrefix, std::string_view ASecret);
    ~TSecretString() { WipeString(FText); }
    TSecretString(const TSecretString&) = delete;
    TSecretString& operator=(const TSecretString&) = delete;

    /// The text; whatever is assigned to it is zeroed with it.
    std::string& Text() noexcept { return FText; }
    /// The text.
    const std::string& Text() const noexcept { return FText; }
    /// The length of the text's public start (the prefix it was built with); the rest is secret.
    size_t PublicLength() const noexcept { return FPublicLength; }

private:
    std::string FText;
    size_t FPublicLength = 0;
};

/// Zeroes ASize bytes at AData when it goes out of scope, if AArmed: a buffer that may hold a
/// secret, on every way out.
class TWipeOnExit
{
public:
    /// Zeroes the ASize bytes at AData on destruction when AArmed; nothing otherwise.
    TWipeOnExit(void* AData, size_t ASize, bool AArmed) noexcept : FData(AData), FSize(AArmed ? ASize : 0) {}
    ~TWipeOnExit();
    TWipeOnExit(const TWipeOnExit&) = delete;
    TWipeOnExit& operator=(const TWipeOnExit&) = delete;

private:
    void* FData;
    size_t FSize;
};

} // namespace ix
