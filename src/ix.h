#pragma once
// The library in one include: the POP3 client, the mail message, DNS, DKIM, hashes, the
// framework types they use and the library's own error codes.
//
// Everything lives in namespace ix; the operating-system stand-ins (the ANSI code page among
// them) in ix::os.

#include "core/ixClasses.h"
#include "core/ixDateUtils.h"
#include "core/ixErrorCodes.h"
#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "crypto/ixCryptHash.h"
#include "crypto/ixCryptMac.h"
#include "dkim/ixDkim.h"
#include "dns/ixDnsQuery.h"
#include "message/ixEmailAddress.h"
#include "message/ixEncoder.h"
#include "message/ixMailMessage.h"
#include "message/ixMessageBody.h"
#include "message/ixMimeBodies.h"
#include "net/ixSocks.h"
#include "net/ixTcpClient.h"
#include "platform/ixOsKernel.h"
#include "pop3/ixPop3.h"
#include "tls/ixCertificate.h"
#include "tls/ixTcpClientTls.h"
#include "util/ixFileNames.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

/// The mail library: components, message model, framework types and error codes.
namespace ix {
/// Stand-ins for the operating-system services the library is written against.
namespace os {
}
} // namespace ix
