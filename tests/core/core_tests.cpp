#include "core/ixBlockAllocator.h"
#include "core/ixClasses.h"
#include "core/ixDateUtils.h"
#include "core/ixErrorCodes.h"
#include "core/ixLineBuffer.h"
#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "dkim/ixDkim.h"
#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <span>

using namespace ix;

TEST(Format, ProducesTheLibrarysFixedPatternsAndRejectsMissingOrMismatchedArguments)
{
    EXPECT_EQ(Format("%s%.2d%.2d", "+", 1, 0), "+0100");
    EXPECT_EQ(Format("%s%.2d%.2d", "-", 5, 30), "-0530");
    EXPECT_EQ(Format("%2.2X", 10), "0A");
    EXPECT_EQ(Format("%2.2X", 255), "FF");
    EXPECT_EQ(Format("%d%%", -7), "-7%");
    EXPECT_EQ(Format("%-4s|%4s", "ab", "cd"), "ab  |  cd");
    EXPECT_EQ(Format("%.3d", -5), "-005");
    EXPECT_THROW(Format("%d %d", 1), EConvertError);
    EXPECT_THROW(Format("%d", "text"), EConvertError);
    for (const char* pattern : {"%s", "%"})
        EXPECT_THROW(Format(pattern, 3), EConvertError) << pattern;
}

