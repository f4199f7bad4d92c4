#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "message/message_test_support.h"
#include "support/ExpectError.h"

using namespace ix;
using ix::test::Dash;
using ix::test::TBodyDataRecorder;

namespace {

class MimeBodiesTest : public test::MessageLoadTest
{
protected:
    /// Loads AText with nothing recorded of an earlier load (a body may get a freed one's address).
    void Load(std::string_view AText)
    {
        Recorder.Saved.clear();
        Recorder.DataAdded.clear();
        MessageLoadTest::Load(AText);
    }

    TixMessageBody& Body(int32_t AIndex) { return Message.GetBodies()[AIndex]; }

    /// The message format and the sizes of its attachment and image lists, then one line per
    /// body, nested ones indented: its class and content type; for a multipart its subtype, for
    /// a text its character set and lines ("|"-joined), for an attachment its file name,
    /// Content-ID and decoded data; "-" for what it lacks, "(no data)" when it handed out none.
    std::vector<std::string> Tree(TixMailMessage& AMessage)
    {
        static constexpr std::string_view Formats[] = {"none", "mime", "uuencode"};
        std::vector<std::string> lines{std::string(Formats[AMessage.GetMessageFormat()]) + " " +
            std::to_string(AMessage.GetAttachmentList().Count()) + " " + std::to_string(AMessage.GetImageList().Count())};
        test::DescribeBodies(AMessage.GetBodies(), [this](TixMessageBody& ABody, int ADepth) { return Describe(ABody, ADepth); }, lines);
        return lines;
    }
    std::vector<std::string> Tree() { return Tree(Message); }

    TBodyDataRecorder Recorder{Message};

private:
    std::string Describe(TixMessageBody& ABody, int ADepth)
    {
        const std::string& className = ABody.ClassName();
        std::string line = std::string(2 * ADepth, ' ') + className.substr(3, className.size() - 7) + " " + Dash(ABody.GetContentType());
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABody))
            return line + " " + Dash(multipart->GetContentSubType());
        const auto data = Recorder.DataAdded.find(&ABody);
        if (auto* text = dynamic_cast<TixTextBody*>(&ABody)) {
            line += " " + Dash(text->GetCharSet()) + " \"" + text->GetStrings().Join("|") + "\"";
        } else {
            auto& attachment = dynamic_cast<TixAttachmentBody&>(ABody);
            line += " " + Dash(attachment.GetFileName());
            // An image without a Content-ID gets one made of its file name and the time.
            const std::string& id = attachment.GetContentID();
            if (!id.empty())
                line += " <" + (id.starts_with(attachment.GetFileName() + "@") ? attachment.GetFileName() + "@..." : id) + ">";
            if (data != Recorder.DataAdded.end())
                line += " \"" + data->second + "\"";
        }
        return line + (data == Recorder.DataAdded.end() ? " (no data)" : "");
    }
};

constexpr std::string_view BadBase64Message = "Content-Type: multipart/mixed; boundary=b\n\n"
                                              "--b\nContent-Type: application/octet-stream\n"
                                              "Content-Transfer-Encoding: base64\n\n"
                                              "SGVs\nbG8*d29y\n--b--\n";

/// A multipart message nested ADepth levels deep with one text part at the bottom.
std::string NestedMessage(int ADepth)
{
    std::string text = "Content-Type: multipart/mixed; boundary=b0\n\n";
    for (int level = 1; level < ADepth; ++level)
        text += "--b" + std::to_string(level - 1) + "\nContent-Type: multipart/mixed; boundary=b" +
            std::to_string(level) + "\n\n";
    text += "--b" + std::to_string(ADepth - 1) + "\nContent-Type: text/plain\n\ndeep\n";
    return text;
}

struct TScenario
{
    std::string_view Name;
    std::string_view Text;
    std::vector<std::string> Tree;
};

