#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include "message/message_test_support.h"
#include "support/AnsiCodePageScope.h"
#include "util/ixUtils.h"

using namespace ix;

namespace {

// The message tests write their texts in the bytes of Windows-1252.
const test::TAnsiCodePageScope Cp1252(1252);

using MailMessageTest = test::MessageLoadTest;

/// Counts the verify calls and remembers the lines it was given.
class TRecordingVerifier : public TComponent, public IixMessageVerifier
{
public:
    void Verify(TStrings& AMessage) override
    {
        ++Calls;
        FirstLine = AMessage.IsEmpty() ? std::string() : AMessage[0];
    }

    int Calls = 0;
    std::string FirstLine;
};

TDateTime MailDate(std::string_view AText)
{
    TDateTime date = 0;
    TDateTime zone = 0;
    ParseMailDate(AText, date, zone);
    return date;
}

} // namespace

TEST_F(MailMessageTest, HeaderFieldsBecomeDecodedProperties)
{
    Load("From joerg@example.com Tue Jun  3 2008\n" // a mailbox's separator line
         "From: =?utf-8?Q?J=C3=B6rg?= <joerg@example.com>\n"
         "To: a@example.com, \"B, C\" <b@example.com>\n"
         "\tD <d@example.com>\n" // folded after an address: a list item of its own
         "Cc: c@example.com, =?utf-8?b?w6k=?= <e@example.com>,\n"
         "\t(comment, with comma) f@example.com,, plain@example.com\n"
         "Subject: =?iso-8859-1?Q?Gr=FC=DFe?= and more  \n"
         "Reply-To: Reply <reply@example.com>\n"
         "Message-ID: <id@example.com>\n"
         "In-Reply-To: <prev@example.com>\n"
         "X-Mailer: Test Mailer\n"
         "Newsgroups: comp.a,comp.b\n"
         "References: <r1@x>\n"
         " <r2@x>\n"
         "X-Custom: folded\n"
         " value\n"
         "List-Unsubscribe: <mailto:leave@example.com>\n"
         "no colon on this line\n"
         "\n"
         "body\n");
    EXPECT_EQ(Message.GetFrom().GetName(), "J\xF6rg");
    EXPECT_EQ(Message.GetFrom().GetEmail(), "joerg@example.com");
    EXPECT_EQ(test::Addresses(Message.GetToList()), "|a@example.com;B, C|b@example.com;D|d@example.com;");
    EXPECT_EQ(test::Addresses(Message.GetCCList()),
        "|c@example.com;\xE9|e@example.com;comment, with comma|f@example.com;|plain@example.com;");
    EXPECT_EQ(Message.GetSubject(), "Gr\xFC\xDF" "e and more  ");
    EXPECT_EQ(Message.GetReplyTo(), "Reply <reply@example.com>");
    EXPECT_EQ(Message.GetMessageID(), "<id@example.com>");
    EXPECT_EQ(Message.GetInReplyTo(), "<prev@example.com>");
    EXPECT_EQ(Message.GetMailer(), "Test Mailer");
    EXPECT_EQ(Message.GetNewsGroups().Count(), 2);
    EXPECT_EQ(Message.GetReferences().Join("|"), "<r1@x>|<r2@x>");
    // List-Unsubscribe is both a property and an extra field.
    EXPECT_EQ(Message.GetListUnsubscribe(), "<mailto:leave@example.com>");
    EXPECT_EQ(Message.GetExtraFields().Join("|"), "X-Custom: folded value|List-Unsubscribe: <mailto:leave@example.com>");
    // A later line that is neither a field nor a continuation begins the body.
    EXPECT_EQ(Message.GetRawHeader().Count(), 17);
    EXPECT_EQ(Message.GetBodyStart(), 17);
    EXPECT_EQ(Message.GetBodies()[0].GetEncodedStart(), 17);
    EXPECT_EQ(Message.MessageText().Join("|"), "no colon on this line||body");
}

TEST_F(MailMessageTest, FieldsDecideFormatPriorityEncodingAndMessageText)
{
    static constexpr std::string_view Formats[] = {"none", "mime", "uuencode"};
    static constexpr std::string_view Priorities[] = {"low", "normal", "high"};
    // A message, and its format, priority, transfer encoding, content type and text.
    const std::pair<std::string_view, std::string_view> cases[] = {
        // Without Content-Type or MIME-Version a message is of the uuencode format.
        {"Subject: plain\n\ntext\n", "uuencode normal cmNone - text"},
        {"MIME-Version: 1.0\n\ntext\n", "mime normal cmNone - text"},
        // Importance comes first, and only whole values count.
        {"X-Priority: 1\n\n", "uuencode high cmNone - "},
        {"X-Priority: 1 (Highest)\n\n", "uuencode normal cmNone - "},
        {"X-Priority: 1\nImportance: low\n\n", "uuencode low cmNone - "},
        {"X-MSMail-Priority: HIGH\n\n", "uuencode high cmNone - "},
        // The transfer encoding is read without regard to case.
        {"Content-Transfer-Encoding: BASE64\n\n", "uuencode normal cmBase64 - "},
        {"Content-Transfer-Encoding: Quoted-Printable\n\n", "uuencode normal cmQuotedPrintable - "},
        {"Content-Transfer-Encoding: x-uuencode\n\n", "uuencode normal cmNone - "},
        // The text is the HTML of an alternative, else the plain texts, else any text.
        {"Content-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\nplain text\n"
         "--b\nContent-Type: text/html\n\n<p>html</p>\n--b--\n",
            "mime normal cmNone multipart/alternative (multipart) <p>html</p>"},
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\none\n"
         "--b\nContent-Type: text/plain\n\ntwo\n--b--\n",
            "mime normal cmNone multipart/mixed (multipart) one|two"},
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/enriched\n\nrich\n--b--\n",
            "mime normal cmNone multipart/mixed (multipart) rich"},
    };
    for (const auto& [text, expected] : cases) {
        Load(text);
        EXPECT_EQ(std::string(Formats[Message.GetMessageFormat()]) + " " + std::string(Priorities[Message.GetPriority()]) +
                " " + EncodeMethodNames[Message.GetEncoding()] + " " + test::Dash(Message.GetContentType()) +
                (Message.IsMultipart() ? " (multipart) " : " ") + Message.MessageText().Join("|"),
            expected) << text;
    }
}