TEST(Text, NumbersConvertStrictlyAndTrimCopyPosAndCaseFollowOneBasedRules)
{
    EXPECT_EQ(StrToInt(" -17"), -17);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_THROW(StrToInt("2147483648"), EConvertError);
    for (const char* text : {"12a", "", "5 "})
        EXPECT_THROW(StrToInt(text), EConvertError) << text;
    EXPECT_EQ(StrToIntDef("x", 9), 9);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);

    // Trim, Copy, Pos, Delete and the comparisons.
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
    EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
    EXPECT_EQ(Copy("abc", 3, 10), "c");
    EXPECT_EQ(Copy("abc", 4, 1), "");
    EXPECT_EQ(Pos("cd", "abcdcd"), 3u);
    EXPECT_EQ(Pos("cd", "abcdcd", 4), 5u);
    EXPECT_EQ(Pos("x", "abc"), 0u);
    std::string s = "abcdef";
    Delete(s, 2, 2);
    EXPECT_EQ(s, "adef");
    Delete(s, 10, 2);
    EXPECT_EQ(s, "adef");
    EXPECT_TRUE(SameText("Content-Type", "CONTENT-type"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_EQ(StringReplace("a-b-c", "-", "+"), "a+b+c");
    EXPECT_EQ(StringReplace("aXbx", "x", "_", true, true), "a_b_");
}

// Each edit made to a string list and to a line buffer: the list's text after it, and the
// buffer's lines and tags equal to the list's; strings the buffer made stay with their lines.
TEST(StringList, EditsGiveTheirTextAndALineBufferTheSameLinesAndUpdatesBatchTheChangeEvents)
{
    TLineBuffer buffer;
    TStringList model;
    const auto both = [&](const std::function<void(TStrings&)>& AEdit, const std::string& AText) {
        AEdit(buffer);
        AEdit(model);
        EXPECT_EQ(model.GetText(), AText);
        ASSERT_EQ(buffer.Count(), model.Count());
        for (int32_t i = 0; i < model.Count(); ++i) {
            EXPECT_EQ(buffer.GetView(i), model[i]) << i;
            EXPECT_EQ(buffer.GetTag(i), model.GetTag(i)) << i;
        }
    };
    both([](TStrings& AList) { AList.SetText("one\r\ntwo\nthree\rfour"); }, "one\r\ntwo\r\nthree\r\nfour\r\n");
    both([](TStrings& AList) { AList.SetText(""); }, "");
    both([](TStrings& AList) { AList.SetText("one\r\n\r\nthree\r\nfour"); }, "one\r\n\r\nthree\r\nfour\r\n");
    const std::string& three = buffer.Get(2);
    both([](TStrings& AList) { AList.Insert(0, "zero"); }, "zero\r\none\r\n\r\nthree\r\nfour\r\n");
    both([](TStrings& AList) { AList.PutTag(1, 7); }, "zero\r\none\r\n\r\nthree\r\nfour\r\n");
    both([](TStrings& AList) { AList.Delete(2); }, "zero\r\none\r\nthree\r\nfour\r\n");
    EXPECT_EQ(&buffer.Get(2), &three);
    both([](TStrings& AList) { AList.Put(2, "three, longer"); }, "zero\r\none\r\nthree, longer\r\nfour\r\n");
    EXPECT_EQ(three, "three, longer");
    both([](TStrings& AList) { AList.AppendToLine(0, "+"); }, "zero+\r\none\r\nthree, longer\r\nfour\r\n");
    both([](TStrings& AList) { AList.AppendToLine(3, std::string(AList.GetView(1))); },
        "zero+\r\none\r\nthree, longer\r\nfourone\r\n");
    both([](TStrings& AList) { AList.Exchange(0, 3); }, "fourone\r\none\r\nthree, longer\r\nzero+\r\n");
    both([](TStrings& AList) { AList.Move(3, 1); }, "fourone\r\nzero+\r\none\r\nthree, longer\r\n");
    both([](TStrings& AList) { AList.Add("last"); }, "fourone\r\nzero+\r\none\r\nthree, longer\r\nlast\r\n");
    const std::string large(LargeBlockSize, 'x');
    both([&](TStrings& AList) { AList.Insert(1, large); },
        "fourone\r\n" + large + "\r\nzero+\r\none\r\nthree, longer\r\nlast\r\n");
    EXPECT_EQ(buffer.GetTextSize(), static_cast<int64_t>(model.GetText().size()) - 2 * model.Count());
    EXPECT_THROW(buffer.GetView(buffer.Count()), EListError);
    EXPECT_THROW(buffer.Insert(-1, "x"), EListError);

    // Names and values, found without regard to letter case.
    both([](TStrings& AList) { AList.SetText("Host=example.org\r\nPort=110"); }, "Host=example.org\r\nPort=110\r\n");
    both([](TStrings& AList) { AList.SetValue("Port", "995"); }, "Host=example.org\r\nPort=995\r\n");
    both([](TStrings& AList) { AList.SetValue("User", "ivory"); }, "Host=example.org\r\nPort=995\r\nUser=ivory\r\n");
    both([](TStrings& AList) { AList.SetValue("HOST", ""); }, "Port=995\r\nUser=ivory\r\n");
    for (const TStrings* list : std::initializer_list<const TStrings*>{&model, &buffer}) {
        EXPECT_EQ(list->GetValue("PORT"), "995");
        EXPECT_EQ(list->IndexOfName("user"), 1);
        EXPECT_EQ(list->GetName(0), "Port");
        EXPECT_EQ(list->GetValueFromIndex(1), "ivory");
        EXPECT_EQ(list->IndexOf("PORT=995"), 0);
    }
    both([](TStrings& AList) { AList.Clear(); }, "");

    // Change events wait for the outermost EndUpdate; bad indexes and other classes' contents raise.
    TStringList list;
    int changes = 0;
    list.OnChange = [&](TObject* ASender) {
        EXPECT_EQ(ASender, &list);
        ++changes;
    };
    list.Add("a");
    EXPECT_EQ(changes, 1);
    list.BeginUpdate();
    list.Add("b");
    list.Add("c");
    list.BeginUpdate();
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(changes, 1);
    list.EndUpdate();
    EXPECT_EQ(changes, 2);
    EXPECT_THROW(list.Get(5), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);
    EXPECT_THROW(list.Insert(3, "x"), EListError);
    EXPECT_EQ(list.ClassName(), "TStringList");
    EXPECT_THROW(list.Assign(TComponent()), EConvertError) << "a list takes only lists";
}

TEST(MemoryStream, GrowsSeeksAndCopiesAndFileStreamsWriteReadAndReportMissingFiles)
{
    TMemoryStream a;
    a.WriteText("hello ");
    a.WriteText("world");
    EXPECT_EQ(a.GetSize(), 11);
    EXPECT_EQ(a.View(), "hello world");
    a.SetPosition(6);
    char buf[5];
    a.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_THROW(a.ReadBuffer(buf, 1), EReadError);

    TMemoryStream b;
    EXPECT_EQ(b.CopyFrom(a, 0), 11);
    EXPECT_EQ(b.View(), "hello world");
    a.SetPosition(2);
    TMemoryStream c;
    EXPECT_EQ(c.CopyFrom(a, 3), 3);
    EXPECT_EQ(c.View(), "llo");
    EXPECT_THROW(c.CopyFrom(a, 100), EReadError);

    a.Seek(20, soBeginning);
    a.WriteText("!");
    EXPECT_EQ(a.GetSize(), 21);
    EXPECT_EQ(a.Memory()[15], 0);
    a.SetSize(5);
    EXPECT_EQ(a.View(), "hello");
    EXPECT_EQ(a.GetPosition(), 5);
    // Growing into a block of its own pages, and on from there, keeps the bytes.
    for (const auto size : {static_cast<int64_t>(LargeBlockSize) + 1, static_cast<int64_t>(3 * LargeBlockSize)}) {
        a.SetSize(size);
        EXPECT_EQ(a.View().substr(0, 5), "hello");
        EXPECT_EQ(a.Memory()[size - 1], 0);
    }

    // A file stream writes and reads, and reports files it cannot open or create.
    const auto path = (std::filesystem::temp_directory_path() / "ix_core_filestream.bin").string();
    {
        TFileStream out(path, fmCreate);
        out.WriteText("line 1\r\nline 2\r\n");
    }
    TMemoryStream m;
    m.LoadFromFile(path);
    EXPECT_EQ(m.View(), "line 1\r\nline 2\r\n");
    std::filesystem::remove(path);
    EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream("/nonexistent-dir/x", fmCreate), EFCreateError);
}