// clang-format off
const TScenario Scenarios[] = {
    {"BodyClassFollowsTypeAndDisposition",
     "Content-Type: multipart/mixed; boundary=b\n\n"
     "--b\nContent-Type: text/plain\n\nt\n"
     "--b\nContent-Type: image/png; name=a.png\nContent-ID: <img1>\n\nx\n"
     "--b\nContent-Type: image/png\nContent-Disposition: attachment; filename=b.png\n\nx\n"
     "--b\nContent-Type: audio/basic\n\nx\n"
     "--b\n\nno type\n"
     "--b\nContent-Type: text/plain\nContent-Disposition: attachment\n\nx\n"
     "--b\nContent-Type: multipart/alternative; boundary=c\n\n--c\n\nx\n--c--\n"
     "--b--\n",
     {"mime 5 1", "Text text/plain - \"t\"", "Image image/png a.png <img1> \"x\"", "Attachment image/png b.png \"x\"",
      "Attachment audio/basic - \"x\"", "Attachment - - \"no type\"", "Attachment text/plain - \"x\"",
      "Multipart multipart/alternative -", "  Attachment - - \"x\""}},
    {"SinglePartWithoutTypeIsText", "Subject: no type\n\nhello\n", {"uuencode 0 0", "Text - - \"hello\""}},
    {"SinglePartImageWithoutNameIsText", "Content-Type: image/gif\n\nGIF89a\n",
     {"mime 0 0", "Text image/gif - \"GIF89a\""}},
    {"SinglePartWithANameIsAnAttachment",
     "Content-Type: application/pdf; name=\"doc.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERg==\n",
     {"mime 1 0", "Attachment application/pdf doc.pdf \"%PDF\""}},
    {"PartsLoseTheLineBreakBeforeTheNextBoundaryAndTheLastNeedNotBeClosed",
     "Content-Type: multipart/mixed; boundary=b\n\npreamble\n"
     "--b\nContent-Type: application/octet-stream\n\nline 1\nline 2\n\n"
     "--b\nContent-Type: application/octet-stream\n\nunclosed\n",
     {"mime 2 0", "Attachment application/octet-stream - \"line 1\r\nline 2\r\n\"",
      "Attachment application/octet-stream - \"unclosed\""}},
    {"EmptyPartGetsNoData",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n--b\nContent-Type: text/plain\n\nx\n--b--\n",
     {"mime 0 0", "Text text/plain - \"\" (no data)", "Text text/plain - \"x\""}},
    {"PartHeaderWithoutBlankLineEndsAtTheFirstLineThatIsNoField",
     "Content-Type: multipart/mixed; boundary=b\n\n"
     "--b\nContent-Type: text/plain\nX-A: 1\n--b\nContent-Type: text/html\n\nh\n"
     "--b\nContent-Type: text/plain\nno blank line before this text\n--b--\n",
     {"mime 0 0", "Text text/plain - \"\" (no data)", "Text text/html - \"h\"",
      "Text text/plain - \"no blank line before this text\""}},
    {"MessageHeaderWithoutBlankLineEndsAtTheFirstLineThatIsNoField", "Subject: s\nthe body\n\nmore\n",
     {"uuencode 0 0", "Text - - \"the body||more\""}},
    // Blanks after a boundary are transport padding.
    {"BoundaryLinesMayEndInBlanks", "Content-Type: multipart/mixed; boundary=b\n\n--b \t\n\nx\n--b\t\n\ny\n--b-- \n",
     {"mime 2 0", "Attachment - - \"x\"", "Attachment - - \"y\""}},
    // The parameter named "boundary", not one that ends in it; also in the RFC 2231 forms.
    {"BoundaryIsTheParameterOfThatName",
     "Content-Type: multipart/mixed; x-boundary=\"decoy\"; boundary=\"real\"\n\n--decoy\n\nd\n--real\n\nx\n--real--\n",
     {"mime 1 0", "Attachment - - \"x\""}},
    {"BoundaryInTheExtendedForm",
     "Content-Type: multipart/mixed; boundary*=us-ascii'en'b%2D1\n\n--b-1\n\nx\n--b-1\n\ny\n--b-1--\n",
     {"mime 2 0", "Attachment - - \"x\"", "Attachment - - \"y\""}},
    {"BoundaryInPieces", "Content-Type: multipart/mixed;\n boundary*0=\"b\"; boundary*1=\"2\"\n\n--b2\n\nx\n--b2--\n",
     {"mime 1 0", "Attachment - - \"x\""}},
    {"CharSetIsTheParameterOfThatName", "Content-Type: text/plain; x-charset=koi8-r; charset=utf-8\n\n\xC3\xA9\n",
     {"mime 0 0", "Text text/plain utf-8 \"\xE9\""}},
    {"TextIsConvertedFromItsCharSet",
     "Content-Type: multipart/mixed; boundary=b\n\n"
     "--b\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
     "caf=C3=A9 =\nau lait\n--b\nContent-Type: text/plain\n\nraw \xE9\n--b--\n",
     {"mime 0 0", "Text text/plain utf-8 \"caf\xE9 au lait\"", "Text text/plain - \"raw \xE9\""}},
    {"UuencodedBlockBecomesAnAttachmentBetweenTextLines", "Subject: uu\n\nbefore\nbegin 644 cat.txt\n#8V%T\n`\nend\nafter\n",
     {"uuencode 1 0", "Text - - \"before|after\"", "Attachment application/octet-stream cat.txt \"cat\""}},
    // Without an open block, "end" is a line of text too.
    {"BeginLineWithABadModeIsText", "Subject: uu\n\nbefore\nbegin 64x cat.txt\n#8V%T\nend\n",
     {"uuencode 0 0", "Text - - \"before|begin 64x cat.txt|#8V%T|end\""}},
    {"UuencodedFileNameIsMadeSafeAndAnUnendedBlockKeepsItsData", "Subject: uu\n\nbegin 600 ../../etc/pass:wd.\n#8V%T\n",
     {"uuencode 1 0", "Attachment application/octet-stream .._.._etc_pass_wd \"cat\""}},
    {"FileNameSourcesAreTriedInOrderAndMadeSafe",
     "Content-Type: multipart/mixed; boundary=b\n\n"
     "--b\nContent-Type: application/x; name=n.bin\nContent-Disposition: attachment;\n"
     " filename*=utf-8''%C3%A9t%C3%A9.txt; filename=plain.txt\n\nx\n"
     "--b\nContent-Type: application/x; name=\"sub/dir.bin\"\n\nx\n"
     "--b\nContent-Type: application/x\nContent-Description: Quarterly report\n\nx\n"
     "--b\nContent-Type: application/x\nContent-Description: a.pdf\n\nx\n"
     "--b\nContent-Type: message/rfc822\n\nSubject: Re: news\n\nbody\n"
     "--b\nContent-Type: application/x; name=\"..\"\nContent-ID: <id@x>\n\nx\n"
     // An inline image is named by Content-Type first, then as an attachment.
     "--b\nContent-Type: image/png\nContent-Disposition: inline; filename=only.png\n\nx\n"
     "--b\nContent-Type: image/png; name=type.png\nContent-Disposition: inline; filename=d.png\n\nx\n"
     "--b--\n",
     {"mime 6 2", "Attachment application/x \xE9t\xE9.txt \"x\"", "Attachment application/x sub_dir.bin \"x\"",
      "Attachment application/x Quarterly report.dat \"x\"", "Attachment application/x a.pdf \"x\"",
      "Attachment message/rfc822 Re_ news.eml \"Subject: Re: news\r\n\r\nbody\"", "Attachment application/x _ <id@x> \"x\"",
      "Image image/png only.png <only.png@...> \"x\"", "Image image/png type.png <type.png@...> \"x\""}},
    {"BlankTextIsRemovedFromASinglePartMessage", "Subject: blank\n\n   \n\t\n", {"uuencode 0 0"}},
    {"BlankTextStaysInAMultipartMessage",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n  \n--b--\n",
     {"mime 0 0", "Text text/plain - \"  \""}},
};
// clang-format on

