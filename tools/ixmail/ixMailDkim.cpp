// ixmail dkim sign|verify FILE: DKIM signatures of a message file through TixDkim.
#include "ixMailCommands.h"

#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkim.h"
#include "dns/ixDnsQuery.h"
#include "message/ixEncoder.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace ixmail {

using namespace ix;

namespace {

const std::string DkimUsage = std::string(
    "usage: ixmail dkim sign FILE --key PEM --domain DOMAIN --selector SELECTOR [options]\n"
    "       ixmail dkim verify FILE [--key PEM] [options]\n"
    "FILE - is the standard input.\n"
    "  --key PEM              sign: the RSA (PKCS #1 or #8) or Ed25519 (PKCS #8) private key,\n"
    "                         unencrypted; verify: a public or private key used for every\n"
    "                         signature instead of the key records in DNS\n"
    "  --algorithm NAME       sign: rsa-sha256 (default for RSA keys), rsa-sha1 or\n"
    "                         ed25519-sha256 (the one for Ed25519 keys)\n"
    "  --canonicalization C   sign: header/body, each simple or relaxed (default simple/simple)\n"
    "  --headers LIST         sign: the fields to sign, separated by colons\n"
    "                         (default Date:From:To:Subject:MIME-Version:Content-Type)\n"
    "  --identity ADDRESS     sign: the i tag\n"
    "  --out FILE             sign: where the signed message goes (default standard output)\n") +
    DnsOptionsUsage +
    "sign writes the new DKIM-Signature field followed by the file's bytes unchanged. verify\n"
    "prints one line per signature: pass or fail, domain, selector, algorithm and the reason\n"
    "of a failure; the exit status is 0 only when every signature passes.\n";

[[noreturn]] void BadDer()
{
    throw Exception("The key is not in a known DER form");
}

/// Reads DER: the contents of the element at AIndex with tag ATag; AIndex moves past it.
std::string_view DerElement(std::string_view ADer, size_t& AIndex, uint8_t ATag)
{
    if (AIndex + 2 > ADer.size() || static_cast<uint8_t>(ADer[AIndex]) != ATag)
        BadDer();
    size_t length = static_cast<uint8_t>(ADer[AIndex + 1]);
    AIndex += 2;
    if (length & 0x80)
    {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || AIndex + count > ADer.size())
            BadDer();
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = length << 8 | static_cast<uint8_t>(ADer[AIndex++]);
    }
    if (length > ADer.size() - AIndex)
        BadDer();
    AIndex += length;
    return ADer.substr(AIndex - length, length);
}

