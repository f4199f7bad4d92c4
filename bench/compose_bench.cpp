// Composing and writing whole messages beside GMime 3 (a comparison peer linked here only):
// 1,000 typical messages (text and HTML alternatives, 1-3 attachments of 10-500 KB) built
// through each library's API and written to memory (SaveToStream; g_mime_object_write_to_stream
// with CR LF line ends), MB/s of output and peak memory; then one message with a 200 MB
// attachment composed from its file, with the peak memory beside the encoded output.
//
// Each run is a process of its own (this program started again with the phase's name), so that
// its peak resident size is its own.
//   compose_bench            runs every phase and prints the table
//   compose_bench PHASE      one run of ix | gmime | large; prints "bytes seconds"
#include <gmime/gmime.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "message/ixMailMessage.h"

using namespace ix;

namespace {

constexpr int MessageCount = 1000;
constexpr int Runs = 3;
constexpr int PoolSize = 24;
constexpr int64_t LargeSize = 200LL << 20;

/// Attachment contents shared by the messages: random bytes of 10-500 KB.
const std::vector<std::string>& Pool()
{
    static const std::vector<std::string> pool = [] {
        std::mt19937 random(7);
        std::vector<std::string> result;
        for (int i = 0; i < PoolSize; ++i) {
            std::string data(std::uniform_int_distribution<size_t>(10 << 10, 500 << 10)(random), '\0');
            for (char& c : data)
                c = static_cast<char>(random());
            result.push_back(std::move(data));
        }
        return result;
    }();
    return pool;
}

std::string PlainText()
{
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "Line " + std::to_string(i) + " of the message text, as a person would write it.\r\n";
    return text;
}

std::string HtmlText()
{
    return "<html><body>\r\n<p>" + PlainText() + "</p>\r\n</body></html>\r\n";
}

/// The attachments of message AIndex: 1 to 3 entries of the pool.
std::vector<int> AttachmentsOf(int AIndex)
{
    std::vector<int> result;
    for (int n = 0; n <= AIndex % 3; ++n)
        result.push_back((AIndex * 7 + n * 5) % PoolSize);
    return result;
}

// ---- ix -----------------------------------------------------------------------------------

void AddText(TixMessageBodies& AList, const std::string& AType, const std::string& AText)
{
    auto& body = AList.Add<TixTextBody>();
    body.SetContentType(AType);
    body.SetCharSet("utf-8");
    body.GetStrings().SetText(AText);
}

int64_t ComposeIx(int AIndex)
{
    TixMailMessage message;
    message.OnLoadAttachment = [](TObject*, TixMessageBody*, std::string& AFileName, std::unique_ptr<TStream>& AData,
                                   bool& AHandled) {
        const std::string& data = Pool()[static_cast<size_t>(std::stoi(AFileName.substr(4)))];
        auto stream = std::make_unique<TMemoryStream>();
        stream->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
        stream->Seek(0, soBeginning);
        AData = std::move(stream);
        AHandled = true;
    };
    message.SetCharSet("utf-8");
    message.GetFrom().SetFullAddress("Sender <sender@example.org>");
    message.GetToList().AddAddress("Receiver <to@example.net>");
    message.SetSubject("Report " + std::to_string(AIndex));
    message.SetContentType("multipart/mixed");
    auto& alternative = message.GetBodies().Add<TixMultipartBody>();
    alternative.SetContentType("multipart/alternative");
    AddText(alternative.GetBodies(), "text/plain", PlainText());
    AddText(alternative.GetBodies(), "text/html", HtmlText());
    for (const int entry : AttachmentsOf(AIndex)) {
        auto& attachment = message.GetBodies().Add<TixAttachmentBody>();
        attachment.SetContentType("application/octet-stream");
        attachment.SetFileName("file" + std::to_string(entry));
    }
    TMemoryStream output;
    message.SaveToStream(output);
    return output.GetSize();
}

// ---- GMime --------------------------------------------------------------------------------

GMimeObject* GMimeText(const char* ASubtype, const std::string& AText)
{
    GMimeTextPart* part = g_mime_text_part_new_with_subtype(ASubtype);
    g_mime_text_part_set_text(part, AText.c_str());
    g_mime_part_set_content_encoding(
        GMIME_PART(part), g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    return GMIME_OBJECT(part);
}

int64_t ComposeGMime(int AIndex, GMimeFormatOptions* AOptions)
{
    GMimeMessage* message = g_mime_message_new(TRUE);
    g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_FROM, "Sender", "sender@example.org");
    g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_TO, "Receiver", "to@example.net");
    g_mime_message_set_subject(message, ("Report " + std::to_string(AIndex)).c_str(), "utf-8");
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    GMimeMultipart* alternative = g_mime_multipart_new_with_subtype("alternative");
    for (GMimeObject* text : {GMimeText("plain", PlainText()), GMimeText("html", HtmlText())}) {
        g_mime_multipart_add(alternative, text);
        g_object_unref(text);
    }
    g_mime_multipart_add(mixed, GMIME_OBJECT(alternative));
    g_object_unref(alternative);
    for (const int entry : AttachmentsOf(AIndex)) {
        const std::string& data = Pool()[static_cast<size_t>(entry)];
        GMimePart* attachment = g_mime_part_new_with_type("application", "octet-stream");
        g_mime_part_set_filename(attachment, ("file" + std::to_string(entry)).c_str());
        GMimeStream* stream =
            g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(data.data()), data.size());
        GMimeDataWrapper* content = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
        g_mime_part_set_content(attachment, content);
        g_mime_part_set_content_encoding(attachment, GMIME_CONTENT_ENCODING_BASE64);
        g_mime_multipart_add(mixed, GMIME_OBJECT(attachment));
        g_object_unref(content);
        g_object_unref(stream);
        g_object_unref(attachment);
    }
    g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed));
    g_object_unref(mixed);
    GMimeStream* output = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(GMIME_OBJECT(message), AOptions, output);
    const auto size = static_cast<int64_t>(g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(output))->len);
    g_object_unref(output);
    g_object_unref(message);
    return size;
}

