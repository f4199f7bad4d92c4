// LoadMessage over a corpus of typical messages (text, HTML, base64 attachments), from lines in
// memory to decoded bodies, beside GMime 3 parsing and decoding the same bytes; then one large
// message with a large attachment, run in a child process so that its peak memory is its own.
//
//   message_bench            both runs
//   message_bench corpus     the corpus only
//   message_bench large      the large message only
//   message_bench tiny N     a message of N tiny parts
//   message_bench hostile    headers that once took quadratic time, at 1x, 4x and 16x their size
//   message_bench hostile-once I F   hostile header I (0-2) at F times its size, loaded once by
//                            each side: bench/hostile_growth.sh counts its instructions
#include "message/ixMailMessage.h"
#include "util/ixUtils.h"

#include "gmime_util.h"

#include <gmime/gmime.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace ix;

namespace {

constexpr int64_t CorpusBytes = 150LL * 1024 * 1024;
constexpr int64_t LargeMessageBytes = 50LL * 1024 * 1024;
constexpr int64_t LargeAttachmentBytes = 49LL * 1024 * 1024;
constexpr int Runs = 3;

using TClock = std::chrono::steady_clock;

double PeakRssMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Seconds(TClock::time_point AStart)
{
    return std::chrono::duration<double>(TClock::now() - AStart).count();
}

/// Deterministic message text: plain text, alternative text and HTML, or mixed with attachments.
class TCorpusMaker
{
public:
    std::string Make(int ANumber)
    {
        std::string text = "From: Sender <sender@example.com>\r\nTo: Someone <rcpt@example.com>, other@example.com\r\n"
                           "Subject: =?utf-8?Q?Message_n=C2=B0_" + std::to_string(ANumber) + "?=\r\n"
                           "Date: Tue, 3 Jun 2008 10:20:30 +0200\r\nMessage-ID: <m" + std::to_string(ANumber) +
            "@example.com>\r\nMIME-Version: 1.0\r\nX-Mailer: bench\r\n";
        switch (ANumber % 4) {
        case 0:
            text += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
                Paragraphs(60);
            break;
        case 1:
            text += "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
                    "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                Paragraphs(60) + "\r\n--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body>" + Paragraphs(80) +
                "</body></html>\r\n--alt--\r\n";
            break;
        default:
            text += "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\n"
                    "Content-Type: text/plain; charset=utf-8\r\n\r\n" + Paragraphs(20);
            for (int i = 0; i < 1 + ANumber % 3; ++i)
                text += "\r\n--mix\r\nContent-Type: application/pdf; name=\"file" + std::to_string(i) +
                    ".pdf\"\r\nContent-Disposition: attachment; filename=\"file" + std::to_string(i) +
                    ".pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(RandomBytes(20000 + FRandom() % 200000));
            text += "\r\n--mix--\r\n";
            break;
        }
        return text;
    }

    std::string Base64(const std::string& AData) { return TixEncoder::EncodeWith(cmBase64, AData); }

    std::string RandomBytes(size_t ASize)
    {
        std::string data(ASize, '\0');
        for (char& c : data)
            c = static_cast<char>(FRandom());
        return data;
    }

private:
    std::string Paragraphs(int ALines)
    {
        static const char* const Words[] = {"mail", "message", "report", "the", "of", "caf\xC3\xA9", "and", "total",
            "quarterly", "numbers", "meeting", "tomorrow", "please", "find", "attached"};
        std::string text;
        for (int line = 0; line < ALines; ++line) {
            for (int word = 0; word < 10; ++word)
                text += std::string(Words[FRandom() % 15]) + " ";
            text += "\r\n";
        }
        return text;
    }

    std::mt19937 FRandom{20080603};
};

struct TCorpus
{
    std::vector<std::string> Raw;
    std::vector<std::unique_ptr<TStringList>> Lines;
    int64_t Bytes = 0;
};

TCorpus MakeCorpus(int64_t ABytes)
{
    TCorpus corpus;
    TCorpusMaker maker;
    for (int number = 0; corpus.Bytes < ABytes; ++number) {
        corpus.Raw.push_back(maker.Make(number));
        corpus.Lines.push_back(std::make_unique<TStringList>());
        corpus.Lines.back()->SetText(corpus.Raw.back());
        corpus.Bytes += static_cast<int64_t>(corpus.Raw.back().size());
    }
    return corpus;
}

/// Loads every message; returns the decoded bytes, so that nothing is optimised away.
int64_t LoadAll(TCorpus& ACorpus)
{
    TixMailMessage message;
    int64_t decoded = 0;
    message.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData, bool&) {
        AData = std::make_unique<TMemoryStream>();
    };
    message.OnDataAdded = [&](TObject*, TixMessageBody*, TStream& AData) { decoded += AData.GetSize(); };
    for (auto& lines : ACorpus.Lines)
        message.LoadMessage(*lines);
    return decoded;
}

void DecodePart(GMimeObject*, GMimeObject* APart, gpointer AData)
{
    *static_cast<int64_t*>(AData) += bench::GMimeDecodedSize(APart);
}

