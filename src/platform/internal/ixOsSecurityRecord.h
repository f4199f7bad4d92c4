#pragma once
// Framing of TLS records (RFC 8446 section 5.1, RFC 5246 section 6.2) in received bytes
// (internal: not installed). The security interface hands whole records to the TLS engine, so
// that an incomplete record is never half consumed.

#include <cstddef>
#include <cstdint>
#include <span>

namespace ix::os::internal {

/// Bytes of a record header: content type, protocol version, length.
constexpr size_t TlsRecordHeaderSize = 5;
/// The largest record body a peer may send (2^14 plus the TLS 1.2 expansion allowance).
constexpr size_t TlsMaxRecordBody = 16384 + 2048;
/// The largest plaintext of one record.
constexpr size_t TlsMaxPlaintext = 16384;

enum class TTlsFrameKind : uint8_t
{
    Complete,    ///< a whole record starts the bytes; Size is its length
    Incomplete,  ///< the bytes end inside the first record; Missing bytes are still needed
    Malformed,   ///< the header is not a TLS record header
};

struct TTlsFrame
{
    TTlsFrameKind Kind;
    size_t Size;
    size_t Missing;
};

/// Frames the first record of ABytes.
inline TTlsFrame FrameTlsRecord(std::span<const uint8_t> ABytes) noexcept
{
    if (ABytes.size() >= 1 && (ABytes[0] < 20 || ABytes[0] > 23))
        return {TTlsFrameKind::Malformed, 0, 0};
    if (ABytes.size() >= 2 && ABytes[1] != 3)
        return {TTlsFrameKind::Malformed, 0, 0};
    if (ABytes.size() < TlsRecordHeaderSize)
        return {TTlsFrameKind::Incomplete, 0, TlsRecordHeaderSize - ABytes.size()};
    const size_t body = size_t(ABytes[3]) << 8 | ABytes[4];
    if (body > TlsMaxRecordBody)
        return {TTlsFrameKind::Malformed, 0, 0};
    const size_t size = TlsRecordHeaderSize + body;
    if (ABytes.size() < size)
        return {TTlsFrameKind::Incomplete, 0, size - ABytes.size()};
    return {TTlsFrameKind::Complete, size, 0};
}

}  // namespace ix::os::internal
