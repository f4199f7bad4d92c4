// MIME loading end to end, beside GMime 3 doing the same work in the same run: the bytes of each
// message read from its file (in the page cache) to decoded leaves.
//   TixMailMessage: LoadFromFile (the file's text in one line buffer, then LoadMessage); text
//                   bodies decoded and converted into their lines, attachments decoded into
//                   memory streams
//                   (OnSaveAttachment, OnAttachmentSaved; no OnDataAdded handler).
//   GMime 3:        a file stream -> GMimeParser -> every leaf part decoded: text parts to UTF-8
//                   text (g_mime_text_part_get_text), other parts into memory streams.
// The corpora are generated deterministically into DIR on first use:
//   mixed: 2,000 typical messages (several charsets, quoted-printable and base64, nested
//          multiparts, uuencode, attachments up to 2 MB);
//   large: 20 messages of 6 to 10 MB (attachments up to 10 MB, long text bodies).
// Each side runs in a child process of its own. Figures are medians over RUNS passes: MB/s
// (wall clock), CPU seconds and the peak memory a pass added. A separate row gives LoadMessage
// over lines already in memory, which is not the work GMime does.
//
//   mime_bench [RUNS [DIR [mixed|large]]]
//                               both corpora or one (default 3 runs, DIR /tmp/ix-mime-bench)
//   mime_bench memory [DIR]     peak memory of single large messages, loaded from a file and
//                               retrieved over POP3 into a TixMailMessage
#include "bench_util.h"
#include "gmime_util.h"
#include "message/ixMailMessage.h"
#include "message/ixMimeBodies.h"
#include "pop3/ixPop3.h"
#include "util/ixUtils.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace ix;
using namespace ix::bench;
namespace fs = std::filesystem;

namespace {

constexpr int MixedCount = 2000;
constexpr int LargeCount = 20;
constexpr const char* CorpusVersion = "mime-bench corpus 1";

// ---- Memory figures -----------------------------------------------------------------------

/// A figure of /proc/self/status in MB ("VmRSS", "VmHWM").
double StatusMB(const char* AName)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(AName) + ":";
    while (std::getline(status, line))
        if (line.starts_with(prefix))
            return std::strtod(line.c_str() + prefix.size(), nullptr) / 1024.0;
    return 0;
}

/// Starts a new peak: the high-water mark becomes the current resident size, which is returned.
double ResetPeakMB()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusMB("VmRSS");
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// One pass: wall seconds, CPU seconds, peak MB added, decoded bytes.
struct TPass
{
    double Wall = 0;
    double Cpu = 0;
    double PeakMB = 0;
    double DecodedMB = 0;
};

/// Runs AWork (which returns the decoded bytes) once, measured; the peak is what it added to
/// the memory in use before it.
TPass Measure(const std::function<int64_t()>& AWork)
{
    const double base = StatusMB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ProcessCpuSeconds();
    const int64_t decoded = AWork();
    TPass pass;
    pass.Cpu = ProcessCpuSeconds() - cpu;
    pass.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    pass.PeakMB = StatusMB("VmHWM") - base; // the caller reset the high-water mark
    pass.DecodedMB = static_cast<double>(decoded) / (1024 * 1024);
    return pass;
}