constexpr uint8_t SequenceTag = 0x30, IntegerTag = 0x02, BitStringTag = 0x03, OctetStringTag = 0x04;
// The object identifiers (tag, length, value) of rsaEncryption (1.2.840.113549.1.1.1) and
// Ed25519 (1.3.101.112), as AlgorithmIdentifiers begin with them.
constexpr std::string_view RsaEncryption("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 11);
constexpr std::string_view Ed25519("\x06\x03\x2B\x65\x70", 5);

/// A key taken from DER: its algorithm and its bytes as TixDkim wants them.
struct TKey
{
    bool IsEd25519 = false;
    TixByteArray Bytes;
};

TKey MakeKey(bool AIsEd25519, std::string_view ABytes)
{
    return {AIsEd25519, TixByteArray(ABytes.begin(), ABytes.end())};
}

/// The algorithm of the AlgorithmIdentifier AIdentifier: true for Ed25519, false for RSA.
bool IsEd25519(std::string_view AIdentifier)
{
    if (!AIdentifier.starts_with(RsaEncryption) && !AIdentifier.starts_with(Ed25519))
        throw Exception("The key is neither an RSA nor an Ed25519 key");
    return AIdentifier.starts_with(Ed25519);
}

/// The key of a PKCS #8 PrivateKeyInfo: PKCS #1 RSAPrivateKey DER, or the 32 bytes of Ed25519.
TKey KeyOfPrivateKeyInfo(std::string_view ADer)
{
    size_t index = 0;
    const std::string_view info = DerElement(ADer, index, SequenceTag);
    index = 0;
    DerElement(info, index, IntegerTag);
    const bool ed25519 = IsEd25519(DerElement(info, index, SequenceTag));
    const std::string_view key = DerElement(info, index, OctetStringTag);
    size_t inner = 0;
    return MakeKey(ed25519, ed25519 ? DerElement(key, inner, OctetStringTag) : key);
}

/// The key of a SubjectPublicKeyInfo: the DER itself for RSA, the 32 bytes of Ed25519.
TKey KeyOfPublicKeyInfo(std::string_view ADer)
{
    size_t index = 0;
    const std::string_view info = DerElement(ADer, index, SequenceTag);
    index = 0;
    if (!IsEd25519(DerElement(info, index, SequenceTag)))
        return MakeKey(false, ADer);
    const std::string_view bits = DerElement(info, index, BitStringTag);
    return MakeKey(true, bits.substr(std::min<size_t>(1, bits.size()))); // after the unused-bits count
}

/// The key in a PEM file: its label ("RSA PRIVATE KEY", "PRIVATE KEY", "PUBLIC KEY"...) and
/// its DER bytes.
std::pair<std::string, std::string> ReadPem(const std::string& AFile)
{
    const std::string text = ReadWholeFile(AFile, "the key file");
    const size_t begin = text.find("-----BEGIN ");
    const size_t labelEnd = begin == std::string::npos ? begin : text.find("-----", begin + 11);
    const std::string label = labelEnd == std::string::npos ? "" : text.substr(begin + 11, labelEnd - begin - 11);
    const size_t end = label.empty() ? std::string::npos : text.find("-----END " + label + "-----", labelEnd);
    if (end == std::string::npos)
        throw Exception("The key file \"" + AFile + "\" holds no PEM block");
    const std::string body = text.substr(labelEnd + 5, end - labelEnd - 5);
    if (body.find(':') != std::string::npos)
        throw Exception("The key in \"" + AFile + "\" is encrypted");
    return {label, TixEncoder::DecodeWith(cmBase64, body)};
}

/// Loads the private key of the PEM file AFile into ADkim; returns whether it is an Ed25519 key.
bool LoadPrivateKey(TixDkim& ADkim, const std::string& AFile)
{
    const auto [label, der] = ReadPem(AFile);
    if (label != "RSA PRIVATE KEY" && label != "PRIVATE KEY")
        throw Exception("The key file \"" + AFile + "\" holds no private key (" + label + ")");
    const TKey key = label == "PRIVATE KEY" ? KeyOfPrivateKeyInfo(der) : MakeKey(false, der);
    if (key.IsEd25519)
        ADkim.GetEd25519Key().SetPrivateKey(key.Bytes);
    else
        ADkim.GetRsaKey().SetRsaPrivateKey(key.Bytes);
    return key.IsEd25519;
}

/// The public key of the PEM file AFile (a public or a private key) as OnGetPublicKey gives it:
/// SubjectPublicKeyInfo DER for RSA, the 32 bytes of Ed25519.
TixByteArray PublicKey(TixDkim& ADkim, const std::string& AFile)
{
    const auto [label, der] = ReadPem(AFile);
    if (label == "PUBLIC KEY")
        return KeyOfPublicKeyInfo(der).Bytes;
    return LoadPrivateKey(ADkim, AFile) ? ADkim.GetEd25519Key().GetPublicKey() : ADkim.GetRsaKey().GetPublicKeyInfo();
}

/// The line break of AText: CR LF when its first line ends so, else LF.
std::string LineBreakOf(const std::string& AText)
{
    const size_t end = AText.find('\n');
    return end != std::string::npos && end > 0 && AText[end - 1] == '\r' ? "\r\n" : "\n";
}

int Sign(const TArgs& AArgs, const std::string& AFile)
{
    TixDkim dkim;
    dkim.SetDomain(AArgs.Required("domain"));
    dkim.SetSelector(AArgs.Required("selector"));
    dkim.SetCanonicalization(AArgs.Value("canonicalization"));
    dkim.SetUserIdentity(AArgs.Value("identity"));
    if (AArgs.Has("headers"))
    {
        dkim.GetSignedHeaderFields().Clear();
        std::istringstream names(AArgs.Value("headers"));
        for (std::string name; std::getline(names, name, ':');)
            if (!name.empty())
                dkim.GetSignedHeaderFields().Add(name);
    }
    const std::string key = AArgs.Required("key");
    const std::string bytes = ReadWholeFile(AFile, "file");
    const bool ed25519 = LoadPrivateKey(dkim, key);
    dkim.SetSignatureAlgorithm(AArgs.Value("algorithm", ed25519 ? "ed25519-sha256" : dkim.GetSignatureAlgorithm()));

    TStringList message;
    message.SetText(bytes);
    const int32_t before = message.Count();
    dkim.Sign(message);
    std::string field;
    for (int32_t i = 0; i < message.Count() - before; ++i)
        field += message[i] + LineBreakOf(bytes);

    if (!AArgs.Has("out"))
    {
        std::cout << field << bytes << std::flush;
        return 0;
    }
    std::ofstream out(AArgs.Value("out"), std::ios::binary | std::ios::trunc);
    out << field << bytes;
    if (!out.flush())
        throw Exception("Cannot write " + AArgs.Value("out"));
    return 0;
}

int Verify(const TArgs& AArgs, const std::string& AFile)
{
    TixDkim dkim;
    dkim.SetVerifyMode(dvmVerifyAll);
    ConfigureDnsQuery(dkim.GetDnsQuery(), AArgs);
    if (AArgs.Has("key"))
    {
        const TixByteArray key = PublicKey(dkim, AArgs.Value("key"));
        dkim.OnGetPublicKey = [key](TObject*, TixDkimSignature*, TixByteArray& AKey) { AKey = key; };
    }
    TStringList message;
    message.SetText(ReadWholeFile(AFile, "file"));
    dkim.Verify(message);

    TixDkimSignatureList& signatures = dkim.GetSignatures();
    if (signatures.Count() == 0)
        throw Exception("The message has no DKIM-Signature field");
    const TixDkimSignatureVerifyStatus* failure = nullptr;
    for (int32_t i = 0; i < signatures.Count(); ++i)
    {
        const TixDkimSignature& signature = *signatures[i];
        const TixDkimSignatureVerifyStatus& status = signature.VerifyStatus;
        const bool passed = status.GetStatus() == TixDkimSignatureVerifyStatus::Verified;
        std::cout << (passed ? "pass" : "fail") << '\t' << signature.Domain << '\t' << signature.Selector << '\t'
                  << signature.SignatureAlgorithm;
        if (!passed)
            std::cout << '\t' << status.GetStatusText() << " (code " << status.GetErrorCode() << ")";
        else if (!status.GetStatusText().empty())
            std::cout << '\t' << status.GetStatusText();
        std::cout << '\n';
        if (!passed && failure == nullptr)
            failure = &status;
    }
    std::cout << std::flush;
    if (failure != nullptr)
        throw EixCodedError(failure->GetStatusText(), failure->GetErrorCode());
    return 0;
}

} // namespace

int DkimCommand(const std::vector<std::string>& AArgs)
{
    std::set<std::string> valued = DnsValued;
    valued.insert({"key", "domain", "selector", "algorithm", "canonicalization", "headers", "identity", "out"});
    const TArgs args(AArgs, {"help", "tcp"}, valued);
    if (args.Has("help"))
    {
        std::cout << DkimUsage;
        return 0;
    }
    if (args.Positional().size() != 2)
        throw TUsageError("dkim takes sign or verify and one FILE (ixmail dkim --help)");
    const size_t action = Choice("dkim", args.Positional()[0], {"sign", "verify"});
    return action == 0 ? Sign(args, args.Positional()[1]) : Verify(args, args.Positional()[1]);
}

} // namespace ixmail
