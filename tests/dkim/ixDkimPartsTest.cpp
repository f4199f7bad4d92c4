// The pieces of DKIM: tag lists, the DKIM-Signature field, canonicalization, quoted-printable
// and key records.
#include "dkim/ixDkimCanonicalizer.h"
#include "dkim/ixDkimKey.h"
#include "dkim/ixDkimSignature.h"

#include <gtest/gtest.h>

#include "support/ExpectError.h"
#include "util/ixUtils.h"

namespace ix {
namespace {

constexpr char Minimal[] = "v=1; a=rsa-sha256; d=example.com; s=sel; h=from:to; bh=AAAA; b=BBBB";

// ---- Signature tags -------------------------------------------------------------------------

TEST(DkimSignature, ParseRefusesMalformedFieldsReadsTagsAtTheirBoundariesOnlyAndNamesTheirCanonicalizationsAndHash)
{
    const std::string minimal = Minimal;
    const std::string refused[] = {minimal + "; d=other.com", minimal + "; l=-5", minimal + "; l=x", minimal + ";; x=1",
        minimal + "; novalue", "v=0; a=rsa-sha256; d=e; s=s; h=from; bh=A; b=B", "v=1; a=rsa-sha256; d=e; s=s; bh=A; b=B",
        "v=1; a=; d=e; s=s; h=from; bh=A; b=B", "v=1; a=rsa-sha256; d=e; s=s; h=from; bh=A", ""};
    for (const std::string& value : refused) {
        TixDkimSignature signature;
        SCOPED_TRACE(value);
        test::ExpectError<EixDkimError>([&] { signature.Parse(value); }, DkimInvalidFormatCode);
    }

    // "h" and "a" also occur inside the bh and b values; only tag names count; unknown tags and a
    // last ";" are allowed.
    TixDkimSignature signature;
    signature.Parse("v=1; bh=xh=a= ; b=AB c\r\n\tD=; a=rsa-sha1; d=ex.com; s=s1; h = From : to: FROM; "
                    "i=user=40ex.com; t=1234567890123; l=10; z=From:a=3Db|To:c; c=relaxed; unknown=1;");
    EXPECT_EQ(signature.BodyHash, "xh=a=");
    EXPECT_EQ(signature.Signature, "ABcD=");
    EXPECT_EQ(signature.SignatureAlgorithm, "rsa-sha1");
    EXPECT_EQ(signature.SignedHeaderFields.Join(","), "From,to,FROM");
    EXPECT_EQ(signature.UserIdentity, "user@ex.com");
    EXPECT_EQ(signature.BodyLength, 10);
    EXPECT_EQ(signature.CopiedHeaderFields.Join(","), "From:a=b,To:c");
    EXPECT_EQ(DateTimeToUnix(LocalToUtc(signature.SignatureTimestamp)), 123456789012);
    EXPECT_EQ(signature.GetHeaderCanonicalization(), "relaxed");
    EXPECT_EQ(signature.GetBodyCanonicalization(), "simple");
    EXPECT_EQ(signature.GetHashAlgorithm(), "sha1");

    // Canonicalization names, and algorithm names without a hash.
    const std::vector<std::tuple<std::string, std::string, std::string>> names{
        {"", "simple", "simple"}, {"relaxed", "relaxed", "simple"}, {"relaxed/relaxed", "relaxed", "relaxed"},
        {"simple/relaxed", "simple", "relaxed"}};
    for (const auto& [c, header, body] : names) {
        signature.Canonicalization = c;
        EXPECT_EQ(signature.GetHeaderCanonicalization(), header) << c;
        EXPECT_EQ(signature.GetBodyCanonicalization(), body) << c;
    }
    for (const char* bad : {"rsa", "rsa-sha-256", "-sha1", "rsa-"}) {
        signature.SignatureAlgorithm = bad;
        SCOPED_TRACE(bad);
        test::ExpectError<EixDkimError>([&] { signature.GetHashAlgorithm(); }, DkimInvalidAlgorithmCode);
    }
}

TEST(DkimSignature, BuildWritesFoldedTagsThatParseBackAndRefusesMissingValuesAndReversedDates)
{
    TixDkimSignature signature;
    signature.Version = 1;
    signature.SignatureAlgorithm = "rsa-sha256";
    signature.Domain = "example.com";
    signature.Selector = "sel";
    signature.UserIdentity = "j; d@example.com";
    signature.BodyHash = "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
    signature.SignedHeaderFields.Assign(
        TStringList{"Date", "From", "To", "Subject", "MIME-Version", "Content-Type", "Message-ID", "Received"});
    signature.CopiedHeaderFields.Assign(TStringList{"Subject: a|b", "\tfolded"});
    TStringList message{"From: a@b", "", "body"};
    signature.Build(message, 40);
    signature.Signature = std::string(300, 'Q');
    signature.SetSignatureValue(message, 40);

    TixDkimHeaderFieldList list;
    list.Parse(0, message);
    ASSERT_EQ(list.GetFieldName(0), "DKIM-Signature");
    for (int32_t i = 0; i < list.GetFieldEnd(0); ++i)
        EXPECT_LE(message[i].size(), 40u) << message[i];
    TixDkimSignature parsed;
    parsed.Parse(list.GetFieldValue(0));
    EXPECT_EQ(parsed.UserIdentity, "j; d@example.com");
    EXPECT_EQ(parsed.SignedHeaderFields.Join(":"), signature.SignedHeaderFields.Join(":"));
    EXPECT_EQ(parsed.BodyHash, signature.BodyHash);
    EXPECT_EQ(parsed.Signature, signature.Signature);
    EXPECT_EQ(parsed.CopiedHeaderFields.Join("/"), "Subject: a/b\r\n\tfolded");

    // Refused: a field without its values, dates in the wrong order, a missing signature value.
    TixDkimSignature incomplete;
    test::ExpectError<EixDkimError>([&] { incomplete.Build(message, 76); }, DkimSignatureParamsCode);
    incomplete.Parse(Minimal);
    incomplete.SignatureTimestamp = Now();
    incomplete.SignatureExpiration = incomplete.SignatureTimestamp - 1;
    test::ExpectError<EixDkimError>([&] { incomplete.Build(message, 76); }, DkimSignatureParamsCode);
    incomplete.Signature.clear();
    test::ExpectError<EixDkimError>([&] { incomplete.SetSignatureValue(message, 76); }, DkimSignatureParamsCode);
}

// ---- Canonicalization -----------------------------------------------------------------------

// Repeated names take fields from the bottom up, each once; "From: body" is no header field.
TEST(DkimHeaderCanonicalization, SignsNamedFieldsBottomUpInBothForms)
{
    TStringList message{"From: one", "To:  T  x", "\t y ", "Subject: s", "FROM: two", "", "From: body"};
    TStringList names{"from", "to", "from", "from", "cc"};
    TixDkimSimpleCanonicalizer simple;
    TixDkimRelaxedCanonicalizer relaxed;
    EXPECT_EQ(simple.CanonicalizeHeader(message, names), "FROM: two\r\nTo:  T  x\r\n\t y \r\nFrom: one\r\n");
    EXPECT_EQ(relaxed.CanonicalizeHeader(message, names), "from:two\r\nto:T x y\r\nfrom:one\r\n");
}

// ---- Key records ----------------------------------------------------------------------------

TEST(DkimKey, ParseReadsMembersByTheirExactNamesAndBuildWritesPLastEmptyForARevokedKey)
{
    TixDkimKey key;
    // Quoted-printable escapes are decoded in upper case only.
    key.Parse("v=DKIM1; h=sha1 : sha256; k=rsa; n=a=3Bb=3d=4=ZZ=; s=email:*; t=y:s:x; p=AB\r\n CD");
    EXPECT_EQ(key.AcceptableHashAlgorithms.Join(","), "sha1,sha256");
    EXPECT_EQ(key.Notes, "a;b=3d=4=ZZ=");
    EXPECT_EQ(key.PublicKey, "ABCD");
    EXPECT_TRUE(key.ServiceType == (TixDkimKeyServiceTypes{ddsAll, ddsEmail}));
    EXPECT_TRUE(key.Flags == (TixDkimKeyFlags{ddfTestingDomain, ddfCheckUserIdentityDomain}));
    key.Parse("s=Email; k=rsa");
    EXPECT_TRUE(key.ServiceType.Empty());
    EXPECT_EQ(key.AcceptableHashAlgorithms.Count(), 0);
    test::ExpectError<EixDkimError>([&] { key.Parse("k=rsa; p=A; p=B"); }, DkimKeyRecordCode);

    TixDkimKey revoked;
    revoked.Parse("p=; k=rsa; v=DKIM1");
    std::string record;
    revoked.Build(record);
    EXPECT_EQ(record, "v=DKIM1; k=rsa; p=");
    revoked.Flags = {ddfTestingDomain};
    revoked.Notes = "a;b=c d|e:f\xC3\xBC";
    revoked.PublicKey = "KEY";
    revoked.Build(record);
    EXPECT_EQ(record, "v=DKIM1; k=rsa; n=a=3Bb=3Dc=20d|e:f=C3=BC; t=y; p=KEY");
}

} // namespace
} // namespace ix
