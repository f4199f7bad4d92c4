#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <string>

#include "message/message_test_support.h"

using namespace ix;
using ix::test::TBodyDataRecorder;

namespace {

class MimeBodiesTest : public test::MessageLoadTest
{
protected:
    TixMessageBody& Body(int32_t AIndex) { return Message.GetBodies()[AIndex]; }

    template <typename T>
    T* BodyAs(int32_t AIndex)
    {
        return dynamic_cast<T*>(&Body(AIndex));
    }

    TBodyDataRecorder Recorder{Message};
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

} // namespace

TEST_F(MimeBodiesTest, BodyClassFollowsTypeAndDisposition)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: text/plain\n\nt\n"
         "--b\nContent-Type: image/png; name=a.png\nContent-ID: <img1>\n\nx\n"
         "--b\nContent-Type: image/png\nContent-Disposition: attachment; filename=b.png\n\nx\n"
         "--b\nContent-Type: audio/basic\n\nx\n"
         "--b\n\nno type\n"
         "--b\nContent-Type: text/plain\nContent-Disposition: attachment\n\nx\n"
         "--b\nContent-Type: multipart/alternative; boundary=c\n\n--c\n\nx\n--c--\n"
         "--b--\n");
    ASSERT_EQ(Message.GetBodies().Count(), 7);
    EXPECT_EQ(Body(0).ClassName(), "TixTextBody");
    EXPECT_EQ(Body(1).ClassName(), "TixImageBody");
    EXPECT_EQ(BodyAs<TixImageBody>(1)->GetFileName(), "a.png");
    EXPECT_EQ(BodyAs<TixImageBody>(1)->GetContentID(), "img1");
    EXPECT_EQ(Body(2).ClassName(), "TixAttachmentBody");
    EXPECT_EQ(Body(3).ClassName(), "TixAttachmentBody");
    EXPECT_EQ(Body(4).ClassName(), "TixAttachmentBody");
    EXPECT_EQ(Body(4).GetContentType(), "");
    EXPECT_EQ(Body(5).ClassName(), "TixAttachmentBody");
    EXPECT_EQ(Body(6).ClassName(), "TixMultipartBody");
    EXPECT_EQ(Message.GetAttachmentList().Count(), 5);
    EXPECT_EQ(Message.GetImageList().Count(), 1);
}

TEST_F(MimeBodiesTest, SinglePartMessagesGetOneTextOrAttachmentBody)
{
    Load("Subject: no type\n\nhello\n");
    ASSERT_EQ(Message.GetBodies().Count(), 1);
    EXPECT_EQ(Body(0).ClassName(), "TixTextBody");
    EXPECT_EQ(Body(0).GetEncodedStart(), 2);
    Load("Content-Type: image/gif\n\nGIF89a\n");
    EXPECT_EQ(Body(0).ClassName(), "TixTextBody");
    Load("Content-Type: application/pdf; name=\"doc.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERg==\n");
    ASSERT_EQ(Body(0).ClassName(), "TixAttachmentBody");
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].FileName, "doc.pdf");
    EXPECT_EQ(Recorder.Saved[0].Data, "%PDF");
}

TEST_F(MimeBodiesTest, PartsLoseTheLineBreakBeforeTheNextBoundaryAndTheLastPartNeedNotBeClosed)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\npreamble\n"
         "--b\nContent-Type: application/octet-stream\n\nline 1\nline 2\n\n"
         "--b\nContent-Type: application/octet-stream\n\nunclosed\n");
    ASSERT_EQ(Recorder.Saved.size(), 2U);
    EXPECT_EQ(Recorder.Saved[0].Data, "line 1\r\nline 2\r\n");
    EXPECT_EQ(Recorder.Saved[1].Data, "unclosed");
    EXPECT_EQ(Body(0).GetEncodedLines(), 3);
    EXPECT_EQ(Body(0).GetEncodedSize(), 18);
    EXPECT_EQ(Body(0).GetHeaderStart(), 4);
    EXPECT_EQ(Body(0).GetEncodedStart(), 6);
}