/// Runs AWork in a child process and returns what it wrote back.
template <typename T>
T InChild(const std::function<T()>& AWork)
{
    int fds[2];
    if (pipe(fds) != 0)
        Fail("pipe failed");
    const pid_t child = fork();
    if (child < 0)
        Fail("fork failed");
    if (child == 0) {
        close(fds[0]);
        const T result = AWork();
        const bool written = write(fds[1], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    T result{};
    const bool complete = read(fds[0], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("a measuring child process failed");
    return result;
}

/// The median of each figure over ARuns passes of AWork, all in one child process after
/// ASetUp; the peak memory is the most any pass added to what the set-up left.
TPass MedianPass(int ARuns, const std::function<void()>& ASetUp, const std::function<int64_t()>& AWork)
{
    return InChild<TPass>([&] {
        ASetUp();
        const double base = ResetPeakMB();
        std::vector<TPass> passes;
        for (int run = 0; run < ARuns; ++run)
            passes.push_back(Measure(AWork));
        auto median = [&](double TPass::*AField) {
            std::vector<double> values;
            for (const TPass& pass : passes)
                values.push_back(pass.*AField);
            std::sort(values.begin(), values.end());
            return values[values.size() / 2];
        };
        return TPass{median(&TPass::Wall), median(&TPass::Cpu), StatusMB("VmHWM") - base, median(&TPass::DecodedMB)};
    });
}

// ---- The corpora --------------------------------------------------------------------------

/// Deterministic message text.
class TMessageMaker
{
public:
    explicit TMessageMaker(uint32_t ASeed) : FRandom(ASeed) {}

    uint32_t Below(uint32_t ALimit) { return FRandom() % ALimit; }

    std::string RandomBytes(size_t ASize)
    {
        std::string data(ASize, '\0');
        for (size_t i = 0; i + 4 <= ASize; i += 4) {
            const uint32_t value = FRandom();
            std::memcpy(&data[i], &value, 4);
        }
        return data;
    }

    /// ALines lines of words in ACharSet ("utf-8", "iso-8859-1", "iso-8859-2" or "koi8-r").
    std::string Text(std::string_view ACharSet, int ALines)
    {
        static const char* const Plain[] = {"mail", "message", "report", "the", "of", "and", "total", "quarterly",
            "numbers", "meeting", "tomorrow", "please", "find", "attached", "regards"};
        static const char* const Utf8[] = {"caf\xC3\xA9", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
            "gr\xC3\xBC\xC3\x9F" "e", "\xE2\x82\xAC" "12"};
        static const char* const Latin1[] = {"caf\xE9", "gr\xFC\xDF" "e", "na\xEFve", "\xA3" "5"};
        static const char* const Latin2[] = {"\xB1" "ol", "\xBF\xF3\xB3w", "\xE8" "as", "d\xEC" "kuji"};
        static const char* const Koi8[] = {"\xD0\xD2\xC9\xD7\xC5\xD4", "\xCD\xC9\xD2", "\xC4\xC1", "\xD4\xC5\xCB\xD3\xD4"};
        const char* const* special = ACharSet == "utf-8" ? Utf8
            : ACharSet == "iso-8859-1"                   ? Latin1
            : ACharSet == "iso-8859-2"                   ? Latin2
                                                         : Koi8;
        std::string text;
        for (int line = 0; line < ALines; ++line) {
            for (int word = 0; word < 11; ++word) {
                const uint32_t pick = Below(19);
                text += pick < 15 ? Plain[pick] : special[pick - 15];
                text += ' ';
            }
            text += "\r\n";
        }
        return text;
    }

    static std::string Base64(std::string_view AData) { return TixEncoder::EncodeWith(cmBase64, std::string(AData)) + "\r\n"; }
    static std::string QuotedPrintable(std::string_view AText)
    {
        return TixEncoder::EncodeWith(cmQuotedPrintable, std::string(AText)) + "\r\n";
    }

    static std::string Header(int ANumber, std::string_view AContentFields)
    {
        const std::string number = std::to_string(ANumber);
        return "Return-Path: <sender@example.com>\r\nReceived: from mx.example.com by mail.example.org; "
               "Tue, 3 Jun 2008 10:20:31 +0200\r\nFrom: =?utf-8?Q?S=C3=A9bastien_Sender?= <sender@example.com>\r\n"
               "To: Someone <rcpt@example.org>, other@example.org\r\nSubject: =?iso-8859-1?Q?Message_n=B0_" + number +
            "?=\r\nDate: Tue, 3 Jun 2008 10:20:30 +0200\r\nMessage-ID: <m" + number + "@example.com>\r\n"
            "MIME-Version: 1.0\r\nX-Mailer: bench\r\n" + std::string(AContentFields) + "\r\n";
    }

    static std::string TextPart(std::string_view AType, std::string_view ACharSet, std::string_view AEncoding,
        std::string_view ABody)
    {
        return "Content-Type: " + std::string(AType) + "; charset=" + std::string(ACharSet) +
            "\r\nContent-Transfer-Encoding: " + std::string(AEncoding) + "\r\n\r\n" + std::string(ABody);
    }

    std::string Attachment(std::string_view AType, std::string_view AName, size_t ASize, bool AInline = false)
    {
        return "Content-Type: " + std::string(AType) + "; name=\"" + std::string(AName) + "\"\r\nContent-Disposition: " +
            (AInline ? "inline" : "attachment") + "; filename=\"" + std::string(AName) +
            "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(RandomBytes(ASize));
    }

    static std::string Multipart(std::string_view ASubType, std::string_view ABoundary, const std::vector<std::string>& AParts)
    {
        std::string text = "Content-Type: multipart/" + std::string(ASubType) + "; boundary=\"" + std::string(ABoundary) +
            "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n";
        for (const std::string& part : AParts)
            text += "--" + std::string(ABoundary) + "\r\n" + part;
        return text + "--" + std::string(ABoundary) + "--\r\n";
    }

    std::string UUEncoded(std::string_view AName, size_t ASize)
    {
        std::string block = TixEncoder::EncodeWith(cmUUEncode, RandomBytes(ASize));
        if (!block.ends_with("\r\n"))
            block += "\r\n";
        return "begin 644 " + std::string(AName) + "\r\n" + block + "`\r\nend\r\n";
    }

    std::string Html(int ALines) { return "<html><body><p>" + Text("utf-8", ALines) + "</p></body></html>\r\n"; }

    /// A single-part message of ALines lines of UTF-8 text, 8bit.
    std::string PlainText(int ANumber, int ALines)
    {
        return Header(ANumber, "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n") +
            Text("utf-8", ALines);
    }

    /// A single-part message of ALines lines of ISO-8859-1 text, quoted-printable.
    std::string QuotedText(int ANumber, int ALines)
    {
        return Header(ANumber, "Content-Type: text/plain; charset=iso-8859-1\r\n"
                               "Content-Transfer-Encoding: quoted-printable\r\n") +
            QuotedPrintable(Text("iso-8859-1", ALines));
    }

    /// One message of the mixed corpus.
    std::string Typical(int ANumber)
    {
        const int lines = 40 + static_cast<int>(Below(160));
        switch (ANumber % 10) {
        case 0:
        case 1:
            return PlainText(ANumber, lines);
        case 2:
            return QuotedText(ANumber, lines);
        case 3:
            return Header(ANumber, Multipart("alternative", "alt-" + std::to_string(ANumber),
                                       {TextPart("text/plain", "koi8-r", "8bit", Text("koi8-r", lines)),
                                           TextPart("text/html", "utf-8", "quoted-printable", QuotedPrintable(Html(lines)))}));
        case 4: {
            std::vector<std::string> parts{Multipart("alternative", "alt",
                {TextPart("text/plain", "utf-8", "quoted-printable", QuotedPrintable(Text("utf-8", lines))),
                    TextPart("text/html", "utf-8", "base64", Base64(Html(lines)))})};
            for (uint32_t i = 0, count = 1 + Below(2); i < count; ++i)
                parts.push_back(Attachment("application/pdf", "report" + std::to_string(i) + ".pdf", 10000 + Below(100000)));
            return Header(ANumber, Multipart("mixed", "mix", parts));
        }
        case 5:
            return Header(ANumber, Multipart("mixed", "mix",
                                       {TextPart("text/plain", "iso-8859-2", "quoted-printable",
                                            QuotedPrintable(Text("iso-8859-2", lines))),
                                           Attachment("application/octet-stream", "data.bin", 20000 + Below(200000))}));
        case 6:
            return Header(ANumber, "") + Text("utf-8", lines / 4) + UUEncoded("photo.jpg", 10000 + Below(60000)) +
                Text("utf-8", 5);
        case 7:
            return Header(ANumber,
                Multipart("mixed", "outer",
                    {Multipart("related", "rel",
                         {Multipart("alternative", "alt",
                              {TextPart("text/plain", "utf-8", "8bit", Text("utf-8", lines)),
                                  TextPart("text/html", "utf-8", "quoted-printable", QuotedPrintable(Html(lines)))}),
                             Attachment("image/png", "logo.png", 5000 + Below(40000), true)}),
                        Attachment("application/zip", "files.zip", 10000 + Below(80000))}));
        case 8:
            return Header(ANumber, "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n") +
                Base64(Text("utf-8", lines));
        default:
            return Header(ANumber, Multipart("mixed", "mix",
                                       {TextPart("text/plain", "utf-8", "8bit", Text("utf-8", 20)),
                                           Attachment("application/octet-stream", "big.bin",
                                               ANumber % 100 == 9 ? 1000000 + Below(1000000) : 20000 + Below(40000))}));
        }
    }

    /// One message of the large corpus, 6 to 10 MB.
    std::string Large(int ANumber)
    {
        const size_t size = (6 + Below(4)) << 20;
        const int lines = static_cast<int>(size / 90);
        switch (ANumber % 5) {
        case 0:
            return Header(ANumber, Multipart("mixed", "mix",
                                       {TextPart("text/plain", "utf-8", "8bit", Text("utf-8", 30)),
                                           Attachment("application/octet-stream", "big.bin", size * 3 / 4)}));
        case 1:
            return PlainText(ANumber, lines);
        case 2:
            return QuotedText(ANumber, lines);
        case 3:
            return Header(ANumber, Multipart("mixed", "mix",
                                       {Multipart("alternative", "alt",
                                            {TextPart("text/plain", "utf-8", "quoted-printable",
                                                 QuotedPrintable(Text("utf-8", 200))),
                                                TextPart("text/html", "utf-8", "base64", Base64(Html(200)))}),
                                           Attachment("image/jpeg", "a.jpg", size / 4),
                                           Attachment("application/pdf", "b.pdf", size / 4),
                                           Attachment("application/zip", "c.zip", size / 4)}));
        default:
            return Header(ANumber, "") + Text("utf-8", 50) + UUEncoded("archive.tar", size * 3 / 4) + Text("utf-8", 5);
        }
    }

private:
    std::mt19937 FRandom;
};

void WriteFile(const fs::path& APath, const std::string& AText)
{
    std::ofstream file(APath, std::ios::binary);
    file.write(AText.data(), static_cast<std::streamsize>(AText.size()));
    if (!file)
        Fail("cannot write " + APath.string());
}

/// The files of the two corpora, generated when DIR does not hold this version of them.
struct TCorpora
{
    std::vector<std::string> Mixed;
    std::vector<std::string> Large;
};

TCorpora PrepareCorpora(const fs::path& ADir)
{
    TCorpora corpora;
    for (int i = 0; i < MixedCount; ++i)
        corpora.Mixed.push_back((ADir / "mixed" / (std::to_string(i) + ".eml")).string());
    for (int i = 0; i < LargeCount; ++i)
        corpora.Large.push_back((ADir / "large" / (std::to_string(i) + ".eml")).string());
    const fs::path stamp = ADir / "version";
    std::string version;
    std::getline(std::ifstream(stamp), version);
    if (version == CorpusVersion)
        return corpora;
    std::printf("generating the corpora in %s ...\n", ADir.c_str());
    std::fflush(stdout);
    fs::create_directories(ADir / "mixed");
    fs::create_directories(ADir / "large");
    // Made in a child, as the memory cases are, so that a run that makes them measures alike.
    InChild<int>([&] {
        TMessageMaker maker(20080603);
        for (int i = 0; i < MixedCount; ++i)
            WriteFile(corpora.Mixed[static_cast<size_t>(i)], maker.Typical(i));
        for (int i = 0; i < LargeCount; ++i)
            WriteFile(corpora.Large[static_cast<size_t>(i)], maker.Large(i));
        return 0;
    });
    std::ofstream(stamp) << CorpusVersion << "\n";
    return corpora;
}

int64_t FilesBytes(const std::vector<std::string>& AFiles)
{
    int64_t bytes = 0;
    for (const std::string& file : AFiles)
        bytes += static_cast<int64_t>(fs::file_size(file));
    return bytes;
}

/// Reads every file once, so that the timed passes find them in the page cache.
void WarmPageCache(const std::vector<std::string>& AFiles)
{
    std::vector<char> buffer(1 << 20);
    for (const std::string& file : AFiles) {
        const int fd = open(file.c_str(), O_RDONLY);
        while (fd >= 0 && read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    }
}

// ---- The two sides ------------------------------------------------------------------------

/// The bytes of the text bodies' lines (with CR LF) in ABodies and the bodies nested in them.
int64_t TextBytes(const TixMessageBodies& ABodies)
{
    int64_t bytes = 0;
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        if (auto* text = dynamic_cast<TixTextBody*>(&ABodies[i]))
            bytes += GetStringsSize(text->GetStrings());
        else if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABodies[i]))
            bytes += TextBytes(multipart->GetBodies());
    }
    return bytes;
}

/// A message as an application sets one up: attachments are decoded into memory streams (and
/// counted); text bodies are decoded into their lines.
class TCountingMessage
{
public:
    TCountingMessage()
    {
        FMessage.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData, bool&) {
            AData = std::make_unique<TMemoryStream>();
        };
        FMessage.OnAttachmentSaved = [this](TObject*, TixMessageBody*, const std::string&, TStream& AData) {
            FDecoded += AData.GetSize();
        };
    }

    TixMailMessage& Message() noexcept { return FMessage; }
    /// The decoded bytes of the message loaded last: attachments and text lines.
    int64_t TakeDecoded() { return std::exchange(FDecoded, 0) + TextBytes(FMessage.GetBodies()); }

private:
    TixMailMessage FMessage;
    int64_t FDecoded = 0;
};

