// DKIM signing and verifying per second: TixDkim beside libopendkim (linked here only as the
// peer) and dkimpy (bench/dkim_bench.py, run from here in its own process), over the same
// messages in the same run. COUNT messages of 5 to 100 KB, signed relaxed/relaxed over Date,
// From, To, Subject, MIME-Version and Content-Type, with a 2048-bit rsa-sha256 key and with an
// ed25519-sha256 key; every verifier checks the messages TixDkim signed. Key lookups are served
// locally on every side (OnGetPublicKey, libopendkim's key lookup callback, dkimpy's dnsfunc).
// Each side starts from the message text (TixDkim's line list is filled in the timed loop).
// Figures are medians of RUNS runs; CPU is the process's CPU time per message.
//   dkim_bench [COUNT [RUNS]]   (defaults 1000 and 3; build with -DCMAKE_BUILD_TYPE=Release)
#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkim.h"
#include "message/ixEncoder.h"

extern "C" {
#define _Bool bool   // dkim.h is C; its _Bool is C++'s bool
#include <opendkim/dkim.h>
#undef _Bool
}

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace ix;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& AWhat)
{
    std::fprintf(stderr, "dkim_bench: %s\n", AWhat.c_str());
    std::exit(1);
}

// ---- the messages ------------------------------------------------------------------------

/// A fixed pseudo-random sequence (the same messages in every run).
class TRandom
{
public:
    uint32_t Next(uint32_t ALimit)
    {
        FState = FState * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(FState >> 33) % ALimit;
    }

private:
    uint64_t FState = 17;
};

/// A message of about ASize bytes: a header of ten fields and lines of words, some with runs
/// of blanks and trailing blanks, and empty lines at the end (work for relaxed canonicalization).
std::string MakeMessage(TRandom& ARandom, size_t ASize, int AIndex)
{
    static const char* Words[] = {"mail", "message", "the", "of", "server", "a", "client", "library", "header",
        "body", "signature", "and", "key", "record", "domain", "to"};
    const std::string id = std::to_string(AIndex);
    std::string text = "Received: from mx" + id + ".example.net by mx.example.com; Sun, 6 Dec 2026 10:00:00 +0000\r\n"
        "Received: from client.example.net by mx" + id + ".example.net; Sun, 6 Dec 2026 09:59:58 +0000\r\n"
        "From: Joe Sender <joe@example.com>\r\n"
        "To: Ann <ann@example.org>, Bob <bob@example.org>,\r\n\tCarol <carol@example.org>\r\n"
        "Subject:  message   " + id + " of the benchmark\r\n"
        "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n"
        "Message-ID: <" + id + "@example.com>\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "\r\n";
    while (text.size() < ASize) {
        std::string line;
        while (line.size() < 70)
            line += std::string(ARandom.Next(8) == 0 ? "  " : " ") + Words[ARandom.Next(std::size(Words))];
        text += line.substr(1) + (ARandom.Next(4) == 0 ? " \t" : "") + "\r\n";
    }
    return text + "\r\n\r\n";
}

// ---- timing --------------------------------------------------------------------------------

struct TFigures
{
    double PerSecond = 0;
    double CpuMs = 0;   ///< per message
};

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// AOperation(i) for each of ACount messages, ARuns times; the medians.
TFigures Measure(int ACount, int ARuns, const std::function<void(int)>& AOperation)
{
    std::vector<double> rates;
    std::vector<double> cpus;
    for (int run = 0; run < ARuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        for (int i = 0; i < ACount; ++i)
            AOperation(i);
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        rates.push_back(ACount / wall.count());
        cpus.push_back((CpuSeconds() - cpuStart) * 1000 / ACount);
    }
    std::sort(rates.begin(), rates.end());
    std::sort(cpus.begin(), cpus.end());
    return {rates[rates.size() / 2], cpus[cpus.size() / 2]};
}

// ---- keys ----------------------------------------------------------------------------------

std::string Base64(const TixByteArray& ABytes)
{
    return TixEncoder::EncodeLineWith(cmBase64, ABytes);
}

std::string Pem(const std::string& ALabel, const TixByteArray& ADer)
{
    const std::string text = Base64(ADer);
    std::string pem = "-----BEGIN " + ALabel + "-----\n";
    for (size_t at = 0; at < text.size(); at += 64)
        pem += text.substr(at, 64) + "\n";
    return pem + "-----END " + ALabel + "-----\n";
}