TEST_F(MimeBodiesTest, EmptyPartGetsNoData)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: text/plain\n\n"
         "--b\nContent-Type: text/plain\n\nx\n--b--\n");
    ASSERT_EQ(Message.GetBodies().Count(), 2);
    EXPECT_EQ(Recorder.DataAdded.count(&Body(0)), 0U);
    EXPECT_EQ(Recorder.DataAdded[&Body(1)], "x");
    EXPECT_EQ(Recorder.DataAddedCount, 1);
}

TEST_F(MimeBodiesTest, AHeaderWithoutBlankLineEndsAtTheFirstLineThatIsNoField)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: text/plain\nX-A: 1\n--b\nContent-Type: text/html\n\nh\n"
         "--b\nContent-Type: text/plain\nno blank line before this text\n--b--\n");
    ASSERT_EQ(Message.GetBodies().Count(), 3);
    EXPECT_EQ(Body(1).GetContentType(), "text/html");
    EXPECT_EQ(BodyAs<TixTextBody>(2)->GetStrings().Join("|"), "no blank line before this text");
    Load("Subject: s\nthe body\n\nmore\n");
    EXPECT_EQ(Message.MessageText().Join("|"), "the body||more");
}

TEST_F(MimeBodiesTest, MultipartMailOfOtherProgramsIsSplitAsTheyWroteIt)
{
    const struct
    {
        const char* Text;
        int32_t Parts;
    } cases[] = {
        // Blanks after a boundary are transport padding.
        {"Content-Type: multipart/mixed; boundary=b\n\n--b \t\n\nx\n--b\t\n\ny\n--b-- \n", 2},
        // The parameter named "boundary", not one that ends in it; also in the RFC 2231 form.
        {"Content-Type: multipart/mixed; x-boundary=\"decoy\"; boundary=\"real\"\n\n--decoy\n\nd\n--real\n\nx\n--real--\n", 1},
        {"Content-Type: multipart/mixed; boundary*=us-ascii'en'b%2D1\n\n--b-1\n\nx\n--b-1\n\ny\n--b-1--\n", 2},
        {"Content-Type: multipart/mixed;\n boundary*0=\"b\"; boundary*1=\"2\"\n\n--b2\n\nx\n--b2--\n", 1},
    };
    for (const auto& c : cases) {
        // A body of the next message may get the address of one of this message.
        Recorder.DataAdded.clear();
        Load(c.Text);
        ASSERT_EQ(Message.GetBodies().Count(), c.Parts) << c.Text;
        EXPECT_EQ(Recorder.DataAdded[&Body(0)], "x") << c.Text;
    }
    Load("Content-Type: text/plain; x-charset=koi8-r; charset=utf-8\n\n\xC3\xA9\n");
    EXPECT_EQ(Message.MessageText().Join("|"), "\xE9");
    Load("Subject: Quarterly report for\n\tthe region\n\nx\n");
    EXPECT_EQ(Message.GetSubject(), "Quarterly report for\tthe region");
}

TEST_F(MimeBodiesTest, TextIsConvertedFromItsCharSet)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
         "caf=C3=A9 =\nau lait\n--b\nContent-Type: text/plain\n\nraw \xE9\n--b--\n");
    EXPECT_EQ(BodyAs<TixTextBody>(0)->GetStrings().Join("|"), "caf\xE9 au lait");
    EXPECT_EQ(BodyAs<TixTextBody>(0)->GetCharSet(), "utf-8");
    EXPECT_EQ(BodyAs<TixTextBody>(1)->GetStrings().Join("|"), "raw \xE9");
}