/// File to decoded leaves with the library, as an application loads a message file.
int64_t LoadFile(TCountingMessage& AMessage, const std::string& AFile)
{
    AMessage.Message().LoadFromFile(AFile);
    return AMessage.TakeDecoded();
}

void DecodeLeaf(GMimeObject*, GMimeObject* APart, gpointer AData)
{
    auto& decoded = *static_cast<int64_t*>(AData);
    if (GMIME_IS_TEXT_PART(APart)) {
        char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(APart));
        decoded += text ? static_cast<int64_t>(std::strlen(text)) : 0;
        g_free(text);
        return;
    }
    decoded += GMimeDecodedSize(APart);
}

/// File to decoded leaves with GMime.
int64_t GMimeLoadFile(const std::string& AFile)
{
    const int fd = open(AFile.c_str(), O_RDONLY);
    if (fd < 0)
        Fail("cannot open " + AFile);
    GMimeStream* stream = g_mime_stream_fs_new(fd);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    int64_t decoded = 0;
    if (GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr)) {
        g_mime_message_foreach(message, &DecodeLeaf, &decoded);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return decoded;
}

void PrintPass(const char* ASide, const TPass& APass, double AMB)
{
    std::printf("  %-44s %8.1f %8.3f %9.1f %11.1f\n", ASide, AMB / APass.Wall, APass.Cpu, APass.PeakMB, APass.DecodedMB);
}

