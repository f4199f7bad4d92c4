// Stored settings of every component: the published defaults are those the components'
// documentation gives, every property survives a write and a read, and a bad form is refused
// with the property's name before anything is set.
#include "core/ixPropertyForm.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>

#include "dkim/ixDkim.h"
#include "dns/ixDnsQuery.h"
#include "dns/ixUdpClient.h"
#include "message/ixEncoder.h"
#include "message/ixMailMessage.h"
#include "pop3/ixPop3.h"

namespace ix {
namespace {

using TLines = std::vector<std::string>;

TLines operator+(TLines A, const TLines& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

const TLines FirewallDefaults{"FirewallSettings.FirewallType=\"ftSocks4\"", "FirewallSettings.UserName=\"\"",
    "FirewallSettings.Password=\"\"", "FirewallSettings.Server=\"\"", "FirewallSettings.Port=1080",
    "FirewallSettings.NeedResolveIP=true"};
/// TixTcpClient with the port that its class publishes.
TLines TcpDefaults(const std::string& APort)
{
    return TLines{"Server=\"\"", "Port=" + APort, "LocalBinding=\"\"", "BatchSize=8192", "TimeOut=60000",
               "BitsPerSec=0", "UseIpV6=false", "KeepAlive=0"} +
        FirewallDefaults + TLines{"ConnectTimeOut=0", "DisableGuiProcessing=false"};
}
const TLines TlsDefaults{"UseTLS=\"ctNone\"", "CertificateFlags=[]", "CertChainFlags=[]", "CertChainRetrievalTimeout=0",
    "TLSFlags=[\"tfUseTLS\",\"tfUseTLS11\",\"tfUseTLS12\"]", "UseSystemTLSFlags=true", "SendRootCertificate=false",
    "UseStrongCryptoAlgorithms=false", "SecurityPackage=\"\""};
// The reply limits (MaxLineLength...), LimitRetrieveToListSize and PipelineDepth are this
// library's own additions.
const TLines Pop3Defaults = TcpDefaults("110") + TlsDefaults +
    TLines{"UserName=\"\"", "Password=\"\"", "Authorization=\"\"", "CharSet=\"\"", "MaxLineLength=1048576",
        "MaxBodyLineLength=268435456", "MaxReplySize=0", "UseSasl=false", "SaslOnly=false",
        "LimitRetrieveToListSize=false", "PipelineDepth=64"};

struct TComponentCase
{
    const char* Name;
    std::function<std::unique_ptr<TComponent>()> Create;
    TLines Defaults;
    /// The form of a new component: the properties without a default ("<Date>" stands for the
    /// moment a message was made).
    std::string FreshForm = "{}";
};

template <typename T>
std::function<std::unique_ptr<TComponent>()> Factory()
{
    return [] { return std::make_unique<T>(); };
}

const TComponentCase Components[] = {
    {"TixTcpClient", Factory<TixTcpClient>(), TcpDefaults("none"), "{\n  \"Port\": 0\n}"},
    {"TixTcpClientTls", Factory<TixTcpClientTls>(), TcpDefaults("none") + TlsDefaults, "{\n  \"Port\": 0\n}"},
    {"TixPop3", Factory<TixPop3>(), Pop3Defaults},
    {"TixUdpClient", Factory<TixUdpClient>(),
        {"Server=\"\"", "Port=none", "DatagramSize=8192", "TimeOut=5000", "BitsPerSec=0", "UseIpV6=false",
            "LocalBinding=\"\"", "CharSet=\"\"", "DisableGuiProcessing=false"},
        "{\n  \"Port\": 0\n}"},
    {"TixDnsQuery", Factory<TixDnsQuery>(),
        {"Server=\"\"", "Port=53", "BatchSize=16384", "Protocol=\"dpAutodetect\"", "IsRecursiveDesired=true",
            "UseRecursiveQueries=false", "MaxRecursiveQueries=4", "AutodetectServer=true", "UsePrimaryServer=false",
            "RootNameServers=[]", "TranslateIDN=true", "TimeOut=5000", "BitsPerSec=0", "UseIpV6=false",
            "LocalBinding=\"\"", "DisableGuiProcessing=false"}},
    {"TixDkim", Factory<TixDkim>(),
        {"DnsSettings.ServiceType=[]", "DnsSettings.Notes=\"\"", "DnsSettings.AcceptableHashAlgorithms=[]",
            "DnsSettings.Flags=[]", "SignatureAlgorithm=\"rsa-sha256\"", "Canonicalization=\"\"", "Domain=\"\"",
            "Selector=\"\"", "SignedHeaderFields=[\"Date\",\"From\",\"To\",\"Subject\",\"MIME-Version\",\"Content-Type\"]",
            "BodyLength=0", "UserIdentity=\"\"", "PublicKeyLocation=\"dns/txt\"", "SignatureTimestamp=0.0",
            "SignatureExpiration=0.0", "CopiedHeaderFields=[]", "CharsPerLine=76", "VerifyMode=\"dvmVerifyUntilFail\""}},
    {"TixEncoder", Factory<TixEncoder>(),
        {"CharsPerLine=76", "EncodeMethod=\"cmBase64\"", "SuppressCrlf=false", "BatchSize=8192", "AllowESC=false",
            "CharSet=\"\"", "ErrorProcessing=\"epStop\""}},
    {"TixMailMessage", Factory<TixMailMessage>(),
        {"Subject=\"\"", "From.Name=\"\"", "From.Email=\"\"", "ToList=[]", "CCList=[]", "BCCList=[]",
            "Priority=\"mpNormal\"", "Date=none", "CharSet=\"iso-8859-1\"", "ContentType=\"text/plain\"",
            "ContentSubType=\"\"", "ContentDisposition=\"\"", "MessageFormat=\"mfNone\"", "Encoding=\"cmNone\"",
            "HeaderEncoding=\"cmNone\"", "MimeOLE=\"\"", "Mailer=\"\"", "ReplyTo=\"\"", "References=[]",
            "NewsGroups=[]", "ExtraFields=[]", "ReadReceiptTo=\"\"", "MessageID=\"\"", "InReplyTo=\"\"",
            "ListUnsubscribe=\"\"", "CharsPerLine=76", "AllowESC=false", "UseHeaderEncodingExtensions=false",
            "ErrorProcessing=\"meExtractMaximumData\""},
        "{\n  \"Date\": <Date>\n}"},
};

/// A value of AProperty other than its default, different for every AIndex.
TPropertyValue OtherValue(const TPublishedProperty& AProperty, int64_t AIndex)
{
    const TPropertyValue& base = AProperty.Default.value_or(int64_t{0});
    switch (AProperty.Kind)
    {
    case pkBoolean: return !std::get<bool>(base);
    case pkInteger: return std::get<int64_t>(base) + AIndex + 1;
    case pkEnumeration:
        return (std::get<int64_t>(base) + 1) % static_cast<int64_t>(AProperty.ValueNames.size());
    case pkSet: return std::get<int64_t>(base) ^ 1;
    case pkDateTime: return 46000.25 + static_cast<double>(AIndex);
    case pkStrings: return std::vector<std::string>{"first " + std::to_string(AIndex), "second"};
    default: return "value " + std::to_string(AIndex) + " of " + AProperty.Name;
    }
}

/// The form that sets every property of AObject to its OtherValue; AExpected receives
/// "Name=value" of each.
std::string OtherForm(TPersistent& AObject, int64_t& AIndex, const std::string& APrefix, TLines& AExpected)
{
    std::string form;
    for (const TPublishedProperty& property : AObject.GetPublishedProperties().Properties())
    {
        form += std::string(form.empty() ? "" : ", ") + "\"" + property.Name + "\": ";
        if (property.Kind == pkObject)
            form += OtherForm(property.Object(AObject), AIndex, APrefix + property.Name + ".", AExpected);
        else if (property.Kind == pkCollection)
        {
            const auto collection = property.NewCollection();
            const std::string path = APrefix + property.Name;
            const std::string first = OtherForm(property.AddItem(*collection), AIndex, path + "[0].", AExpected);
            form += "[" + first + ", " + OtherForm(property.AddItem(*collection), AIndex, path + "[1].", AExpected) + "]";
        }
        else
        {
            const std::string text = PropertyValueText(property, OtherValue(property, AIndex++));
            form += text;
            AExpected.push_back(APrefix + property.Name + "=" + text);
        }
    }
    return "{" + form + "}";
}

/// "Name=value" of every property of AObject, nested objects' as "Object.Name" and collection
/// items' as "Name[i].Item": with ADefaults their defaults ("none" without one, "[]" for a
/// collection), else their values as they are now.
TLines ListProperties(TPersistent& AObject, bool ADefaults, const std::string& APrefix = "")
{
    TLines lines;
    for (const TPublishedProperty& property : AObject.GetPublishedProperties().Properties())
        if (property.Kind == pkObject)
            lines = lines + ListProperties(property.Object(AObject), ADefaults, APrefix + property.Name + ".");
        else if (property.Kind == pkCollection && ADefaults)
            lines.push_back(APrefix + property.Name + "=[]");
        else if (property.Kind == pkCollection)
            for (size_t i = 0; TPersistent* item : property.Items(AObject))
                lines = lines + ListProperties(*item, false, APrefix + property.Name + "[" + std::to_string(i++) + "].");
        else if (ADefaults)
            lines.push_back(APrefix + property.Name + "=" +
                (property.Default ? PropertyValueText(property, *property.Default) : "none"));
        else
            lines.push_back(APrefix + property.Name + "=" + PropertyValueText(property, property.Get(AObject)));
    return lines;
}

TEST(PublishedProperties, DefaultsAreTheDocumentedOnesANewComponentStoresNothingElseAndEveryPropertySurvivesAWriteAndARead)
{
    for (const TComponentCase& c : Components)
    {
        const auto first = c.Create();
        EXPECT_EQ(first->GetPublishedProperties().ClassName(), c.Name);
        EXPECT_EQ(ListProperties(*first, true), c.Defaults) << c.Name;
        const std::string fresh = WritePropertyForm(*first);
        EXPECT_EQ(std::regex_replace(fresh, std::regex("\"Date\": [0-9.e+]+"), "\"Date\": <Date>"), c.FreshForm) << c.Name;

        int64_t index = 0;
        TLines expected;
        const std::string form = OtherForm(*first, index, "", expected);
        ReadPropertyForm(*first, form);
        EXPECT_EQ(ListProperties(*first, false), expected) << c.Name;

        const std::string written = WritePropertyForm(*first);
        const auto second = c.Create();
        ReadPropertyForm(*second, written);
        EXPECT_EQ(ListProperties(*second, false), expected) << c.Name << "\n" << written;
        EXPECT_EQ(WritePropertyForm(*second), written) << c.Name;
    }
}

TEST(PublishedProperties, ReadingGivesOnlyTheValuesOfTheFormAndWritingLeavesDefaultsOut)
{
    TixPop3 client;
    ReadPropertyForm(client, R"({"server": "mail.example", "UseTLS": "ctImplicit", "Port": 995,
        "TLSFlags": ["tfUseTLS12", "tfUseTLS13"], "FirewallSettings": {"FirewallType": "ftSocks5", "Port": 1080},
        "Authorization": "token", "TimeOut": 60000})");
    EXPECT_EQ(client.GetServer(), "mail.example");
    EXPECT_EQ(client.GetUseTLS(), ctImplicit);
    EXPECT_EQ(client.GetTLSFlags(), TixTlsFlags{tfUseTLS12} + TixTlsFlags{tfUseTLS13});
    EXPECT_EQ(client.GetFirewallSettings().GetFirewallType(), ftSocks5);
    EXPECT_FALSE(client.GetUseSasl()) << "a token read from a form leaves UseSasl as it was";
    EXPECT_EQ(WritePropertyForm(client), R"({
  "Server": "mail.example",
  "Port": 995,
  "FirewallSettings": {
    "FirewallType": "ftSocks5"
  },
  "UseTLS": "ctImplicit",
  "TLSFlags": [
    "tfUseTLS12",
    "tfUseTLS13"
  ],
  "Authorization": "token"
})");