TEST_F(MimeBodiesTest, UuencodedBlockBecomesAnAttachmentBetweenTextLines)
{
    Load("Subject: uu\n\nbefore\nbegin 644 cat.txt\n#8V%T\n`\nend\nafter\n");
    ASSERT_EQ(Message.GetBodies().Count(), 2);
    EXPECT_EQ(Message.GetMessageFormat(), mfUUencode);
    EXPECT_EQ(BodyAs<TixTextBody>(0)->GetStrings().Join("|"), "before|after");
    auto* attachment = BodyAs<TixAttachmentBody>(1);
    ASSERT_NE(attachment, nullptr);
    EXPECT_EQ(attachment->GetFileName(), "cat.txt");
    EXPECT_EQ(attachment->GetEncoding(), cmUUEncode);
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].Data, "cat");

    // Without an open block, "end" is a line of text too.
    Load("Subject: uu\n\nbefore\nbegin 64x cat.txt\n#8V%T\nend\n");
    ASSERT_EQ(Message.GetBodies().Count(), 1);
    EXPECT_EQ(BodyAs<TixTextBody>(0)->GetStrings().Join("|"), "before|begin 64x cat.txt|#8V%T|end");
}

TEST_F(MimeBodiesTest, UuencodedFileNameIsMadeSafeAndAnUnendedBlockKeepsItsData)
{
    Load("Subject: uu\n\nbegin 600 ../../etc/pass:wd.\n#8V%T\n");
    ASSERT_EQ(Message.GetBodies().Count(), 1);
    EXPECT_EQ(BodyAs<TixAttachmentBody>(0)->GetFileName(), ".._.._etc_pass_wd");
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].Data, "cat");
}

TEST_F(MimeBodiesTest, FileNameSourcesAreTriedInOrderAndMadeSafe)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
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
         "--b--\n");
    ASSERT_EQ(Message.GetBodies().Count(), 8);
    EXPECT_EQ(BodyAs<TixAttachmentBody>(0)->GetFileName(), "\xE9t\xE9.txt");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(1)->GetFileName(), "sub_dir.bin");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(2)->GetFileName(), "Quarterly report.dat");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(3)->GetFileName(), "a.pdf");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(4)->GetFileName(), "Re_ news.eml");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(5)->GetFileName(), "_");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(5)->GetContentID(), "id@x");
    EXPECT_EQ(BodyAs<TixImageBody>(6)->GetFileName(), "only.png");
    EXPECT_EQ(BodyAs<TixImageBody>(7)->GetFileName(), "type.png");
}