/// Our speed over GMime's: by wall-clock time and by CPU time.
struct TRatio
{
    double Wall = 0;
    double Cpu = 0;
};

/// Both sides over the files of one corpus.
TRatio RunCorpus(const char* AName, const std::vector<std::string>& AFiles, int ARuns)
{
    const double mb = static_cast<double>(FilesBytes(AFiles)) / (1024 * 1024);
    size_t largest = 0;
    for (const std::string& file : AFiles)
        largest = std::max<size_t>(largest, fs::file_size(file));
    std::printf("\n%s corpus: %zu messages, %.1f MB (largest %.1f MB); median of %d passes\n", AName, AFiles.size(), mb,
        static_cast<double>(largest) / (1024 * 1024), ARuns);
    std::printf("  %-44s %8s %8s %9s %11s\n", "file bytes -> decoded leaves", "MB/s", "CPU s", "peak MB", "decoded MB");
    WarmPageCache(AFiles);
    std::unique_ptr<TCountingMessage> message; // made in each child process
    const TPass ours = MedianPass(ARuns, [&] { message = std::make_unique<TCountingMessage>(); }, [&] {
        int64_t decoded = 0;
        for (const std::string& file : AFiles)
            decoded += LoadFile(*message, file);
        return decoded;
    });
    PrintPass("TixMailMessage (LoadFromFile)", ours, mb);
    const TPass gmime = MedianPass(ARuns, [] { g_mime_init(); }, [&] {
        int64_t decoded = 0;
        for (const std::string& file : AFiles)
            decoded += GMimeLoadFile(file);
        return decoded;
    });
    PrintPass("GMime 3 (parser, part contents)", gmime, mb);
    const TRatio ratio{gmime.Wall / ours.Wall, gmime.Cpu / ours.Cpu};
    std::printf("  ratio TixMailMessage / GMime: speed %.2f, CPU %.2f; peak memory added %.2f x the largest message\n",
        ratio.Wall, ratio.Cpu, ours.PeakMB / (static_cast<double>(largest) / (1024 * 1024)));
    // Not the same work: the lines are split before the clock starts.
    std::vector<std::unique_ptr<TStringList>> split;
    const TPass inMemory = MedianPass(ARuns,
        [&] {
            message = std::make_unique<TCountingMessage>();
            for (const std::string& file : AFiles) {
                split.push_back(std::make_unique<TStringList>());
                TFileStream stream(file, fmOpenRead | fmShareDenyWrite);
                AddStreamToStrings(*split.back(), stream);
            }
        },
        [&] {
            int64_t decoded = 0;
            for (auto& lines : split) {
                message->Message().LoadMessage(*lines);
                decoded += message->TakeDecoded();
            }
            return decoded;
        });
    PrintPass("separate row: LoadMessage over lines in memory", inMemory, mb);
    return ratio;
}