void PrintTo(const TScenario& AScenario, std::ostream* AStream)
{
    *AStream << AScenario.Name;
}

class MimeScenario : public MimeBodiesTest, public ::testing::WithParamInterface<TScenario>
{
};

INSTANTIATE_TEST_SUITE_P(Messages, MimeScenario, ::testing::ValuesIn(Scenarios),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

} // namespace

TEST_P(MimeScenario, BodiesAreSplitNamedAndDecodedFromLinesAndFromAStream)
{
    Load(GetParam().Text);
    EXPECT_EQ(Tree(), GetParam().Tree);
    TMemoryStream stream;
    stream.WriteText(GetParam().Text);
    stream.Seek(0, soBeginning);
    Recorder.DataAdded.clear();
    Message.LoadFromStream(stream);
    EXPECT_EQ(Tree(), GetParam().Tree);
}

TEST(SafeFileName, ReplacesReservedCharactersAndOneTrailingDotOrBlank)
{
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName("a<b>c?d*e|f\"g\\h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName(std::string("a\0b\tc", 5)), "a_b_c");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName("name. "), "name.");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName(""), "_");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName("..."), "_");
}

TEST_F(MimeBodiesTest, BadBase64FollowsTheErrorProcessingModeAndAFailedLoadLeavesNoListPointingAtFreedBodies)
{
    for (const auto& [mode, data] : {std::pair{meExtractMaximumData, "Hello"}, std::pair{meIgnore, "SGVs\r\nbG8*d29y"}}) {
        Message.SetErrorProcessing(mode);
        Load(BadBase64Message);
        EXPECT_EQ(Tree(), (std::vector<std::string>{"mime 1 0", "Attachment application/octet-stream - \"" + std::string(data) + "\""}));
    }
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: application/zip; name=old.zip\n\nx\n"
         "--b\nContent-Type: image/gif; name=old.gif\n\nx\n--b--\n");
    ASSERT_EQ(Message.GetAttachmentList().Count(), 1);
    ASSERT_EQ(Message.GetImageList().Count(), 1);
    Message.SetErrorProcessing(meStop);
    test::ExpectError<EixEncoderError>([&] { Load(BadBase64Message); }, -2);
    ASSERT_EQ(Message.GetAttachmentList().Count(), 1);
    EXPECT_EQ(Message.GetAttachmentList()[0].GetContentType(), "application/octet-stream");
    EXPECT_EQ(Message.GetImageList().Count(), 0);
    // The update counter was restored: changes notify again.
    int changes = 0;
    Message.OnChanged = [&](TObject*) { ++changes; };
    Message.SetSubject("after");
    EXPECT_EQ(changes, 1);

    // An exception from an application's handler leaves the same way.
    Message.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>&, bool&) {
        throw Exception("disk full");
    };
    EXPECT_THROW(Load("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nt\n"
                      "--b\nContent-Type: application/zip\n\nx\n--b--\n"),
        Exception);
    EXPECT_EQ(Message.GetAttachmentList().Count(), 1);
}