int64_t GMimeLoadAll(const TCorpus& ACorpus)
{
    int64_t decoded = 0;
    for (const std::string& raw : ACorpus.Raw) {
        GMimeStream* stream =
            g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
        if (message) {
            g_mime_message_foreach(message, &DecodePart, &decoded);
            g_object_unref(message);
        }
        g_object_unref(parser);
        g_object_unref(stream);
    }
    return decoded;
}

template <typename TRun>
double BestSeconds(TRun ARun, int64_t& AResult)
{
    double best = 1e9;
    for (int run = 0; run < Runs; ++run) {
        const auto start = TClock::now();
        AResult = ARun();
        best = std::min(best, Seconds(start));
    }
    return best;
}

void RunCorpus()
{
    TCorpus corpus = MakeCorpus(CorpusBytes);
    const double mb = static_cast<double>(corpus.Bytes) / (1024 * 1024);
    std::printf("corpus: %zu messages, %.1f MB; peak RSS after building it %.0f MB\n", corpus.Raw.size(), mb, PeakRssMB());
    int64_t ours = 0;
    const double oursSeconds = BestSeconds([&] { return LoadAll(corpus); }, ours);
    std::printf("%-34s %8.1f MB/s  decoded %.1f MB  peak RSS %.0f MB\n", "TixMailMessage.LoadMessage",
        mb / oursSeconds, static_cast<double>(ours) / (1024 * 1024), PeakRssMB());
    g_mime_init();
    int64_t theirs = 0;
    const double gmimeSeconds = BestSeconds([&] { return GMimeLoadAll(corpus); }, theirs);
    std::printf("%-34s %8.1f MB/s  decoded %.1f MB  peak RSS %.0f MB\n", "GMime 3 parse + decode",
        mb / gmimeSeconds, static_cast<double>(theirs) / (1024 * 1024), PeakRssMB());
    std::printf("ratio LoadMessage / GMime: %.2f\n", gmimeSeconds / oursSeconds);
    g_mime_shutdown();
}

/// The lines of a message of about LargeMessageBytes whose attachment has LargeAttachmentBytes
/// of base64, made piece by piece so that no copy of the whole text exists.
std::unique_ptr<TStringList> MakeLargeMessage(int64_t& ABytes)
{
    TCorpusMaker maker;
    auto lines = std::make_unique<TStringList>();
    lines->SetText("From: a@example.com\r\nSubject: large\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
                   "see attachment\r\n--b\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n");
    lines->Add("");
    constexpr size_t ChunkBytes = 57 * 1024; // whole 76-character lines
    for (int64_t encoded = 0; encoded < LargeAttachmentBytes; encoded += ChunkBytes / 3 * 4 + ChunkBytes / 57 * 2)
        AddTextToStrings(*lines, maker.Base64(maker.RandomBytes(ChunkBytes)));
    lines->Add("--b--");
    while (GetStringsSize(*lines) < LargeMessageBytes)
        lines->Add("epilogue line of padding text to reach the message size of the test");
    ABytes = GetStringsSize(*lines);
    return lines;
}

void RunLarge()
{
    int64_t bytes = 0;
    const std::unique_ptr<TStringList> lines = MakeLargeMessage(bytes);
    const double messageMB = static_cast<double>(bytes) / (1024 * 1024);
    const double before = PeakRssMB();
    int64_t decoded = 0;
    TixMailMessage message;
    message.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData, bool&) {
        AData = std::make_unique<TMemoryStream>();
    };
    message.OnAttachmentSaved = [&](TObject*, TixMessageBody*, const std::string&, TStream& AData) {
        decoded = AData.GetSize();
    };
    const auto start = TClock::now();
    message.LoadMessage(*lines);
    const double seconds = Seconds(start);
    const double peak = PeakRssMB();
    std::printf("large message: %.1f MB as %d lines, attachment decoded to %.1f MB in %.3f s\n", messageMB,
        lines->Count(), static_cast<double>(decoded) / (1024 * 1024), seconds);
    std::printf("peak RSS %.0f MB = %.2f x the message (before the load: %.0f MB; added by the load: %.0f MB)\n",
        peak, peak / messageMB, before, peak - before);
}

/// A message of APartCount tiny text parts: load time and memory should grow in proportion.
void RunTinyParts(int APartCount)
{
    TStringList lines;
    lines.Add("Content-Type: multipart/mixed; boundary=b");
    lines.Add("");
    for (int i = 0; i < APartCount; ++i) {
        lines.Add("--b");
        lines.Add("Content-Type: text/plain");
        lines.Add("");
        lines.Add(std::to_string(i));
    }
    const double messageMB = static_cast<double>(GetStringsSize(lines)) / (1024 * 1024);
    const double before = PeakRssMB();
    TixMailMessage message;
    const auto start = TClock::now();
    message.LoadMessage(lines);
    const double seconds = Seconds(start);
    std::printf("%8d tiny parts (%.1f MB): %.3f s, %.2f us per part, %.0f MB added (%.0f bytes per part)\n",
        message.GetBodies().Count(), messageMB, seconds, seconds * 1e6 / APartCount, PeakRssMB() - before,
        (PeakRssMB() - before) * 1024 * 1024 / APartCount);
}