TEST_F(MailMessageTest, DateFallsBackToTheFirstReceivedFieldAfterItsLastSemicolonElseToTheTimeOfLoading)
{
    Load("Received: from a; by b; Tue, 3 Jun 2008 10:20:30 +0000\n"
         "Received: from c; Wed, 4 Jun 2008 11:00:00 +0000\n\n");
    EXPECT_DOUBLE_EQ(Message.GetDate(), MailDate("Tue, 3 Jun 2008 10:20:30 +0000"));
    Load("Date: Fri, 6 Jun 2008 08:00:00 +0200\nReceived: x; Tue, 3 Jun 2008 10:20:30 +0000\n\n");
    EXPECT_DOUBLE_EQ(Message.GetDate(), MailDate("Fri, 6 Jun 2008 08:00:00 +0200"));
    EXPECT_DOUBLE_EQ(Message.GetTimeZoneOffset(), 2.0 / 24);
    for (std::string_view text : {"Received: from a without date\n\n", "Date: 32 Foo 2008\n\n", "Date: soon\n\n",
             "Date: 31 Feb 2008 10:00:00\n\n"}) {
        const TDateTime before = Now();
        Load(text);
        const TDateTime after = Now();
        EXPECT_GE(Message.GetDate(), before) << text;
        EXPECT_LE(Message.GetDate(), after) << text;
    }
}

TEST_F(MailMessageTest, NewMessageHasThePublishedDefaultsAndKeepsACharSetUntilAMessageStatesAnother)
{
    EXPECT_EQ(Message.GetCharSet(), "iso-8859-1");
    EXPECT_EQ(Message.GetContentType(), "text/plain");
    EXPECT_EQ(Message.GetMessageFormat(), mfNone);
    EXPECT_EQ(Message.GetPriority(), mpNormal);
    EXPECT_EQ(Message.GetEncoding(), cmNone);
    EXPECT_EQ(Message.GetCharsPerLine(), 76);
    EXPECT_FALSE(Message.GetAllowESC());
    EXPECT_EQ(Message.GetErrorProcessing(), meExtractMaximumData);
    EXPECT_EQ(Message.GetBodies().Count(), 0);
    EXPECT_FALSE(Message.IsMultipart());
    EXPECT_EQ(Message.GetKnownFields().Count(), 21);
    EXPECT_EQ(Message.GetKnownFields().IndexOf("list-unsubscribe"), -1);
    Load("Content-Type: text/plain; charset=koi8-r\n\n");
    EXPECT_EQ(Message.GetCharSet(), "koi8-r");
    Load("Content-Type: text/plain\nSubject: next\n\n");
    EXPECT_EQ(Message.GetCharSet(), "koi8-r");
    EXPECT_EQ(Message.GetSubject(), "next");
    Message.Clear();
    EXPECT_EQ(Message.GetCharSet(), "koi8-r");
    EXPECT_EQ(Message.GetSubject(), "");
    // ISO-2022-JP switches to 8bit with escapes.
    Message.SetCharSet("ISO-2022-JP");
    EXPECT_EQ(Message.GetCharSet(), "iso-2022-jp");
    EXPECT_EQ(Message.GetEncoding(), cm8Bit);
    EXPECT_TRUE(Message.GetAllowESC());
}

TEST_F(MailMessageTest, LoadFiresOnChangedOnceAndUpdatesNest)
{
    int changes = 0;
    Message.OnChanged = [&](TObject*) { ++changes; };
    Load("Subject: a\nX-Other: b\n\nbody\n");
    EXPECT_EQ(changes, 1);

    changes = 0;
    Message.BeginUpdate();
    Message.BeginUpdate();
    Message.SetSubject("x");
    Message.EndUpdate();
    EXPECT_EQ(changes, 0);
    Message.EndUpdate();
    EXPECT_EQ(changes, 1);
    Message.EndUpdate(); // never below 0: the next change fires at once
    Message.SetSubject("y");
    EXPECT_EQ(changes, 3);
    Message.SetSubject("y");
    EXPECT_EQ(changes, 3);

    Message.BeginLoading();
    Message.SetSubject("z");
    EXPECT_EQ(changes, 3);
    Message.EndLoading();
    EXPECT_EQ(changes, 4);
}

TEST_F(MailMessageTest, DkimVerifierIsCalledAfterALoadNotAfterAHeaderOnlyLoadAndForgottenWhenDestroyed)
{
    auto* verifier = new TRecordingVerifier;
    Message.SetDkim(verifier);
    Load("Subject: signed\nContent-Type: text/plain\n\nbody\n");
    EXPECT_EQ(verifier->Calls, 1);
    EXPECT_EQ(verifier->FirstLine, "Subject: signed");
    Source.Put(0, "Subject: only");
    Message.LoadHeader(Source); // the bodies stay empty
    EXPECT_EQ(verifier->Calls, 1);
    EXPECT_EQ(Message.GetSubject(), "only");
    EXPECT_EQ(Message.GetBodies().Count(), 0);
    EXPECT_TRUE(Message.MessageText().IsEmpty());
    delete verifier;
    EXPECT_EQ(Message.GetDkim(), nullptr);
    Message.LoadMessage(Source);
}