TEST_F(MimeBodiesTest, SaveEventMayRenameTheAttachmentOrLeaveItUndecoded)
{
    constexpr std::string_view Text = "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/x; name=a\n\ndata\n--b--\n";
    Recorder.SetRenameTo("renamed.bin");
    Load(Text);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"mime 1 0", "Attachment application/x renamed.bin \"data\""}));
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].FileName, "renamed.bin");
    Recorder.SetGiveStreams(false);
    Load(Text);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"mime 1 0", "Attachment application/x renamed.bin (no data)"}));
    EXPECT_TRUE(Recorder.Saved.empty());
}

TEST_F(MimeBodiesTest, NestingDeeperThanTheLimitStaysAnUndecodedAttachment)
{
    Load(NestedMessage(10000));
    // One multipart per level, and at the last level the rest as one attachment.
    const std::vector<std::string> tree = Tree();
    ASSERT_EQ(tree.size(), 1u + TixMailMessage::MaxNestingLevel + 1);
    EXPECT_EQ(tree[TixMailMessage::MaxNestingLevel], std::string(2 * (TixMailMessage::MaxNestingLevel - 1), ' ') + "Multipart multipart/mixed -");
    EXPECT_TRUE(tree.back().starts_with(std::string(2 * TixMailMessage::MaxNestingLevel, ' ') +
        "Attachment multipart/mixed - \"--b101\r\nContent-Type: multipart/mixed")) << tree.back().substr(0, 300);
    EXPECT_TRUE(tree.back().ends_with("deep\"")) << tree.back().substr(0, 300);
    EXPECT_EQ(Recorder.Saved.size(), 1U);
}

