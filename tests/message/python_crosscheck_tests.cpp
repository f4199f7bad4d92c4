// Cross-check of header decoding against an independent implementation: Python's email
// package (python_crosscheck.py beside this file) decodes the same table of cases.
#include "message/ixMailHeader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "message/message_test_support.h"
#include "support/AnsiCodePageScope.h"
#include "support/ProgramRun.h"
#include "util/ixUtils.h"

using namespace ix;
using ix::test::Hex;

namespace {

/// W: encoded words in a field value; P: a parameter of a Content-Disposition value;
/// A: an address list.
struct CrossCase
{
    char Kind;
    std::string_view Value;
    std::string_view Item;
    /// Where this library deliberately differs from Python: what it gives (hex form as the
    /// comparison uses it is built from this text), and why.
    std::string_view Differs = {};
    std::string_view Why = {};
};

// clang-format off
const CrossCase Cases[] = {
    {'W', "=?iso-8859-1?q?caf=E9?=", ""},
    {'W', "=?utf-8?b?w6l0w6k=?=", ""},
    {'W', "=?UTF-8?B?SGVsbG8gV29ybGQ=?=", ""},
    {'W', "=?iso-8859-1?q?a?= =?iso-8859-1?q?b?=", ""},
    {'W', "=?iso-8859-1?q?a?=\r\n =?iso-8859-1?q?b?=", ""},
    {'W', "=?iso-8859-1?q?a?= b", ""},
    {'W', "=?iso-8859-1?Q?a_b=5Fc?=", ""},
    {'W', "Re: =?utf-8?q?=C3=A9t=C3=A9?= report", ""},
    {'W', "=?iso-8859-1?q?caf=E9?= =?utf-8?q?_=C3=A9t=C3=A9?=", ""},
    {'W', "=?utf-8?q?=E2=82=AC_5?=", ""},
    {'W', "=?utf-8*en?q?=C3=A9?=", ""},
    {'W', "plain text, no words", ""},
    {'W', "x =?iso-8859-1?q?a?=\tb", ""},
    {'W', "Quarterly report for\r\n\tthe region", ""},
    {'W', "=?utf-8?q?a=F0=9F=8E=89b?= =?utf-8?b?8J+OiQ==?=", ""},
    {'W', "=?utf-8?b?QU*J?=", "", "=?utf-8?b?QU*J?=",
        "a word with characters outside the base64 alphabet stays text (Python decodes around them)"},
    {'P', "attachment; filename*=utf-8''%C3%A9t%C3%A9.txt", "filename*"},
    {'P', "attachment; filename*0*=utf-8''%E2%82%AC; filename*1*=%20rate; filename*2*=s.txt", "filename*"},
    {'P', "attachment; filename*0*=utf-8''%C3; filename*1*=%A9.txt", "filename*"},
    {'P', "attachment; filename*=iso-8859-1'en'caf%E9.pdf", "filename*"},
    {'P', "attachment; filename*0=\"long \"; filename*1=\"name.txt\"", "filename*"},
    {'P', "attachment; filename=\"plain; name.txt\"", "filename"},
    {'P', "attachment; filename=report.pdf; size=100", "filename"},
    {'P', "attachment; name=O'Brien.txt; size=1", "name"},
    {'P', "attachment; x-filename=\"decoy\"; filename=\"real.txt\"", "filename"},
    {'P', "attachment; filename=\"a\\\"b\\\\c.txt\"; size=1", "filename"},
    {'P', "attachment; filename*=no-quotes%41", "filename*", "no-quotes%41",
        "an extended value without charset'language' is left undecoded"},
    {'A', "\"Doe, John\" <jd@example.com>, Jane <jane@example.com>", ""},
    {'A', "jd@example.com (John Doe)", ""},
    {'A', "a@example.com, b@example.com", ""},
    {'A', "=?utf-8?q?J=C3=B6rg?= <j@example.com>", ""},
    {'A', "\"say \\\"hi\\\"\" <a@example.com>", ""},
    {'A', "John Smith <john@example.com>", ""},
    {'A', "<bare@example.com>", ""},
    {'A', "\"Smith, J. (ops)\" <ops@example.com>", ""},
    {'A', "John <john@example.com", ""},
    {'A', "John < john@example.com >", ""},
    {'A', "a@example.com, , b@example.com", "", "|a@example.com;|b@example.com",
        "an empty list item adds no address (Python adds an empty one)"},
    {'A', "'Single' <a@example.com>", "", "Single|a@example.com",
        "one pair of single quotes around a display name is removed"},
};
// clang-format on

/// The case decoded by this library, in the script's output form.
std::string DecodeHere(const CrossCase& ACase)
{
    TixMailHeaderFieldList list("iso-8859-1", 76, cmNone);
    if (ACase.Kind == 'P')
        return Hex(list.GetDecodedItemValue(ACase.Value, ACase.Item));
    TStringList source;
    source.SetText("X-Test: " + std::string(ACase.Value));
    list.Parse(0, source);
    if (ACase.Kind == 'W')
        return Hex(list.GetDecodedFieldValue("x-test"));
    TixEmailAddressList addresses;
    list.GetDecodedEmailList("x-test", addresses);
    std::string result;
    for (int32_t i = 0; i < addresses.Count(); ++i)
        result += (i > 0 ? ";" : "") + Hex(addresses[i].GetName()) + "," + Hex(addresses[i].GetEmail());
    return result;
}

/// A documented difference ("name|address;..." for address lists) in the output form.
std::string ExpectedDifference(const CrossCase& ACase)
{
    if (ACase.Kind != 'A')
        return Hex(ACase.Differs);
    std::string result;
    TStringList pairs;
    SplitText(ACase.Differs, pairs, ';');
    for (int32_t i = 0; i < pairs.Count(); ++i) {
        const size_t bar = pairs[i].find('|');
        result += (i > 0 ? ";" : "") + Hex(pairs[i].substr(0, bar)) + "," + Hex(pairs[i].substr(bar + 1));
    }
    return result;
}

/// Python's answers, one line per case.
std::vector<std::string> DecodeWithPython()
{
    const test::TScratch scratch("crosscheck");
    std::ofstream cases(scratch.Path() / "cases");
    for (const CrossCase& c : Cases)
        cases << c.Kind << "\t" << Hex(c.Value) << "\t" << c.Item << "\n";
    cases.close();
    const std::filesystem::path script = std::filesystem::path(IX_MESSAGE_TEST_DIR) / "python_crosscheck.py";
    const test::TProgramRun run =
        test::RunProgram("/usr/bin/python3", "'" + script.string() + "' '" + (scratch.Path() / "cases").string() + "'", scratch.Path());
    EXPECT_EQ(run.Status, 0) << run.Err;
    std::vector<std::string> lines;
    std::istringstream stream(run.Out);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(PythonCrossCheck, HeaderDecodingAgreesWithPythonsEmailPackage)
{
    const test::TAnsiCodePageScope cp1252(1252); // the script writes its answers in Windows-1252
    const std::vector<std::string> python = DecodeWithPython();
    ASSERT_EQ(python.size(), std::size(Cases)) << "python3 with its email package must run";
    for (size_t i = 0; i < python.size(); ++i) {
        const CrossCase& c = Cases[i];
        const std::string here = DecodeHere(c);
        if (c.Differs.empty()) {
            EXPECT_EQ(here, python[i]) << c.Value;
        } else {
            // The documented difference holds, and Python really does decide otherwise.
            EXPECT_EQ(here, ExpectedDifference(c)) << c.Value;
            EXPECT_NE(here, python[i]) << c.Value << ": " << c.Why;
        }
    }
}