// A message's verifier owned by another component: the owner destroys it, and the message's
// reference is cleared; a verifier that was let go no longer reaches the message.
TEST(Component, OwnerDestroysChildrenAndReferencesAreCleared)
{
    TixMailMessage holder;
    auto* owner = new TComponent();
    auto* child = new TixDkim(owner);
    EXPECT_EQ(owner->GetComponentCount(), 1);
    EXPECT_EQ(child->GetOwner(), owner);
    holder.SetDkim(child);
    delete owner;
    EXPECT_EQ(holder.GetDkim(), nullptr);

    auto* other = new TixDkim();
    holder.SetDkim(other);
    holder.SetDkim(nullptr);
    delete other; // no notification reaches holder after RemoveFreeNotification
    EXPECT_EQ(holder.GetDkim(), nullptr);
}

TEST(DateTime, EncodesAndDecodesTheCalendar)
{
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
    EXPECT_DOUBLE_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);
    EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(2008, 13, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    const TDateTime t = EncodeDate(2008, 6, 3) + EncodeTime(10, 20, 30, 0);
    // Formatting reads every part of the decoded date, the day of the week too.
    EXPECT_EQ(FormatDateTime("ddd, d mmm yyyy hh:mm:ss", t), "Tue, 3 Jun 2008 10:20:30");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2008, 6, 3)), "2008-06-03");
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1212488430)), 1212488430);
    EXPECT_EQ(DecodeDateTime(EncodeDate(1600, 2, 29)).Day, 29);
}

TEST(ErrorCodes, EveryLibraryCodeHasItsOwnNumberInItsFamilysRange)
{
    // Codes above -100 are the per-class codes of other errors; EixDkimError's are -10 to -29.
    const std::tuple<const char*, std::span<const int32_t>, int32_t, int32_t> families[] = {
        {"fixed", FixedErrorCodes, INT32_MIN, INT32_MAX}, {"library", LibraryOwnErrorCodes, INT32_MIN, -100},
        {"DKIM", DkimErrorCodes, -29, -10}};
    std::set<int32_t> seen;
    for (const auto& [family, codes, lowest, highest] : families) {
        for (const int32_t code : codes) {
            EXPECT_TRUE(code >= lowest && code <= highest) << code << " is outside the range of the " << family << " codes";
            EXPECT_TRUE(seen.insert(code).second) << code << " is used twice";
        }
    }
}