/// One signature algorithm with its key in the forms each side takes.
struct TAlgorithm
{
    std::string Name;
    dkim_alg_t OpenDkimAlgorithm;
    std::string Pem;          ///< the private key for libopendkim
    std::string DkimpyKey;    ///< the private key for dkimpy
    std::string Record;       ///< the key record
    TixByteArray PublicKey;   ///< the record's p= decoded, for OnGetPublicKey
    std::function<void(TixDkim&)> LoadKey;
};

TAlgorithm RsaAlgorithm()
{
    auto key = std::make_shared<TixCryptApiRsaKey>();
    key->Init();
    key->SetKeyLength(2048);
    key->GenerateKey();
    const std::string pem = Pem("RSA PRIVATE KEY", key->GetRsaPrivateKey());
    const TixByteArray info = key->GetPublicKeyInfo();
    return {"rsa-sha256", DKIM_SIGN_RSASHA256, pem, pem, "v=DKIM1; k=rsa; p=" + Base64(info), info,
        [key](TixDkim& ADkim) { ADkim.GetRsaKey().SetRsaPrivateKey(key->GetRsaPrivateKey()); }};
}

TAlgorithm Ed25519Algorithm()
{
    auto key = std::make_shared<TixCryptApiEd25519Key>();
    key->Init();
    key->GenerateKey();
    // PKCS #8 PrivateKeyInfo of an Ed25519 key (RFC 8410): a fixed prefix, then the 32 bytes.
    TixByteArray pkcs8{0x30, 0x2e, 0x02, 0x01, 0x00, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x04, 0x22, 0x04, 0x20};
    const TixByteArray seed = key->GetPrivateKey();
    pkcs8.insert(pkcs8.end(), seed.begin(), seed.end());
    const TixByteArray publicKey = key->GetPublicKey();
    return {"ed25519-sha256", DKIM_SIGN_ED25519SHA256, Pem("PRIVATE KEY", pkcs8), Base64(seed),
        "v=DKIM1; k=ed25519; p=" + Base64(publicKey), publicKey,
        [key](TixDkim& ADkim) { ADkim.GetEd25519Key().SetPrivateKey(key->GetPrivateKey()); }};
}

// ---- the sides -----------------------------------------------------------------------------

/// TixDkim signing (its default signed fields are the six named at the top): the messages it signed, and
/// the figures.
TFigures IxSign(const TAlgorithm& AAlgorithm, const std::vector<std::string>& AMessages, int ARuns,
    std::vector<std::string>& ASigned)
{
    TixDkim dkim;
    AAlgorithm.LoadKey(dkim);
    dkim.SetSignatureAlgorithm(AAlgorithm.Name);
    dkim.SetCanonicalization("relaxed/relaxed");
    dkim.SetDomain("example.com");
    dkim.SetSelector("sel");
    ASigned.assign(AMessages.size(), {});
    return Measure(static_cast<int>(AMessages.size()), ARuns, [&](int AIndex) {
        TStringList message;
        message.SetText(AMessages[AIndex]);
        dkim.Sign(message);
        ASigned[AIndex] = message.GetText();
    });
}

TFigures IxVerify(const TAlgorithm& AAlgorithm, const std::vector<std::string>& ASigned, int ARuns)
{
    TixDkim dkim;
    dkim.OnGetPublicKey = [&](TObject*, TixDkimSignature*, TixByteArray& AKey) { AKey = AAlgorithm.PublicKey; };
    return Measure(static_cast<int>(ASigned.size()), ARuns, [&](int AIndex) {
        TStringList message;
        message.SetText(ASigned[AIndex]);
        dkim.Verify(message);
        if (dkim.GetSignatures().Count() != 1 ||
            dkim.GetSignatures()[0]->VerifyStatus.GetStatus() != TixDkimSignatureVerifyStatus::Verified)
            Fail("TixDkim does not verify message " + std::to_string(AIndex));
    });
}

/// The key record libopendkim's key lookups are answered with.
const std::string* OpenDkimRecord = nullptr;

DKIM_CBSTAT LookUpKey(DKIM*, DKIM_SIGINFO*, u_char* ABuffer, size_t ASize)
{
    if (OpenDkimRecord->size() >= ASize)
        return DKIM_CBSTAT_NOTFOUND;
    std::memcpy(ABuffer, OpenDkimRecord->c_str(), OpenDkimRecord->size() + 1);
    return DKIM_CBSTAT_CONTINUE;
}