// ---- Phases -------------------------------------------------------------------------------

int64_t RunIx()
{
    int64_t bytes = 0;
    for (int i = 0; i < MessageCount; ++i)
        bytes += ComposeIx(i);
    return bytes;
}

int64_t RunGMime()
{
    g_mime_init();
    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    int64_t bytes = 0;
    for (int i = 0; i < MessageCount; ++i)
        bytes += ComposeGMime(i, options);
    g_mime_format_options_free(options);
    g_mime_shutdown();
    return bytes;
}

/// One message with a text and a 200 MB attachment read from its file, written to a sink that
/// keeps nothing: the memory is the composer's own.
int64_t RunLarge(const std::string& AFileName)
{
    TixMailMessage message;
    message.GetFrom().SetFullAddress("sender@example.org");
    auto& text = message.GetBodies().Add<TixTextBody>();
    text.GetStrings().SetText("The file is attached.");
    auto& attachment = message.GetBodies().Add<TixAttachmentBody>();
    attachment.SetFileName(AFileName);
    bench::TCountingSink sink;
    message.SaveToStream(sink);
    return sink.Count();
}

struct TRun
{
    int64_t Bytes = 0;
    double Seconds = 0;
    double PeakMB = 0;
};

/// Runs this program with APhase in a child process: its output, and its peak resident size.
TRun RunChild(const std::string& APhase, const std::string& AArgument = {})
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        bench::Fail("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        execl("/proc/self/exe", "compose_bench", APhase.c_str(), AArgument.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[256] = {};
    const ssize_t read = ::read(pipeEnds[0], buffer, sizeof buffer - 1);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    TRun run;
    if (read <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(buffer, "%ld %lf", &run.Bytes, &run.Seconds) != 2)
        bench::Fail("phase " + APhase + " failed");
    run.PeakMB = static_cast<double>(usage.ru_maxrss) / 1024;
    return run;
}

TRun Median(const std::string& APhase)
{
    std::vector<TRun> runs;
    for (int i = 0; i < Runs; ++i)
        runs.push_back(RunChild(APhase));
    std::sort(runs.begin(), runs.end(), [](const TRun& A, const TRun& B) { return A.Seconds < B.Seconds; });
    return runs[Runs / 2];
}

int RunPhase(const std::string& APhase, const char* AArgument)
{
    const auto start = std::chrono::steady_clock::now();
    int64_t bytes = 0;
    if (APhase == "ix")
        bytes = RunIx();
    else if (APhase == "gmime")
        bytes = RunGMime();
    else if (APhase == "large" && AArgument)
        bytes = RunLarge(AArgument);
    else
        bench::Fail("unknown phase " + APhase);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("%ld %.6f\n", static_cast<long>(bytes), seconds.count());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        return RunPhase(argv[1], argc > 2 ? argv[2] : nullptr);

    const TRun ix = Median("ix");
    const TRun gmime = Median("gmime");
    const auto rate = [](const TRun& ARun) { return static_cast<double>(ARun.Bytes) / 1e6 / ARun.Seconds; };
    std::printf("Composing and writing %d messages (text + HTML + 1-3 attachments of 10-500 KB) to memory, "
                "median of %d runs\n",
        MessageCount, Runs);
    std::printf("%-38s %12s %10s %10s %10s\n", "", "output MB", "MB/s", "peak MB", "ratio");
    std::printf("%-38s %12.1f %10.1f %10.1f %10.2f\n", "ix SaveToStream", static_cast<double>(ix.Bytes) / 1e6,
        rate(ix), ix.PeakMB, rate(ix) / rate(gmime));
    std::printf("%-38s %12.1f %10.1f %10.1f %10.2f\n", "GMime 3 g_mime_object_write_to_stream",
        static_cast<double>(gmime.Bytes) / 1e6, rate(gmime), gmime.PeakMB, 1.0);

    const std::filesystem::path file = std::filesystem::temp_directory_path() / ("ix_compose_bench_" + std::to_string(getpid()));
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937 random(11);
        std::string block(1 << 20, '\0');
        for (int64_t written = 0; written < LargeSize; written += static_cast<int64_t>(block.size())) {
            for (char& c : block)
                c = static_cast<char>(random());
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    const TRun large = RunChild("large", file.string());
    std::filesystem::remove(file);
    std::printf("\nOne message with a %lld MB attachment composed from its file to a sink that keeps nothing\n",
        static_cast<long long>(LargeSize >> 20));
    std::printf("%-38s %12.1f %10.1f %10.1f %10.2f (peak / encoded output)\n", "ix SaveToStream",
        static_cast<double>(large.Bytes) / 1e6, rate(large), large.PeakMB,
        large.PeakMB * (1 << 20) / static_cast<double>(large.Bytes));
    return 0;
}