    // A message stores its address lists as arrays of objects.
    TixMailMessage message;
    message.GetToList().AddAddress("Ann <ann@example.com>");
    message.GetToList().AddAddress("bob@example.com");
    message.SetDate(45000.5);
    EXPECT_EQ(WritePropertyForm(message), R"({
  "ToList": [
    {
      "Name": "Ann",
      "Email": "ann@example.com"
    },
    {
      "Email": "bob@example.com"
    }
  ],
  "Date": 45000.5
})");
}

/// Reading AForm into a new T raises EConvertError beginning with AMessage and sets nothing.
template <typename T>
void ExpectRefused(const char* AForm, const char* AMessage)
{
    T component;
    const std::string before = WritePropertyForm(component);
    try
    {
        ReadPropertyForm(component, AForm);
        ADD_FAILURE() << AForm;
    }
    catch (const EConvertError& E)
    {
        EXPECT_EQ(E.Message().rfind(AMessage, 0), 0u) << E.Message();
    }
    EXPECT_EQ(WritePropertyForm(component), before) << AForm;
}

TEST(PublishedProperties, ABadFormIsRefusedNamingThePropertyAndSetsNothing)
{
    const std::pair<const char*, const char*> pop3Cases[] = {
        {R"({"Server": "x", "Bogus": 1})", "Unknown property TixPop3.Bogus"},
        {R"({"Server": "x", "Port": "110"})",
            "Property TixPop3.Port needs a whole number from -2147483648 to 2147483647, not \"110\""},
        {R"({"Server": "x", "Port": 4294967296})", "Property TixPop3.Port needs a whole number"},
        {R"({"Server": "x", "UseTLS": "ctSometimes"})",
            "Property TixPop3.UseTLS needs one of ctNone, ctAutomatic, ctImplicit, ctExplicit, not \"ctSometimes\""},
        {R"({"Server": "x", "TLSFlags": "tfUseTLS12"})", "Property TixPop3.TLSFlags needs an array of value names"},
        {R"({"Server": "x", "UseSasl": 1})", "Property TixPop3.UseSasl needs true or false, not 1"},
        {R"({"Server": "x", "FirewallSettings": {"Port": true}})", "Property TixPop3.FirewallSettings.Port needs"},
        {R"({"Server": "x", "FirewallSettings": {"Proxy": 1}})", "Unknown property TixPop3.FirewallSettings.Proxy"},
        {R"({"Server": "x", "FirewallSettings": []})", "Property TixPop3.FirewallSettings needs a JSON object"},
        {R"(["Server"])", "Property TixPop3 needs a JSON object, not [\"Server\"]"},
        {R"({"Server": "x", )", "The settings of TixPop3 are not JSON"},
    };
    for (const auto& [form, message] : pop3Cases)
        ExpectRefused<TixPop3>(form, message);
    const std::pair<const char*, const char*> messageCases[] = {
        {R"({"Subject": "x", "ToList": {"Email": "a@b"}})", "Property TixMailMessage.ToList needs an array of objects"},
        {R"({"Subject": "x", "ToList": ["a@b"]})", "Property TixMailMessage.ToList[0] needs a JSON object"},
        {R"({"Subject": "x", "CCList": [{"Email": "a@b"}, {"Mail": "c@d"}]})",
            "Unknown property TixMailMessage.CCList[1].Mail"},
        {R"({"Subject": "x", "BCCList": [{"Email": 1}]})",
            "Property TixMailMessage.BCCList[0].Email needs a text, not 1"},
        {R"({"Subject": "x", "Date": "2024-01-01"})", "Property TixMailMessage.Date needs a number"},
        {R"({"Subject": "x", "ErrorProcessing": "epStop"})",
            "Property TixMailMessage.ErrorProcessing needs one of meExtractMaximumData, meIgnore, meStop"},
    };
    for (const auto& [form, message] : messageCases)
        ExpectRefused<TixMailMessage>(form, message);
    ExpectRefused<TixDkim>(R"({"SignedHeaderFields": ["From", 1]})",
        "Property TixDkim.SignedHeaderFields needs an array of texts");
}

} // namespace
} // namespace ix