// ---- Single large messages: peak memory ---------------------------------------------------

struct TMemoryCase
{
    const char* Name;
    std::string (*Make)(TMessageMaker& AMaker);
};

constexpr size_t MemoryCaseBytes = 64 << 20;

std::string LargeText(TMessageMaker& AMaker)
{
    return AMaker.PlainText(1, static_cast<int>(MemoryCaseBytes / 86));
}

std::string LargeQuotedPrintable(TMessageMaker& AMaker)
{
    return AMaker.QuotedText(2, static_cast<int>(MemoryCaseBytes / 110));
}

std::string LargeAttachment(TMessageMaker& AMaker)
{
    return TMessageMaker::Header(3, TMessageMaker::Multipart("mixed", "mix",
                                        {TMessageMaker::TextPart("text/plain", "utf-8", "8bit", AMaker.Text("utf-8", 20)),
                                            AMaker.Attachment("application/octet-stream", "big.bin", (50u << 20) / 4 * 3)}));
}

std::string LargeNested(TMessageMaker& AMaker)
{
    const std::string text = AMaker.Text("utf-8", static_cast<int>(MemoryCaseBytes / 4 / 86));
    return TMessageMaker::Header(4,
        TMessageMaker::Multipart("mixed", "outer",
            {TMessageMaker::Multipart("alternative", "alt",
                 {TMessageMaker::TextPart("text/plain", "utf-8", "8bit", text),
                     TMessageMaker::TextPart("text/html", "utf-8", "quoted-printable", TMessageMaker::QuotedPrintable(text))}),
                AMaker.Attachment("application/pdf", "a.pdf", MemoryCaseBytes / 4)}));
}