TEST(SafeFileName, ReplacesReservedCharactersAndOneTrailingDotOrBlank)
{
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName("a<b>c?d*e|f\"g\\h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName(std::string("a\0b\tc", 5)), "a_b_c");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName("name. "), "name.");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName(""), "_");
    EXPECT_EQ(TixAttachmentBody::MakeSafeFileName("..."), "_");
}

TEST_F(MimeBodiesTest, NestedBodiesIndexTheTopLevelSource)
{
    Load("Content-Type: multipart/mixed; boundary=outer\n"    // 0
         "\n"                                                 // 1
         "--outer\n"                                          // 2
         "Content-Type: text/plain\n"                         // 3
         "\n"                                                 // 4
         "first\n"                                            // 5
         "--outer\n"                                          // 6
         "Content-Type: multipart/alternative; boundary=in\n" // 7
         "\n"                                                 // 8
         "--in\n"                                             // 9
         "Content-Type: text/plain\n"                         // 10
         "\n"                                                 // 11
         "inner\n"                                            // 12
         "--in--\n"                                           // 13
         "--outer--\n");
    ASSERT_EQ(Message.GetBodies().Count(), 2);
    auto* multipart = BodyAs<TixMultipartBody>(1);
    ASSERT_NE(multipart, nullptr);
    EXPECT_EQ(multipart->GetHeaderStart(), 7);
    EXPECT_EQ(multipart->GetEncodedStart(), 9);
    EXPECT_EQ(multipart->GetBoundary(), "in");
    ASSERT_EQ(multipart->GetBodies().Count(), 1);
    TixMessageBody& inner = multipart->GetBodies()[0];
    EXPECT_EQ(inner.GetHeaderStart(), 10);
    EXPECT_EQ(inner.GetEncodedStart(), 12);
    EXPECT_EQ(Source[inner.GetEncodedStart()], "inner");
    EXPECT_EQ(inner.GetMessage(), &Message);
    EXPECT_EQ(Recorder.DataAdded[&inner], "inner");
    // The nested message holds bodies only: no date of its own, header parts made on demand.
    TixMailMessage& nested = multipart->GetMessageObject();
    EXPECT_EQ(nested.GetDate(), 0);
    EXPECT_EQ(nested.GetToList().Count(), 0);
    EXPECT_EQ(nested.MessageText().GetText(), "inner\r\n");
}

TEST_F(MimeBodiesTest, BlankTextIsRemovedOnlyFromASinglePartMessage)
{
    Load("Subject: blank\n\n   \n\t\n");
    EXPECT_EQ(Message.GetBodies().Count(), 0);
    Load("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n  \n--b--\n");
    EXPECT_EQ(Message.GetBodies().Count(), 1);
}

TEST_F(MimeBodiesTest, BadBase64FollowsTheErrorProcessingMode)
{
    Message.SetErrorProcessing(meExtractMaximumData);
    Load(BadBase64Message);
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].Data, "Hello");

    Recorder.Saved.clear();
    Message.SetErrorProcessing(meIgnore);
    Load(BadBase64Message);
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].Data, "SGVs\r\nbG8*d29y");

    Message.SetErrorProcessing(meStop);
    Source.SetText(BadBase64Message);
    try {
        Message.LoadMessage(Source);
        FAIL() << "no exception";
    } catch (const EixEncoderError& error) {
        EXPECT_EQ(error.ErrorCode(), -2);
    }
    // The update counter was restored: changes notify again.
    int changes = 0;
    Message.OnChanged = [&](TObject*) { ++changes; };
    Message.SetSubject("after");
    EXPECT_EQ(changes, 1);
}

TEST_F(MimeBodiesTest, AFailedLoadLeavesNoListPointingAtFreedBodies)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: application/zip; name=old.zip\n\nx\n"
         "--b\nContent-Type: image/gif; name=old.gif\n\nx\n--b--\n");
    ASSERT_EQ(Message.GetAttachmentList().Count(), 1);
    ASSERT_EQ(Message.GetImageList().Count(), 1);
    Message.SetErrorProcessing(meStop);
    EXPECT_THROW(Load(BadBase64Message), EixEncoderError);
    ASSERT_EQ(Message.GetAttachmentList().Count(), 1);
    EXPECT_EQ(Message.GetAttachmentList()[0].GetContentType(), "application/octet-stream");
    EXPECT_EQ(Message.GetImageList().Count(), 0);

    // An exception from an application's handler leaves the same way.
    Message.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>&, bool&) {
        throw Exception("disk full");
    };
    EXPECT_THROW(Load("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nt\n"
                      "--b\nContent-Type: application/zip\n\nx\n--b--\n"),
        Exception);
    EXPECT_EQ(Message.GetAttachmentList().Count(), 1);
}

TEST_F(MimeBodiesTest, AttachmentWithoutAStreamIsNotDecoded)
{
    Recorder.SetGiveStreams(false);
    Load("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/x\n\ndata\n--b--\n");
    ASSERT_EQ(Message.GetBodies().Count(), 1);
    EXPECT_TRUE(Recorder.Saved.empty());
    EXPECT_EQ(Recorder.DataAddedCount, 0);
}

