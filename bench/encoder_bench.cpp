// Throughput of the transfer encoders beside GMime 3 and OpenSSL (comparison peers linked by
// this benchmark only), with memcpy of the same bytes as the floor. Prints MB/s (of the input
// of each step) as the median of several runs, and the ratios to the peers.
//
// Usage: encoder_bench [megabytes of base64 text, default 100] [runs, default 5]

#include "message/ixEncoder.h"

#include <gmime/gmime.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace ix;

namespace {

using TBytes = std::vector<uint8_t>;

struct TResult
{
    std::string Name;
    double MBps;
};

/// Median wall-clock rate of ARuns calls of AStep over AInputBytes bytes.
template <typename TStep>
double MedianRate(int ARuns, size_t AInputBytes, TStep&& AStep)
{
    std::vector<double> rates;
    for (int i = 0; i < ARuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        AStep();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        rates.push_back(static_cast<double>(AInputBytes) / 1e6 / seconds.count());
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

[[noreturn]] void Fail(const char* AWhat)
{
    std::fprintf(stderr, "encoder_bench: %s\n", AWhat);
    std::exit(1);
}

TBytes RandomBytes(size_t ASize)
{
    std::mt19937_64 generator(42);
    TBytes bytes(ASize);
    for (size_t i = 0; i + 8 <= ASize; i += 8) {
        const uint64_t word = generator();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    return bytes;
}

/// Latin-1 prose: mostly letters and blanks, an accented letter now and then, CR LF lines.
TBytes ProseBytes(size_t ASize)
{
    std::mt19937 generator(7);
    std::uniform_int_distribution<int> pick(0, 99);
    static constexpr char Letters[] = "etaoinshrdlucmfwypvbgkjqxz";
    TBytes bytes;
    bytes.reserve(ASize);
    size_t column = 0;
    while (bytes.size() < ASize) {
        const int p = pick(generator);
        if (column > 60 && p < 10) {
            bytes.push_back('\r');
            bytes.push_back('\n');
            column = 0;
            continue;
        }
        bytes.push_back(p < 15 ? ' ' : p < 18 ? static_cast<uint8_t>(0xE0 + p) : static_cast<uint8_t>(Letters[p % 26]));
        ++column;
    }
    return bytes;
}

class TBytesStream : public TMemoryStream
{
public:
    explicit TBytesStream(const TBytes& ABytes)
    {
        WriteBuffer(ABytes.data(), static_cast<int64_t>(ABytes.size()));
        SetPosition(0);
    }
};

/// One encoder run over streams made once: only the conversion is timed, and the destination
/// keeps its memory from run to run.
class TIxRun
{
public:
    TIxRun(TixEncodeMethod AMethod, bool AEncode, const TBytes& AInput) : FEncode(AEncode), FSource(AInput)
    {
        FEncoder.SetEncodeMethod(AMethod);
    }

    void operator()()
    {
        FSource.SetPosition(0);
        FDestination.SetSize(0);
        if (FEncode)
            FEncoder.Encode(FSource, FDestination);
        else
            FEncoder.Decode(FSource, FDestination);
    }

    TBytes Output() const { return TBytes(FDestination.Memory(), FDestination.Memory() + FDestination.Size()); }

private:
    bool FEncode;
    TixEncoder FEncoder;
    TBytesStream FSource;
    TMemoryStream FDestination;
};

TBytes RunIx(TixEncodeMethod AMethod, bool AEncode, const TBytes& AInput)
{
    TIxRun run(AMethod, AEncode, AInput);
    run();
    return run.Output();
}

/// A peer's step function: input, length, output, state, save; returns the bytes written.
using TGMimeStep = size_t (*)(const unsigned char*, size_t, unsigned char*, int*, guint32*);

/// One run of a GMime step function into an output buffer made once.
class TGMimeRun
{
public:
    TGMimeRun(TGMimeStep AStep, const TBytes& AInput, size_t AOutputSize)
        : FStep(AStep), FInput(AInput), FOutput(AOutputSize) {}

    void operator()()
    {
        int state = 0;
        guint32 save = 0;
        FSize = FStep(FInput.data(), FInput.size(), FOutput.data(), &state, &save);
    }

    TBytes Output() const { return TBytes(FOutput.begin(), FOutput.begin() + static_cast<ptrdiff_t>(FSize)); }

private:
    TGMimeStep FStep;
    const TBytes& FInput;
    TBytes FOutput;
    size_t FSize = 0;
};

/// One run of OpenSSL's base64 decoder into an output buffer made once.
class TOpenSslRun
{
public:
    explicit TOpenSslRun(const TBytes& AInput) : FInput(AInput), FOutput(AInput.size() / 4 * 3 + 3) {}

    void operator()()
    {
        struct TContextFree
        {
            void operator()(EVP_ENCODE_CTX* AContext) const noexcept { EVP_ENCODE_CTX_free(AContext); }
        };
        const std::unique_ptr<EVP_ENCODE_CTX, TContextFree> context(EVP_ENCODE_CTX_new());
        EVP_DecodeInit(context.get());
        int written = 0;
        if (EVP_DecodeUpdate(context.get(), FOutput.data(), &written, FInput.data(), static_cast<int>(FInput.size())) < 0)
            Fail("EVP_DecodeUpdate refused the input");
        int last = 0;
        if (EVP_DecodeFinal(context.get(), FOutput.data() + written, &last) < 0)
            Fail("EVP_DecodeFinal refused the input");
        FSize = static_cast<size_t>(written + last);
    }

    TBytes Output() const { return TBytes(FOutput.begin(), FOutput.begin() + static_cast<ptrdiff_t>(FSize)); }

private:
    const TBytes& FInput;
    TBytes FOutput;
    size_t FSize = 0;
};

/// Runs ARun once and checks that it gives AExpected.
template <typename TRun>
TRun& Checked(TRun& ARun, const TBytes& AExpected, const char* AWhat)
{
    ARun();
    if (ARun.Output() != AExpected)
        Fail(AWhat);
    return ARun;
}

void PrintSection(const char* ATitle, size_t AInputBytes, const std::vector<TResult>& AResults)
{
    std::printf("\n%s (%.1f MB of input)\n", ATitle, static_cast<double>(AInputBytes) / 1e6);
    std::printf("  %-28s %10s %10s\n", "implementation", "MB/s", "ix / this");
    const double ix = AResults.front().MBps;
    for (const TResult& result : AResults)
        std::printf("  %-28s %10.0f %10.2f\n", result.Name.c_str(), result.MBps, ix / result.MBps);
}

double MemcpyRate(int ARuns, const TBytes& AInput)
{
    TBytes copy(AInput.size());
    return MedianRate(ARuns, AInput.size(), [&] {
        std::memcpy(copy.data(), AInput.data(), AInput.size());
        if (copy[AInput.size() / 2] != AInput[AInput.size() / 2])
            Fail("memcpy");
    });
}

} // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    g_mime_init();

    // 76-column base64 text with CR LF line ends: 57 input bytes per 78 characters.
    const TBytes binary = RandomBytes(megabytes * 1000000 / 78 * 57);
    const TBytes base64 = RunIx(cmBase64, true, binary);
    {
        TIxRun ix(cmBase64, false, base64);
        TGMimeRun gmime(g_mime_encoding_base64_decode_step, base64, base64.size() / 4 * 3 + 3);
        TOpenSslRun openssl(base64);
        PrintSection("base64 decoding", base64.size(), {
            {"ix TixEncoder", MedianRate(runs, base64.size(), Checked(ix, binary, "ix base64 decoding"))},
            {"GMime 3 decode_step", MedianRate(runs, base64.size(), Checked(gmime, binary, "GMime base64 decoding"))},
            {"OpenSSL EVP_DecodeUpdate", MedianRate(runs, base64.size(), Checked(openssl, binary, "OpenSSL decoding"))},
            {"memcpy (floor)", MemcpyRate(runs, base64)},
        });
    }
    {
        TIxRun ix(cmBase64, true, binary);
        TGMimeRun gmime(g_mime_encoding_base64_encode_close, binary, GMIME_BASE64_ENCODE_LEN(binary.size()));
        ix();
        gmime();
        PrintSection("base64 encoding (76 columns; GMime writes LF line ends)", binary.size(), {
            {"ix TixEncoder", MedianRate(runs, binary.size(), ix)},
            {"GMime 3 encode_close", MedianRate(runs, binary.size(), gmime)},
            {"memcpy (floor)", MemcpyRate(runs, binary)},
        });
    }

    const TBytes prose = ProseBytes(megabytes * 1000000 * 3 / 4);
    const TBytes quoted = RunIx(cmQuotedPrintable, true, prose);
    {
        TIxRun ix(cmQuotedPrintable, false, quoted);
        TGMimeRun gmime(g_mime_encoding_quoted_decode_step, quoted, quoted.size() + 3);
        PrintSection("quoted-printable decoding", quoted.size(), {
            {"ix TixEncoder", MedianRate(runs, quoted.size(), Checked(ix, prose, "ix quoted-printable decoding"))},
            {"GMime 3 decode_step", MedianRate(runs, quoted.size(), Checked(gmime, prose, "GMime quoted-printable decoding"))},
            {"memcpy (floor)", MemcpyRate(runs, quoted)},
        });
    }
    {
        TIxRun ix(cmQuotedPrintable, true, prose);
        TGMimeRun gmime(g_mime_encoding_quoted_encode_close, prose, GMIME_QP_ENCODE_LEN(prose.size()));
        PrintSection("quoted-printable encoding", prose.size(), {
            {"ix TixEncoder", MedianRate(runs, prose.size(), ix)},
            {"GMime 3 encode_close", MedianRate(runs, prose.size(), gmime)},
            {"memcpy (floor)", MemcpyRate(runs, prose)},
        });
    }

    g_mime_shutdown();
    return 0;
}