/// Serves one POP3 session from a child process: "+OK" to every command, AFile's bytes
/// (dot-stuffed) to "RETR".
pid_t ServeFile(const TListener& AListener, const std::string& AFile)
{
    const pid_t child = fork();
    if (child != 0)
        return child;
    std::ifstream file(AFile, std::ios::binary);
    std::string message;
    for (std::string line; std::getline(file, line);)
        message += (line.starts_with(".") ? "." : "") + line + "\n";
    ServePop3(AListener.Accept(), "+OK\r\n", message);
    _exit(0);
}

/// Peak memory added while a message is loaded from its file, and while it is retrieved over
/// POP3 into a TixMailMessage, each in a child process.
void RunMemory(const fs::path& ADir)
{
    const TMemoryCase cases[] = {
        {"text, 8bit utf-8", &LargeText},
        {"text, quoted-printable iso-8859-1", &LargeQuotedPrintable},
        {"base64 attachment", &LargeAttachment},
        {"nested multipart, text, HTML and attachment", &LargeNested},
    };
    fs::create_directories(ADir / "memory");
    StartSockets();
    std::printf("\npeak memory added while one message is loaded (goal: at most 3 x its size + 10 MB)\n");
    std::printf("  %-44s %8s %-22s %9s %8s %8s\n", "message", "MB", "path", "peak MB", "x size", "s");
    for (size_t number = 0; number < std::size(cases); ++number) {
        const TMemoryCase& memoryCase = cases[number];
        const fs::path file = ADir / "memory" / (std::to_string(number) + ".eml");
        // Made in a child: memory the making leaves free in this process would be inherited as
        // resident by the measuring children and hide part of what they add (the figures then
        // depended on whether the run made the files).
        if (!fs::exists(file)) {
            InChild<int>([&] {
                TMessageMaker maker(7);
                WriteFile(file, memoryCase.Make(maker));
                return 0;
            });
        }
        const double mb = static_cast<double>(fs::file_size(file)) / (1024 * 1024);
        WarmPageCache({file.string()});
        const TPass fromFile = InChild<TPass>([&] {
            TCountingMessage message;
            ResetPeakMB();
            return Measure([&] { return LoadFile(message, file.string()); });
        });
        const TPass retrieved = InChild<TPass>([&] {
            const TListener listener;
            const pid_t server = ServeFile(listener, file.string());
            TCountingMessage message;
            TixPop3 client;
            client.SetServer("127.0.0.1");
            client.SetPort(listener.Port());
            client.SetUserName("user");
            client.SetPassword("password");
            client.Open();
            ResetPeakMB();
            const TPass pass = Measure([&] {
                client.Retrieve(1, &message.Message());
                return message.TakeDecoded();
            });
            client.Close();
            waitpid(server, nullptr, 0);
            return pass;
        });
        for (const auto& [path, pass] : {std::pair{"file -> LoadFromFile", fromFile}, {"POP3 Retrieve", retrieved}})
            std::printf("  %-44s %8.1f %-22s %9.1f %8.2f %8.2f\n", memoryCase.Name, mb, path, pass.PeakMB,
                pass.PeakMB / mb, pass.Wall);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "memory") {
        RunMemory(argc > 2 ? argv[2] : "/tmp/ix-mime-bench");
        return 0;
    }
    const int runs = first.empty() ? 3 : std::max(1, std::atoi(first.c_str()));
    const TCorpora corpora = PrepareCorpora(argc > 2 ? argv[2] : "/tmp/ix-mime-bench");
    const std::string only = argc > 3 ? argv[3] : "";
    const TRatio mixed = only == "large" ? TRatio{} : RunCorpus("mixed", corpora.Mixed, runs);
    const TRatio large = only == "mixed" ? TRatio{} : RunCorpus("large", corpora.Large, runs);
    std::printf("\nspeed over GMime 3, end to end (wall clock / CPU time): mixed %.2f / %.2f (goal 1.5), "
                "large %.2f / %.2f (goal 1.2)\n",
        mixed.Wall, mixed.Cpu, large.Wall, large.Cpu);
    return 0;
}