TEST_F(MimeBodiesTest, BodiesPersistByClassNameAndDamagedDataIsRefused)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: text/plain; charset=utf-8\nX-Note: kept\n\ntext\n"
         "--b\nContent-Type: multipart/related; type=\"text/html\"; boundary=c\n\n"
         "--c\nContent-Type: image/gif; name=i.gif\n\nx\n--c--\n"
         "--b\nContent-Type: application/zip; name=z.zip\n\nx\n--b--\n");
    TMemoryStream stream;
    TixBodyWriter writer(stream);
    Message.GetBodies().WriteItems(writer);

    // Read back, the bodies hold what was loaded (their data went to the handlers).
    TixMailMessage copy;
    stream.Seek(0, soBeginning);
    TixBodyReader reader(stream);
    copy.GetBodies().ReadItems(reader);
    std::vector<std::string> persisted{"none 1 1", "Text text/plain utf-8 \"text\" (no data)",
        "Multipart multipart/related text/html", "  Image image/gif i.gif (no data)", "Attachment application/zip z.zip (no data)"};
    EXPECT_EQ(Tree(copy), persisted);
    EXPECT_EQ(dynamic_cast<TixTextBody&>(copy.GetBodies()[0]).GetExtraFields().Join("|"), "X-Note: kept");
    // An assigned copy has the Content-ID too.
    TixMailMessage assigned;
    assigned.GetBodies().Assign(Message.GetBodies());
    persisted[3] = "  Image image/gif i.gif <i.gif@...> (no data)";
    EXPECT_EQ(Tree(assigned), persisted);

    // Damaged data: a cut stream, an unknown class, too deep a nesting.
    TMemoryStream cut;
    cut.WriteBuffer(stream.Memory(), stream.Size() / 2);
    cut.Seek(0, soBeginning);
    TixBodyReader cutReader(cut);
    EXPECT_THROW(copy.GetBodies().ReadItems(cutReader), EReadError);
    TMemoryStream unknown;
    TixBodyWriter unknownWriter(unknown);
    unknownWriter.WriteInteger(1);
    unknownWriter.WriteString("TixNoSuchBody");
    unknown.Seek(0, soBeginning);
    TixBodyReader unknownReader(unknown);
    EXPECT_THROW(copy.GetBodies().ReadItems(unknownReader), EConvertError);
    // Saved bodies nest no deeper than loaded ones.
    TMemoryStream deep;
    TixBodyWriter deepWriter(deep);
    for (int level = 0; level < 100000; ++level) {
        deepWriter.WriteInteger(1);
        deepWriter.WriteString("TixMultipartBody");
        deepWriter.WriteString({}); // subtype, then the nested bodies
    }
    deep.Seek(0, soBeginning);
    TixBodyReader deepReader(deep);
    try {
        copy.GetBodies().ReadItems(deepReader);
        FAIL() << "no exception";
    } catch (const EReadError& error) {
        EXPECT_STREQ(error.what(), "Body data nested deeper than 100 levels");
    }
}