TEST_F(MimeBodiesTest, SaveEventMayRenameTheAttachment)
{
    Recorder.SetRenameTo("renamed.bin");
    Load("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/x; name=a\n\ndata\n--b--\n");
    EXPECT_EQ(BodyAs<TixAttachmentBody>(0)->GetFileName(), "renamed.bin");
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_EQ(Recorder.Saved[0].FileName, "renamed.bin");
}

TEST_F(MimeBodiesTest, NestingDeeperThanTheLimitStaysAnUndecodedAttachment)
{
    Load(NestedMessage(10000));
    const TixMessageBodies* level = &Message.GetBodies();
    int depth = 0;
    while (level->Count() == 1) {
        auto* multipart = dynamic_cast<TixMultipartBody*>(&(*level)[0]);
        if (!multipart)
            break;
        level = &multipart->GetBodies();
        ++depth;
    }
    EXPECT_EQ(depth, TixMailMessage::MaxNestingLevel);
    ASSERT_EQ(level->Count(), 1);
    EXPECT_EQ((*level)[0].ClassName(), "TixAttachmentBody");
    EXPECT_EQ((*level)[0].GetContentType(), "multipart/mixed");
    ASSERT_EQ(Recorder.Saved.size(), 1U);
    EXPECT_TRUE(Recorder.Saved[0].Data.starts_with("--b101\r\nContent-Type: multipart/mixed"));
    EXPECT_TRUE(Recorder.Saved[0].Data.ends_with("deep"));
}

TEST_F(MimeBodiesTest, ManyTinyPartsAllLoad)
{
    constexpr int Parts = 20000;
    std::string text = "Content-Type: multipart/mixed; boundary=b\n\n";
    for (int i = 0; i < Parts; ++i)
        text += "--b\nContent-Type: text/plain\n\n" + std::to_string(i) + "\n";
    Load(text);
    ASSERT_EQ(Message.GetBodies().Count(), Parts);
    EXPECT_EQ(BodyAs<TixTextBody>(Parts - 1)->GetStrings()[0], std::to_string(Parts - 1));
    EXPECT_EQ(Body(Parts - 1).GetEncodedStart(), 2 + 4 * (Parts - 1) + 3);
}

TEST_F(MimeBodiesTest, BodiesPersistByClassName)
{
    Load("Content-Type: multipart/mixed; boundary=b\n\n"
         "--b\nContent-Type: text/plain; charset=utf-8\nX-Note: kept\n\ntext\n"
         "--b\nContent-Type: multipart/related; type=\"text/html\"; boundary=c\n\n"
         "--c\nContent-Type: image/gif; name=i.gif\n\nx\n--c--\n"
         "--b\nContent-Type: application/zip; name=z.zip\n\nx\n--b--\n");
    TMemoryStream stream;
    TixBodyWriter writer(stream);
    Message.GetBodies().WriteItems(writer);

    TixMailMessage copy;
    stream.Seek(0, soBeginning);
    TixBodyReader reader(stream);
    copy.GetBodies().ReadItems(reader);
    ASSERT_EQ(copy.GetBodies().Count(), 3);
    auto* text = dynamic_cast<TixTextBody*>(&copy.GetBodies()[0]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetStrings().Join("|"), "text");
    EXPECT_EQ(text->GetCharSet(), "utf-8");
    EXPECT_EQ(text->GetExtraFields().Join("|"), "X-Note: kept");
    auto* related = dynamic_cast<TixMultipartBody*>(&copy.GetBodies()[1]);
    ASSERT_NE(related, nullptr);
    EXPECT_EQ(related->GetContentSubType(), "text/html");
    ASSERT_EQ(related->GetBodies().Count(), 1);
    EXPECT_EQ(related->GetBodies()[0].ClassName(), "TixImageBody");
    EXPECT_EQ(dynamic_cast<TixAttachmentBody&>(copy.GetBodies()[2]).GetFileName(), "z.zip");

    TixMailMessage assigned;
    assigned.GetBodies().Assign(Message.GetBodies());
    EXPECT_EQ(assigned.GetBodies().Count(), 3);
    EXPECT_EQ(assigned.GetBodies()[1].ClassName(), "TixMultipartBody");

    // Damaged data: a cut stream, an unknown class.
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
}