/// A libopendkim library handle that signs the same header fields and looks keys up locally.
class TOpenDkim
{
public:
    TOpenDkim()
    {
        FLib = dkim_init(nullptr, nullptr);
        if (!FLib)
            Fail("dkim_init failed");
        static const char* names[] = {"date", "from", "to", "subject", "mime-version", "content-type", nullptr};
        if (dkim_options(FLib, DKIM_OP_SETOPT, DKIM_OPTS_SIGNHDRS, names, sizeof(char**)) != DKIM_STAT_OK ||
            dkim_set_key_lookup(FLib, LookUpKey) != DKIM_STAT_OK)
            Fail("libopendkim refuses its options");
    }
    ~TOpenDkim() { dkim_close(FLib); }
    TOpenDkim(const TOpenDkim&) = delete;
    TOpenDkim& operator=(const TOpenDkim&) = delete;

    void Sign(const TAlgorithm& AAlgorithm, const std::string& AMessage)
    {
        DKIM_STAT status = DKIM_STAT_OK;
        DKIM* dkim = dkim_sign(FLib, Id, nullptr, Bytes(AAlgorithm.Pem), Bytes("sel"), Bytes("example.com"),
            DKIM_CANON_RELAXED, DKIM_CANON_RELAXED, AAlgorithm.OpenDkimAlgorithm, -1, &status);
        u_char* field = nullptr;
        size_t length = 0;
        if (!dkim || Process(dkim, AMessage) != DKIM_STAT_OK ||
            dkim_getsighdr_d(dkim, std::strlen("DKIM-Signature: "), &field, &length) != DKIM_STAT_OK || length == 0)
            Fail("libopendkim does not sign (" + std::to_string(status) + ")");
        dkim_free(dkim);
    }

    void Verify(const std::string& AMessage, int AIndex)
    {
        DKIM_STAT status = DKIM_STAT_OK;
        DKIM* dkim = dkim_verify(FLib, Id, nullptr, &status);
        if (!dkim || (status = Process(dkim, AMessage)) != DKIM_STAT_OK)
            Fail("libopendkim does not verify message " + std::to_string(AIndex) + " (" + std::to_string(status) + ")");
        dkim_free(dkim);
    }

private:
    static constexpr unsigned char Id[] = "bench";

    static unsigned char* Bytes(const std::string& AText)
    {
        return reinterpret_cast<unsigned char*>(const_cast<char*>(AText.c_str()));
    }

    static DKIM_STAT Process(DKIM* ADkim, const std::string& AMessage)
    {
        DKIM_STAT status = dkim_chunk(ADkim, Bytes(AMessage), AMessage.size());
        if (status == DKIM_STAT_OK)
            status = dkim_chunk(ADkim, nullptr, 0);
        return status == DKIM_STAT_OK ? dkim_eom(ADkim, nullptr) : status;
    }

    DKIM_LIB* FLib = nullptr;
};

void WriteFile(const fs::path& APath, const std::string& AText)
{
    std::ofstream(APath, std::ios::binary) << AText;
}

/// dkimpy's figures by "algorithm sign|verify", from its own process over the files in ADir.
std::map<std::string, TFigures> Dkimpy(const fs::path& ADir, int ACount, int ARuns, const std::vector<TAlgorithm>& AAlgorithms)
{
    std::string command = "/usr/bin/python3 " IX_DKIM_BENCH_PY " " + ADir.string() + " " + std::to_string(ACount) + " " +
        std::to_string(ARuns);
    for (const TAlgorithm& algorithm : AAlgorithms)
        command += " " + algorithm.Name;
    command += " > " + (ADir / "dkimpy.out").string();
    if (std::system(command.c_str()) != 0)
        Fail("dkimpy failed");
    std::map<std::string, TFigures> figures;
    std::ifstream out(ADir / "dkimpy.out");
    std::string algorithm;
    std::string operation;
    TFigures values;
    while (out >> algorithm >> operation >> values.PerSecond >> values.CpuMs)
        figures[algorithm + " " + operation] = values;
    return figures;
}

void PrintRow(const char* AName, const TFigures& ASign, const TFigures& AVerify)
{
    std::printf("  %-17s %10.0f %10.3f %12.0f %10.3f\n", AName, ASign.PerSecond, ASign.CpuMs, AVerify.PerSecond,
        AVerify.CpuMs);
}