namespace {

/// A multipart body that decodes by itself, without the base, and keeps what it decoded.
class TSelfDecoding : public TixMultipartBody
{
public:
    using TixMultipartBody::TixMultipartBody;
    void DecodeData(TStream& ASource, TStream& ADestination) override
    {
        ADestination.CopyFrom(ASource, 0);
        ADestination.Seek(0, soBeginning);
        Seen = TBodyDataRecorder::ReadAll(ADestination);
    }
    std::string Seen;
};

/// A message whose multipart parts are bodies of class T.
template <typename T>
class TMessageWith : public TixMailMessage
{
protected:
    TixMessageBody& CreateBody(TixMessageBodies& AList, std::string_view AContentType,
        std::string_view ADisposition) override
    {
        if (StartsText("multipart/", AContentType))
            return AList.Add<T>();
        return TixMailMessage::CreateBody(AList, AContentType, ADisposition);
    }
};

template <typename T>
class MultipartSubclassTest : public ::testing::Test
{
};
using MultipartSubclasses = ::testing::Types<TixMultipartBody, TSelfDecoding>;
TYPED_TEST_SUITE(MultipartSubclassTest, MultipartSubclasses);

} // namespace

TYPED_TEST(MultipartSubclassTest, NestedBodiesIndexTheTopLevelSourceAlsoWhenASubclassDecodesTheData)
{
    TMessageWith<TypeParam> message;
    TBodyDataRecorder recorder(message);
    TStringList source;
    source.SetText("Content-Type: multipart/mixed; boundary=outer\n"    // 0
                   "\n"                                                 // 1
                   "--outer\n"                                          // 2
                   "Content-Type: text/plain\n"                         // 3
                   "\n"                                                 // 4
                   "first\n"                                            // 5
                   "\n"                                                 // 6
                   "--outer\n"                                          // 7
                   "Content-Type: multipart/alternative; boundary=in\n" // 8
                   "\n"                                                 // 9
                   "--in\n"                                             // 10
                   "Content-Type: text/plain\n"                         // 11
                   "\n"                                                 // 12
                   "inner\n"                                            // 13
                   "--in--\n"                                           // 14
                   "--outer--\n");
    for (int load = 0; load < 2; ++load) {
        message.LoadMessage(source);
        ASSERT_EQ(message.GetBodies().Count(), 2);
        // A part's encoded lines run up to the next boundary, a blank line before it included.
        TixMessageBody& first = message.GetBodies()[0];
        EXPECT_EQ(first.GetHeaderStart(), 3);
        EXPECT_EQ(first.GetEncodedStart(), 5);
        EXPECT_EQ(first.GetEncodedLines(), 2);
        EXPECT_EQ(first.GetEncodedSize(), 9);
        auto* multipart = dynamic_cast<TypeParam*>(&message.GetBodies()[1]);
        ASSERT_NE(multipart, nullptr);
        if constexpr (!std::is_same_v<TypeParam, TixMultipartBody>) {
            EXPECT_EQ(multipart->Seen, "--in\r\nContent-Type: text/plain\r\n\r\ninner\r\n--in--");
        }
        EXPECT_EQ(multipart->GetHeaderStart(), 8);
        EXPECT_EQ(multipart->GetEncodedStart(), 10);
        EXPECT_EQ(multipart->GetBoundary(), "in");
        ASSERT_EQ(multipart->GetBodies().Count(), 1);
        TixMessageBody& inner = multipart->GetBodies()[0];
        EXPECT_EQ(inner.GetHeaderStart(), 11);
        EXPECT_EQ(inner.GetEncodedStart(), 13);
        EXPECT_EQ(inner.GetMessage(), &message);
        EXPECT_EQ(recorder.DataAdded[&inner], "inner");
        // The nested message holds bodies only: no date of its own, header parts made on demand.
        TixMailMessage& nested = multipart->GetMessageObject();
        EXPECT_EQ(nested.GetDate(), 0);
        EXPECT_EQ(nested.GetToList().Count(), 0);
        EXPECT_EQ(nested.MessageText().GetText(), "inner\r\n");
        recorder.DataAdded.clear();
    }
}