/// A header that servers may send and that once took time growing with the square of its
/// size: AMake(n) gives the message for n repetitions of its hostile piece.
struct THostileHeader
{
    const char* Name;
    std::string (*Make)(int ACount);
};

std::string FailingWords(int ACount)
{
    // Words whose base64 holds a character outside the alphabet, with one "?=" at the very end.
    std::string subject;
    for (int i = 0; i < ACount; ++i)
        subject += "=?utf-8?b?QU*J";
    return "Subject: " + subject + "?=\r\n\r\n";
}

std::string FoldedAddresses(int ACount)
{
    std::string to = "To: <a0@example.com>";
    for (int i = 1; i < ACount; ++i)
        to += "\r\n <a" + std::to_string(i) + "@example.com>";
    return to + "\r\n\r\n";
}

std::string FileNamePieces(int ACount)
{
    std::string header = "Content-Type: application/octet-stream\r\nContent-Disposition: attachment";
    for (int i = 0; i < ACount; ++i)
        header += ";\r\n filename*" + std::to_string(i) + "*=" + (i == 0 ? "utf-8''" : "") + "%41%42";
    return header + "\r\n\r\nx\r\n";
}

/// GMime reading the same header: the subject, the recipients and the file name.
[[gnu::noinline]] void GMimeReadHeader(const std::string& AText)
{
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(AText.data(), AText.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    if (GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr)) {
        g_mime_message_get_subject(message);
        g_free(internet_address_list_to_string(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO), nullptr, FALSE));
        if (GMimeObject* part = g_mime_message_get_mime_part(message); part && GMIME_IS_PART(part))
            g_mime_part_get_filename(GMIME_PART(part));
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// The median CPU time of ARun over five runs (CPU time, so that other programs on the machine
/// do not blur the growth).
template <typename TRun>
double MedianCpuSeconds(TRun ARun)
{
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        const double start = ThreadCpuSeconds();
        ARun();
        times.push_back(ThreadCpuSeconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

const THostileHeader HostileHeaders[] = {
    {"Subject of failing encoded words", &FailingWords},
    {"address list folded over lines", &FoldedAddresses},
    {"file name in RFC 2231 pieces", &FileNamePieces},
};

/// The message of hostile header AHeader at AFactor times its base size, as lines.
std::string HostileText(const THostileHeader& AHeader, int AFactor)
{
    return AHeader.Make(2500 * AFactor);
}

/// Each hostile header at 1x, 4x and 16x its base size: the load time must grow 1x, 4x, 16x.
void RunHostile()
{
    const auto& headers = HostileHeaders;
    g_mime_init();
    std::printf("%-34s %5s %9s %12s %8s %12s %8s\n", "hostile header (CPU time)", "size", "KB", "LoadMessage ms",
        "ratio", "GMime ms", "ratio");
    for (const THostileHeader& header : headers) {
        double base = 0;
        double gmimeBase = 0;
        for (const int factor : {1, 4, 16}) {
            const std::string text = HostileText(header, factor);
            TStringList lines;
            lines.SetText(text);
            TixMailMessage message;
            const double seconds = MedianCpuSeconds([&] { message.LoadMessage(lines); });
            const double gmimeSeconds = MedianCpuSeconds([&] { GMimeReadHeader(text); });
            if (factor == 1) {
                base = seconds;
                gmimeBase = gmimeSeconds;
            }
            std::printf("%-34s %4dx %9.0f %14.2f %8.1f %12.2f %8.1f\n", header.Name, factor,
                static_cast<double>(text.size()) / 1024, seconds * 1e3, seconds / base, gmimeSeconds * 1e3,
                gmimeSeconds / gmimeBase);
        }
    }
    g_mime_shutdown();
}

/// One load of hostile header AIndex at AFactor by each side, nothing timed: run under
/// callgrind, the instructions of LoadMessage and of GMimeReadHeader show the growth without
/// the cache and allocator effects that blur the CPU times.
int RunHostileOnce(int AIndex, int AFactor)
{
    if (AIndex < 0 || AIndex >= static_cast<int>(std::size(HostileHeaders)) || AFactor < 1)
        return 2;
    const std::string text = HostileText(HostileHeaders[AIndex], AFactor);
    TStringList lines;
    lines.SetText(text);
    TixMailMessage message;
    message.LoadMessage(lines);
    g_mime_init();
    GMimeReadHeader(text);
    g_mime_shutdown();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "corpus") {
        RunCorpus();
    } else if (what == "large") {
        RunLarge();
    } else if (what == "hostile") {
        RunHostile();
    } else if (what == "hostile-once" && argc == 4) {
        return RunHostileOnce(std::atoi(argv[2]), std::atoi(argv[3]));
    } else if (what == "tiny") {
        RunTinyParts(std::atoi(argc > 2 ? argv[2] : "100000"));
    } else {
        // Each run in its own process, so that each peak memory figure is its own.
        const std::string self = argv[0];
        for (const char* run : {" corpus", " large", " tiny 250000", " tiny 1000000", " hostile"})
            if (std::system((self + run).c_str()) != 0)
                return 1;
    }
    return 0;
}
