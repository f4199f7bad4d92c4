// Round trips: generated messages are composed and written, loaded back by LoadMessage, and
// must give the same header properties, the same body tree, texts, names and decoded bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "compose_test_support.h"
#include "message/ixMailMessage.h"
#include "message_generator.h"
#include "message_test_support.h"
#include "support/AnsiCodePageScope.h"

using namespace ix;
using namespace ix::test;

namespace {

constexpr uint32_t MessageCount = 500;

std::string Addresses(const TixEmailAddressList& AList)
{
    std::string result;
    for (int32_t i = 0; i < AList.Count(); ++i)
        result += AList[i].GetName() + "|" + AList[i].GetEmail() + ";";
    return result;
}

class RoundTrip : public ::testing::TestWithParam<uint32_t>
{
protected:
    void ExpectSameHeader()
    {
        EXPECT_EQ(Loaded.GetSubject(), Original.GetSubject());
        EXPECT_EQ(Loaded.GetFrom().GetName(), Original.GetFrom().GetName());
        EXPECT_EQ(Loaded.GetFrom().GetEmail(), Original.GetFrom().GetEmail());
        EXPECT_EQ(Addresses(Loaded.GetToList()), Addresses(Original.GetToList()));
        EXPECT_EQ(Addresses(Loaded.GetCCList()), Addresses(Original.GetCCList()));
        EXPECT_EQ(Loaded.GetReplyTo(), Original.GetReplyTo());
        EXPECT_LT(std::abs(Loaded.GetDate() - Original.GetDate()), 0.5 / 86400);
        EXPECT_EQ(Loaded.GetPriority(), Original.GetPriority());
        EXPECT_EQ(Loaded.GetMessageID(), Original.GetMessageID());
        EXPECT_EQ(Loaded.GetInReplyTo(), Original.GetInReplyTo());
        EXPECT_EQ(Loaded.GetReferences().GetText(), Original.GetReferences().GetText());
        EXPECT_EQ(Loaded.GetMailer(), Original.GetMailer());
        // The fields of a single part's header come back among the message's own.
        TStringList extra;
        for (int32_t i = 0; i < Loaded.GetExtraFields().Count(); ++i)
            if (!StartsText("Content-", Loaded.GetExtraFields()[i]))
                extra.Add(Loaded.GetExtraFields()[i]);
        EXPECT_EQ(extra.GetText(), Original.GetExtraFields().GetText());
        EXPECT_EQ(Loaded.GetMessageFormat() == mfUUencode, Original.GetMessageFormat() == mfUUencode);
    }

    void ExpectSameBodies(TixMessageBodies& AOriginal, TixMessageBodies& ALoaded, const std::string& APath)
    {
        ASSERT_EQ(ALoaded.Count(), AOriginal.Count()) << APath;
        for (int32_t i = 0; i < AOriginal.Count(); ++i) {
            TixMessageBody& original = AOriginal[i];
            TixMessageBody& loaded = ALoaded[i];
            const std::string path = APath + "/" + std::to_string(i);
            ASSERT_EQ(loaded.ClassName(), original.ClassName()) << path;
            // A plain (non-MIME) message states no type.
            if (Loaded.GetMessageFormat() != mfUUencode) {
                EXPECT_TRUE(SameText(loaded.GetContentType(), original.GetContentType())) << path;
            }
            if (auto* text = dynamic_cast<TixTextBody*>(&original)) {
                EXPECT_EQ(dynamic_cast<TixTextBody&>(loaded).GetStrings().GetText(), text->GetStrings().GetText()) << path;
            }
            if (auto* multipart = dynamic_cast<TixMultipartBody*>(&original)) {
                EXPECT_EQ(dynamic_cast<TixMultipartBody&>(loaded).GetContentSubType(), multipart->GetContentSubType());
                ExpectSameBodies(multipart->GetBodies(), dynamic_cast<TixMultipartBody&>(loaded).GetBodies(), path);
            }
            if (auto* attachment = dynamic_cast<TixAttachmentBody*>(&original)) {
                auto& back = dynamic_cast<TixAttachmentBody&>(loaded);
                EXPECT_EQ(back.GetFileName(), TixAttachmentBody::MakeSafeFileName(attachment->GetComposeName())) << path;
                EXPECT_EQ(back.GetContentID(), attachment->GetContentID()) << path;
                const std::string& data = Files.Files[attachment->GetFileName()];
                const std::string& decoded = Recorder.DataAdded[&loaded];
                EXPECT_EQ(decoded.size(), data.size()) << path;
                EXPECT_TRUE(decoded == data) << path << " " << back.GetFileName();
            }
        }
    }

    const TAnsiCodePageScope FUtf8{os::CP_UTF8}; // generated texts are UTF-8
    TixMailMessage Original;
    TAttachmentSource Files{Original};
    TixMailMessage Loaded;
    TBodyDataRecorder Recorder{Loaded};
};

TEST_P(RoundTrip, LoadingWhatWasWrittenGivesTheSameMessage)
{
    TMessageGenerator(GetParam(), Original, Files.Files);
    TStringList lines;
    Original.SaveToStrings(lines);
    for (int32_t i = 0; i < lines.Count(); ++i)
        ASSERT_LE(lines[i].size(), 998u) << "line " << i;
    Loaded.SetCharSet("us-ascii"); // the message states its own
    Loaded.LoadMessage(lines);
    ExpectSameHeader();
    ExpectSameBodies(Original.GetBodies(), Loaded.GetBodies(), "");
}

INSTANTIATE_TEST_SUITE_P(Generated, RoundTrip, ::testing::Range(0u, MessageCount));

} // namespace
