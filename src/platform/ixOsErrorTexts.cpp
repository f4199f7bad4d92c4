// The message texts that FormatMessageA serves, one section per API family. Texts are those
// the system shows for the codes (without the CR LF that FormatMessageA appends). Add a row for
// every code the library can raise; codes absent here fall back to the C library's text.

#include "platform/internal/ixErrorTexts.h"

#include <array>
#include <span>

namespace ix::os::internal {

namespace {

struct TErrorText
{
    DWORD Code;
    const char* Text;
};

// --- Kernel errors ------------------------------------------------------------------------
constexpr TErrorText KernelTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {14, "Not enough memory resources are available to complete this operation."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {183, "Cannot create a file when that file already exists."},
    {258, "The wait operation timed out."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {997, "Overlapped I/O operation is in progress."},
    {1004, "Invalid flags."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1400, "Invalid window handle."},
    {1460, "This operation returned because the timeout period expired."},
    {1816, "Not enough quota is available to process this command."},
};

// --- Windows Sockets errors ---------------------------------------------------------------
constexpr TErrorText SocketTexts[] = {
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10009, "The file handle supplied is not valid."},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10014, "The system detected an invalid pointer address in attempting to use a pointer argument in a call."},
    {10022, "An invalid argument was supplied."},
    {10024, "Too many open sockets."},
    {10035, "A non-blocking socket operation could not be completed immediately."},
    {10036, "A blocking operation is currently executing."},
    {10037, "An operation was attempted on a non-blocking socket that already had an operation in progress."},
    {10038, "An operation was attempted on something that is not a socket."},
    {10039, "A required address was omitted from an operation on a socket."},
    {10040, "A message sent on a datagram socket was larger than the internal message buffer or some other "
            "network limit, or the buffer used to receive a datagram into was smaller than the datagram itself."},
    {10041, "A protocol was specified in the socket function call that does not support the semantics of the "
            "socket type requested."},
    {10042, "An unknown, invalid, or unsupported option or level was specified in a getsockopt or setsockopt call."},
    {10043, "The requested protocol has not been configured into the system, or no implementation for it exists."},
    {10044, "The support for the specified socket type does not exist in this address family."},
    {10045, "The attempted operation is not supported for the type of object referenced."},
    {10046, "The protocol family has not been configured into the system or no implementation for it exists."},
    {10047, "An address incompatible with the requested protocol was used."},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {10049, "The requested address is not valid in its context."},
    {10050, "A socket operation encountered a dead network."},
    {10051, "A socket operation was attempted to an unreachable network."},
    {10052, "The connection has been broken due to keep-alive activity detecting a failure while the operation "
            "was in progress."},
    {10053, "An established connection was aborted by the software in your host machine."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10055, "An operation on a socket could not be performed because the system lacked sufficient buffer space "
            "or because a queue was full."},
    {10056, "A connect request was made on an already connected socket."},
    {10057, "A request to send or receive data was disallowed because the socket is not connected and (when "
            "sending on a datagram socket using a sendto call) no address was supplied."},
    {10058, "A request to send or receive data was disallowed because the socket had already been shut down in "
            "that direction with a previous shutdown call."},
    {10059, "Too many references to some kernel object."},
    {10060, "A connection attempt failed because the connected party did not properly respond after a period of "
            "time, or established connection failed because connected host has failed to respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
    {10062, "Cannot translate name."},
    {10063, "Name component or name was too long."},
    {10064, "A socket operation failed because the destination host was down."},
    {10065, "A socket operation was attempted to an unreachable host."},
    {10066, "Cannot remove a directory that is not empty."},
    {10067, "A Windows Sockets implementation may have a limit on the number of applications that may use it "
            "simultaneously."},
    {10068, "Ran out of quota."},
    {10069, "Ran out of disk quota."},
    {10070, "File handle reference is no longer available."},
    {10071, "Item is not available locally."},
    {10091, "WSAStartup cannot function at this time because the underlying system it uses to provide network "
            "services is currently unavailable."},
    {10092, "The Windows Sockets version requested is not supported."},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed."},
    {10101, "Returned by WSARecv or WSARecvFrom to indicate the remote party has initiated a graceful shutdown "
            "sequence."},
    {10102, "No more results can be returned by WSALookupServiceNext."},
    {10103, "A call to WSALookupServiceEnd was made while this call was still processing. The call has been "
            "canceled."},
    {10104, "The procedure call table is invalid."},
    {10105, "The requested service provider is invalid."},
    {10106, "The requested service provider could not be loaded or initialized."},
    {10107, "A system call that should never fail has failed."},
    {10108, "No such service is known. The service cannot be found in the specified name space."},
    {10109, "The specified class was not found."},
    {10110, "No more results can be returned by WSALookupServiceNext."},
    {10111, "A call to WSALookupServiceEnd was made while this call was still processing. The call has been "
            "canceled."},
    {10112, "A database query failed because it was actively refused."},
    {11001, "No such host is known."},
    {11002, "This is usually a temporary error during hostname resolution and means that the local server did "
            "not receive a response from an authoritative server."},
    {11003, "A non-recoverable error occurred during a database lookup."},
    {11004, "The requested name is valid, but no data of the requested type was found."},
};

// The three sections below belong to the security interface, certificate chain policy and
// CryptoAPI stand-ins; a section with rows becomes `constexpr TErrorText Name[] = {...};`.

// --- Security status codes (SSPI) ---------------------------------------------------------
constexpr TErrorText SecurityTexts[] = {
    {0x00090312, "The function completed successfully, but must be called again to complete the context"},
    {0x00090313, "The function completed successfully, but CompleteToken must be called"},
    {0x00090314, "The function completed successfully, but both CompleteToken and this function must be called to complete the context"},
    {0x00090317, "The context has expired and can no longer be used."},
    {0x00090320, "The credentials supplied were not complete, and could not be verified. Additional information can be returned from the context."},
    {0x00090321, "The context data must be renegotiated with the peer."},
    {0x80090300, "Not enough memory is available to complete this request"},
    {0x80090301, "The handle specified is invalid"},
    {0x80090302, "The function requested is not supported"},
    {0x80090303, "The specified target is unknown or unreachable"},
    {0x80090304, "The Local Security Authority cannot be contacted"},
    {0x80090305, "The requested security package does not exist"},
    {0x80090308, "The token supplied to the function is invalid"},
    {0x8009030D, "The credentials supplied to the package were not recognized"},
    {0x8009030E, "No credentials are available in the security package"},
    {0x80090310, "The message supplied for verification is out of sequence"},
    {0x80090317, "The context has expired and can no longer be used."},
    {0x80090318, "The supplied message is incomplete. The signature was not verified."},
    {0x80090321, "The buffers supplied to a function was too small."},
    {0x80090322, "The target principal name is incorrect."},
    {0x80090325, "The certificate chain was issued by an authority that is not trusted."},
    {0x80090326, "The message received was unexpected or badly formatted."},
    {0x80090327, "An unknown error occurred while processing the certificate."},
    {0x80090328, "The received certificate has expired."},
    {0x80090329, "The specified data could not be encrypted."},
    {0x80090330, "The specified data could not be decrypted."},
    {0x80090331, "The client and server cannot communicate, because they do not possess a common algorithm."},
    {0x8009035D, "One or more of the parameters passed to the function was invalid."},
};

// --- Certificate trust codes --------------------------------------------------------------
constexpr TErrorText TrustTexts[] = {
    {0x80092010, "The certificate is revoked."},
    {0x80092013, "The revocation function was unable to check revocation because the revocation server was "
                 "offline."},
    {0x80096004, "The signature of the certificate cannot be verified."},
    {0x80096019, "A certificate's basic constraint extension has not been observed."},
    {0x800B0101, "A required certificate is not within its validity period when verifying against the current "
                 "system clock or the timestamp in the signed file."},
    {0x800B0105, "A certificate contains an unknown extension that is marked 'critical'."},
    {0x800B0109, "A certificate chain processed, but terminated in a root certificate which is not trusted by "
                 "the trust provider."},
    {0x800B010A, "A certificate chain could not be built to a trusted root authority."},
    {0x800B010F, "The certificate's CN name does not match the passed value."},
    {0x800B0110, "The certificate is not valid for the requested usage."},
    {0x800B0111, "The certificate was explicitly marked as untrusted by the user."},
    {0x800B0114, "The certificate has an invalid name. The name is not included in the permitted list or is "
                 "explicitly excluded."},
};

// --- CryptoAPI codes ----------------------------------------------------------------------
constexpr TErrorText CryptTexts[] = {
    {86, "The specified network password is not correct."},
    {234, "More data is available."},
    {0x80070057, "The parameter is incorrect."},
    {0x80090001, "Bad UID."},
    {0x80090002, "Bad Hash."},
    {0x80090003, "Bad Key."},
    {0x80090004, "Bad Length."},
    {0x80090005, "Bad Data."},
    {0x80090006, "Invalid Signature."},
    {0x80090007, "Bad Version of provider."},
    {0x80090008, "Invalid algorithm specified."},
    {0x80090009, "Invalid flags specified."},
    {0x8009000A, "Invalid type specified."},
    {0x8009000B, "Key not valid for use in specified state."},
    {0x8009000C, "Hash not valid for use in specified state."},
    {0x8009000D, "Key does not exist."},
    {0x8009000E, "Insufficient memory available for the operation."},
    {0x80090016, "Keyset does not exist"},
    {0x80090017, "Provider type not defined."},
    {0x80090019, "The keyset is not defined."},
    {0x8009001B, "Provider type does not match registered value."},
    {0x80090020, "An internal error occurred."},
    {0x80092004, "Cannot find object or property."},
    {0x80093102, "ASN1 unexpected end of data."},
    {0x80093104, "ASN1 value too large."},
    {0x80093106, "ASN1 corrupted data."},
    {0x8009310B, "ASN1 bad tag value met."},
};

constexpr std::span<const TErrorText> Sections[] = {KernelTexts, SocketTexts, SecurityTexts, TrustTexts, CryptTexts};

} // namespace

const char* FindErrorText(DWORD ACode) noexcept
{
    for (const auto section : Sections)
        for (const TErrorText& row : section)
            if (row.Code == ACode)
                return row.Text;
    return nullptr;
}

} // namespace ix::os::internal
