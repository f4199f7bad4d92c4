// Throughput of the line splitter and the 8-bit character-set translation, each beside memcpy
// of the same data. Build with -DCMAKE_BUILD_TYPE=Release for meaningful figures.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "core/ixLineBuffer.h"
#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "platform/ixOsKernel.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace {

constexpr size_t DataSize = 100 * 1000 * 1000;
constexpr int Rounds = 3;

/// The best time of a few rounds of AWork, in seconds; ACleanup runs after each round, untimed.
double BestSeconds(const std::function<void()>& AWork, const std::function<void()>& ACleanup = {})
{
    double best = 1e30;
    for (int round = 0; round < Rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        AWork();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
        if (ACleanup)
            ACleanup();
    }
    return best;
}

double MemcpySeconds(const std::string& AData)
{
    std::string target(AData.size(), '\0');
    return BestSeconds([&] {
        std::memcpy(target.data(), AData.data(), AData.size());
        asm volatile("" : : "r"(target.data()) : "memory");
    });
}

/// Mail-like text: lines of 1 to 99 printable characters, each ended by CR LF.
std::string MakeCrLfText()
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> length(1, 99);
    std::uniform_int_distribution<int> printable(0x20, 0x7E);
    std::string text;
    text.reserve(DataSize + 128);
    while (text.size() < DataSize) {
        for (int i = length(random); i > 0; --i)
            text += static_cast<char>(printable(random));
        text += "\r\n";
    }
    return text;
}

/// Base64-like text as mail carries it: lines of 76 characters, each ended by CR LF.
std::string Make76ColumnText()
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int> printable(0x21, 0x7E);
    std::string text;
    text.reserve(DataSize + 128);
    while (text.size() < DataSize) {
        for (int i = 0; i < 76; ++i)
            text += static_cast<char>(printable(random));
        text += "\r\n";
    }
    return text;
}

/// Best time of splitting the text of AStream into a fresh list (freeing it is not timed).
template <typename TList = ix::TStringList>
double SplitSeconds(ix::TStream& AStream, size_t& ALines)
{
    auto list = std::make_unique<TList>();
    return BestSeconds(
        [&] {
            AStream.SetPosition(0);
            ix::TixStringsUtils(*list).AddTextStream(AStream);
        },
        [&] {
            ALines = static_cast<size_t>(list->Count());
            list = std::make_unique<TList>();
        });
}

std::string MakeIso88592Bytes()
{
    std::mt19937 random(2);
    std::uniform_int_distribution<int> byte(0x20, 0xFF);
    std::string bytes(DataSize, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

void PrintRow(const char* AName, size_t ABytes, double ASeconds, double AMemcpySeconds)
{
    const double megabytes = static_cast<double>(ABytes) / 1e6;
    std::printf("%-38s %10.0f %12.0f %9.1f%%\n", AName, megabytes / ASeconds, megabytes / AMemcpySeconds,
        100.0 * AMemcpySeconds / ASeconds);
}

} // namespace

int main()
{
    using namespace ix;
    std::printf("%-38s %10s %12s %10s\n", "operation (100 MB)", "MB/s", "memcpy MB/s", "of memcpy");

    const std::string text = MakeCrLfText();
    TMemoryStream stream;
    stream.WriteText(text);
    size_t lines = 0;
    PrintRow("TixStringsUtils.AddTextStream, CR LF", text.size(), SplitSeconds(stream, lines), MemcpySeconds(text));
    {
        const std::string columns = Make76ColumnText();
        TMemoryStream memory;
        memory.WriteText(columns);
        size_t columnLines = 0;
        const double copy = MemcpySeconds(columns);
        PrintRow("AddTextStream, 76-column CR LF, memory", columns.size(), SplitSeconds(memory, columnLines), copy);
        const std::string file = "/tmp/ix-util-bench-" + std::to_string(getpid()) + ".txt";
        memory.SaveToFile(file);
        {
            TFileStream stream76(file, fmOpenRead | fmShareDenyWrite);
            PrintRow("AddTextStream, 76-column CR LF, file", columns.size(), SplitSeconds(stream76, columnLines), copy);
            // A line buffer keeps the lines as views of one block until a string is asked for.
            PrintRow("into TLineBuffer (views until read), file", columns.size(),
                SplitSeconds<TLineBuffer>(stream76, columnLines), copy);
        }
        PrintRow("into TLineBuffer (views until read), memory", columns.size(),
            SplitSeconds<TLineBuffer>(memory, columnLines), copy);
        std::remove(file.c_str());
        // The same with the memory of each round's lines kept by the allocator for the next
        // round, as in a program that has loaded mail before: no first-touch page faults.
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        PrintRow("AddTextStream, 76-column CR LF, warm heap", columns.size(), SplitSeconds(memory, columnLines), copy);
        PrintRow("into TLineBuffer (views until read), warm", columns.size(),
            SplitSeconds<TLineBuffer>(memory, columnLines), copy);
    }

    const std::string bytes = MakeIso88592Bytes();
    const double copy = MemcpySeconds(bytes);
    const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const os::UINT savedCodePage = os::GetACP();
    // 1250 is the ISO-8859-2 table's own code page; the others go through the composed tables.
    for (const os::UINT codePage : {1250u, 1252u, 65001u}) {
        os::SetAnsiCodePage(codePage);
        std::string local;
        const double translate = BestSeconds([&] { TixTranslator::TranslateFrom("ISO-8859-2", bytes, local); });
        PrintRow(("TranslateFrom ISO-8859-2, ACP " + std::to_string(codePage)).c_str(), bytes.size(), translate, copy);
        const double getString = BestSeconds([&] { local = TixTranslator::GetString(view, "ISO-8859-2"); });
        PrintRow(("GetString ISO-8859-2, ACP " + std::to_string(codePage)).c_str(), bytes.size(), getString, copy);
        std::string back;
        const double translateTo = BestSeconds([&] { TixTranslator::TranslateTo("ISO-8859-2", local, back); });
        PrintRow(("TranslateTo ISO-8859-2, ACP " + std::to_string(codePage)).c_str(), local.size(), translateTo,
            MemcpySeconds(local));
    }
    os::SetAnsiCodePage(savedCodePage);

    std::printf("(%zu lines; best of %d rounds)\n", lines, Rounds);
    return 0;
}