TEST(BodyPersistence, SavedBodiesNestNoDeeperThanLoadedOnes)
{
    TMemoryStream stream;
    TixBodyWriter writer(stream);
    for (int level = 0; level < 100000; ++level) {
        writer.WriteInteger(1);
        writer.WriteString("TixMultipartBody");
        writer.WriteString({}); // subtype, then the nested bodies
    }
    stream.Seek(0, soBeginning);
    TixBodyReader reader(stream);
    TixMailMessage message;
    try {
        message.GetBodies().ReadItems(reader);
        FAIL() << "no exception";
    } catch (const EReadError& error) {
        EXPECT_STREQ(error.what(), "Body data nested deeper than 100 levels");
    }
}

namespace {

/// A multipart body that keeps what it saw of its content on its side of the hand-over.
class TWatchedMultipart : public TixMultipartBody
{
public:
    using TixMultipartBody::TixMultipartBody;
    std::string Seen;
};

/// Reads the content in DataAdded before the base parses it.
class TDataAddedWatcher : public TWatchedMultipart
{
public:
    using TWatchedMultipart::TWatchedMultipart;
    void DataAdded(TStream& AStream) override
    {
        Seen = TBodyDataRecorder::ReadAll(AStream);
        TWatchedMultipart::DataAdded(AStream);
    }
};

/// Reads what the base's DecodeData left in the destination.
class TDecodeWatcher : public TWatchedMultipart
{
public:
    using TWatchedMultipart::TWatchedMultipart;
    void DecodeData(TStream& ASource, TStream& ADestination) override
    {
        TWatchedMultipart::DecodeData(ASource, ADestination);
        ADestination.Seek(0, soBeginning);
        Seen = TBodyDataRecorder::ReadAll(ADestination);
    }
};

/// Decodes by itself, without the base.
class TSelfDecoding : public TWatchedMultipart
{
public:
    using TWatchedMultipart::TWatchedMultipart;
    void DecodeData(TStream& ASource, TStream& ADestination) override
    {
        ADestination.CopyFrom(ASource, 0);
        ADestination.Seek(0, soBeginning);
        Seen = TBodyDataRecorder::ReadAll(ADestination);
    }
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
using MultipartSubclasses = ::testing::Types<TDataAddedWatcher, TDecodeWatcher, TSelfDecoding>;
TYPED_TEST_SUITE(MultipartSubclassTest, MultipartSubclasses);

} // namespace

TYPED_TEST(MultipartSubclassTest, OverridingEitherSideOfTheDataHandOverKeepsTheContentAndTheNestedParts)
{
    TMessageWith<TypeParam> message;
    TBodyDataRecorder recorder(message);
    TStringList source;
    source.SetText("Content-Type: multipart/mixed; boundary=outer\n\n--outer\n"
                   "Content-Type: multipart/alternative; boundary=in\n\n"
                   "--in\nContent-Type: text/plain\n\ninner\n--in--\n--outer--\n");
    for (int load = 0; load < 2; ++load) {
        message.LoadMessage(source);
        ASSERT_EQ(message.GetBodies().Count(), 1);
        auto* part = dynamic_cast<TypeParam*>(&message.GetBodies()[0]);
        ASSERT_NE(part, nullptr);
        EXPECT_EQ(part->Seen, "--in\r\nContent-Type: text/plain\r\n\r\ninner\r\n--in--");
        ASSERT_EQ(part->GetBodies().Count(), 1);
        EXPECT_EQ(part->GetBodies()[0].GetEncodedStart(), 8);
        EXPECT_EQ(recorder.DataAdded[&part->GetBodies()[0]], "inner");
        recorder.DataAdded.clear();
    }
}