/// How many times faster ix is than a peer, by messages per second and by CPU per message.
void PrintRatios(const char* AName, const TFigures& ASign, const TFigures& AVerify, const TFigures& APeerSign,
    const TFigures& APeerVerify)
{
    std::printf("  %-17s %9.2fx %9.2fx %11.2fx %9.2fx\n", AName, ASign.PerSecond / APeerSign.PerSecond,
        APeerSign.CpuMs / ASign.CpuMs, AVerify.PerSecond / APeerVerify.PerSecond, APeerVerify.CpuMs / AVerify.CpuMs);
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (count < 1 || runs < 1)
        Fail("usage: dkim_bench [COUNT [RUNS]]");

    TRandom random;
    std::vector<std::string> messages;
    size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        messages.push_back(MakeMessage(random, 5000 + random.Next(95001), i));
        bytes += messages.back().size();
    }
    const fs::path dir = fs::temp_directory_path() / ("ix-dkim-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i)
        WriteFile(dir / (std::to_string(i) + ".eml"), messages[i]);

    std::printf("DKIM: %d messages of 5-100 KB (%.1f MB in all), relaxed/relaxed, medians of %d runs\n", count,
        static_cast<double>(bytes) / 1e6, runs);
    const std::vector<TAlgorithm> algorithms{RsaAlgorithm(), Ed25519Algorithm()};
    TOpenDkim openDkim;
    std::map<std::string, std::pair<TFigures, TFigures>> ix;
    std::map<std::string, std::pair<TFigures, TFigures>> libopendkim;
    for (const TAlgorithm& algorithm : algorithms) {
        std::vector<std::string> signedMessages;
        ix[algorithm.Name].first = IxSign(algorithm, messages, runs, signedMessages);
        ix[algorithm.Name].second = IxVerify(algorithm, signedMessages, runs);
        OpenDkimRecord = &algorithm.Record;
        libopendkim[algorithm.Name].first = Measure(count, runs, [&](int AIndex) { openDkim.Sign(algorithm, messages[AIndex]); });
        libopendkim[algorithm.Name].second =
            Measure(count, runs, [&](int AIndex) { openDkim.Verify(signedMessages[AIndex], AIndex); });
        WriteFile(dir / ("key-" + algorithm.Name), algorithm.DkimpyKey);
        WriteFile(dir / ("record-" + algorithm.Name), algorithm.Record);
        for (int i = 0; i < count; ++i)
            WriteFile(dir / ("signed-" + algorithm.Name + "-" + std::to_string(i) + ".eml"), signedMessages[i]);
    }
    const std::map<std::string, TFigures> dkimpy = Dkimpy(dir, count, runs, algorithms);
    fs::remove_all(dir);

    for (const TAlgorithm& algorithm : algorithms) {
        const auto& [ixSign, ixVerify] = ix[algorithm.Name];
        const auto& [odSign, odVerify] = libopendkim[algorithm.Name];
        const TFigures pySign = dkimpy.at(algorithm.Name + " sign");
        const TFigures pyVerify = dkimpy.at(algorithm.Name + " verify");
        std::printf("\n%s%s\n  %-17s %10s %10s %12s %10s\n", algorithm.Name.c_str(),
            algorithm.Name == "rsa-sha256" ? " (2048-bit key)" : "", "", "sign msg/s", "CPU ms/msg", "verify msg/s",
            "CPU ms/msg");
        PrintRow("ix TixDkim", ixSign, ixVerify);
        PrintRow("libopendkim", odSign, odVerify);
        PrintRow("dkimpy", pySign, pyVerify);
        PrintRatios("ix vs libopendkim", ixSign, ixVerify, odSign, odVerify);
        PrintRatios("ix vs dkimpy", ixSign, ixVerify, pySign, pyVerify);
    }
    const auto& rsaIx = ix["rsa-sha256"];
    std::printf("\n(ix vs a peer: messages per second divided, CPU per message inverted; above 1 = ix faster)\n");
    std::printf("goals (rsa-sha256): verify faster than libopendkim: %s; sign at least 5x dkimpy: %s\n",
        rsaIx.second.PerSecond > libopendkim["rsa-sha256"].second.PerSecond ? "met" : "NOT met",
        rsaIx.first.PerSecond >= 5 * dkimpy.at("rsa-sha256 sign").PerSecond ? "met" : "NOT met");
    return 0;
}
