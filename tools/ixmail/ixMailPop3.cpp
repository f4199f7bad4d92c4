// ixmail pop3 list|fetch|delete|capa: a mailbox through TixPop3.
#include "ixMailCommands.h"

#include "core/ixPropertyForm.h"
#include "core/ixStreams.h"
#include "message/ixMailMessage.h"
#include "pop3/ixPop3.h"
#include "tls/ixCertificate.h"
#include "util/ixFileNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace ixmail {

using namespace ix;

namespace {

const char* const Pop3Usage =
    "usage: ixmail pop3 list|fetch|delete|capa --server HOST [options] [MESSAGE...]\n"
    "  --port N               server port (default 110, 995 with --tls implicit)\n"
    "  --user NAME            login name\n"
    "  --password-file FILE   password (or XOAUTH2 token) from the first line of FILE\n"
    "  --password-env VAR     password from the environment variable VAR\n"
    "                         (else asked for on the terminal without echo)\n"
    "  --tls MODE             none, starttls, implicit or auto (default none)\n"
    "  --login METHOD         user, apop, cram-md5, ntlm, xoauth2 or auto (default user)\n"
    "  --insecure             accept a server certificate that fails verification\n"
    "  --socks HOST:PORT      connect through a SOCKS proxy\n"
    "  --socks-version V      4, 4a or 5 (default 5)\n"
    "  --timeout SECONDS      time-out of every wait (default 60)\n"
    "  --profile FILE         start from the settings stored in FILE (also: ixmail --profile\n"
    "                         FILE pop3 ...); the options given override them\n"
    "  --save-profile FILE    store the settings (server, port, TLS, login, SOCKS, time-out;\n"
    "                         never the password) in FILE, readable by its owner only\n"
    "  --json                 list: one JSON array\n"
    "  --out DIR              fetch: where the .eml files go (default .)\n"
    "  --maildir DIR          fetch: deliver into the Maildir DIR instead (LF line ends)\n"
    "  --uid                  fetch, delete: MESSAGE names UIDs instead of numbers\n"
    "fetch and delete take message numbers (or UIDs); fetch without any takes every message.\n";

enum TLogin : uint8_t { lgUser, lgApop, lgCramMd5, lgNtlm, lgXOAuth2, lgAuto };

/// TixPop3 with the login method chosen on the command line, published as LoginMethod.
class TToolPop3 : public TixPop3
{
public:
    TLogin Login = lgUser;

    const TPropertyTable& GetPublishedProperties() const override
    {
        static const TPropertyTable table("TixPop3", &TixPop3::GetPublishedProperties(),
            {Published<&TToolPop3::Login>(
                "LoginMethod", lgUser, {"lgUser", "lgApop", "lgCramMd5", "lgNtlm", "lgXOAuth2", "lgAuto"})});
        return table;
    }

protected:
    void Authenticate() override
    {
        switch (Login)
        {
        case lgApop: LoginApop(); break;
        case lgCramMd5: LoginCramMd5(); break;
        case lgNtlm: LoginNtlm(); break;
        case lgXOAuth2: LoginXOAuth2(); break;
        default: TixPop3::Authenticate(); break;
        }
    }
};

/// Writes AText to AFile, which only its owner may read, and syncs it to disk. With
/// AExclusive, an existing AFile is an error.
void WritePrivateFile(const std::string& AFile, const std::string& AText, bool AExclusive = false)
{
    const int handle = ::open(AFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (AExclusive ? O_EXCL : O_TRUNC), 0600);
    bool written = handle >= 0 && ::fchmod(handle, 0600) == 0;
    for (size_t done = 0; written && done < AText.size();)
    {
        const ssize_t count = ::write(handle, AText.data() + done, AText.size() - done);
        written = count > 0;
        done += written ? static_cast<size_t>(count) : 0;
    }
    written = written && ::fsync(handle) == 0;
    if (handle >= 0 && ::close(handle) != 0)
        written = false;
    if (!written)
        throw Exception("Cannot write " + AFile);
}

/// A Maildir folder (tmp, new, cur) that takes new messages.
class TMaildir
{
public:
    explicit TMaildir(const std::filesystem::path& AFolder) : FFolder(AFolder)
    {
        for (const char* sub : {"tmp", "new", "cur"})
            std::filesystem::create_directories(FFolder / sub);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        for (const char c : std::string(host))
            FHost += c == '/' ? "\\057" : c == ':' ? "\\072" : std::string(1, c);
    }

    /// Writes AText under a unique name into tmp, syncs it, and moves it into new.
    void Deliver(const std::string& AText)
    {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const std::string name = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count()) + ".M" +
            std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 1000000) + "P" +
            std::to_string(::getpid()) + "Q" + std::to_string(++FCount) + "." + FHost;
        const std::filesystem::path temporary = FFolder / "tmp" / name;
        WritePrivateFile(temporary, AText, true);
        std::filesystem::rename(temporary, FFolder / "new" / name);
    }

private:
    std::filesystem::path FFolder;
    std::string FHost;
    int FCount = 0;
};

/// A line typed on the terminal without echo.
std::string PromptPassword()
{
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr)
        throw TUsageError("no password: give --password-file or --password-env");
    std::fputs("Password: ", tty);
    std::fflush(tty);
    termios saved{};
    const bool terminal = ::tcgetattr(::fileno(tty), &saved) == 0;
    if (terminal)
    {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(::fileno(tty), TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c = std::fgetc(tty); c != EOF && c != '\n'; c = std::fgetc(tty))
        line += static_cast<char>(c);
    if (terminal)
        ::tcsetattr(::fileno(tty), TCSAFLUSH, &saved);
    std::fputs("\n", tty);
    std::fclose(tty);
    return line;
}

std::string ReadPassword(const TArgs& AArgs, TLogin ALogin)
{
    if (AArgs.Has("password-file"))
    {
        std::ifstream file(AArgs.Value("password-file"));
        if (!file)
            throw TUsageError("cannot read the password file " + AArgs.Value("password-file"));
        std::string line;
        std::getline(file, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    if (AArgs.Has("password-env"))
    {
        const char* value = std::getenv(AArgs.Value("password-env").c_str());
        if (value == nullptr)
            throw TUsageError("the variable " + AArgs.Value("password-env") + " is not set");
        return value;
    }
    if (ALogin == lgNtlm && !AArgs.Has("user"))
        return {}; // the logged-on user's own credentials
    return PromptPassword();
}

void ConfigureSocks(TixPop3& AClient, const TArgs& AArgs)
{
    if (!AArgs.Has("socks"))
        return;
    const std::string proxy = AArgs.Value("socks");
    const size_t colon = proxy.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw TUsageError("option --socks takes HOST:PORT");
    TixFirewallSettings& settings = AClient.GetFirewallSettings();
    settings.SetServer(proxy.substr(0, colon));
    settings.SetPort(std::atoi(proxy.c_str() + colon + 1));
    const TixFirewallType types[] = {ftSocks4, ftSocks4a, ftSocks5};
    settings.SetFirewallType(types[Choice("option --socks-version", AArgs.Value("socks-version", "5"), {"4", "4a", "5"})]);
}

/// The session the options describe, open.
class TSession
{
public:
    explicit TSession(const TArgs& AArgs)
    {
        if (AArgs.Has("profile"))
            ReadPropertyForm(FClient, ReadWholeFile(AArgs.Value("profile"), "file"));
        if (AArgs.Has("tls"))
        {
            const TixClientTlsMode modes[] = {ctNone, ctExplicit, ctImplicit, ctAutomatic};
            FClient.SetUseTLS(modes[Choice("option --tls", AArgs.Value("tls"), {"none", "starttls", "implicit", "auto"})]);
        }
        if (AArgs.Has("login"))
        {
            FClient.Login = static_cast<TLogin>(Choice("option --login", AArgs.Value("login"),
                {"user", "apop", "cram-md5", "ntlm", "xoauth2", "auto"}));
            FClient.SetUseSasl(FClient.Login != lgUser);
        }
        if (AArgs.Has("server") || FClient.GetServer().empty())
            FClient.SetServer(AArgs.Required("server"));
        if (AArgs.Has("port"))
            FClient.SetPort(AArgs.Number("port", 0, 1, 65535));
        else if (FClient.GetUseTLS() == ctImplicit && FClient.GetPort() == TixPop3::DefaultPort)
            FClient.SetPort(995);
        if (AArgs.Has("timeout"))
            FClient.SetTimeOut(AArgs.Number("timeout", 0, 1, 86400) * 1000);
        if (AArgs.Has("user"))
            FClient.SetUserName(AArgs.Value("user"));
        ConfigureSocks(FClient, AArgs);
        if (AArgs.Has("save-profile"))
            WritePrivateFile(AArgs.Value("save-profile"), WritePropertyForm(FClient) + "\n");
        if (FClient.GetPassword().empty() && FClient.GetAuthorization().empty())
        {
            const std::string password = ReadPassword(AArgs, FClient.Login);
            if (FClient.Login == lgXOAuth2)
                FClient.SetAuthorization(password);
            else
                FClient.SetPassword(password);
        }
        const bool insecure = AArgs.Has("insecure");
        FClient.OnVerifyServer = [this, insecure](TObject*, TixCertificate* ACertificate, const std::string&,
                                     int32_t, bool& AVerified) {
            if (insecure)
                AVerified = true;
            else if (ACertificate != nullptr)
                FRefused = "certificate subject \"" + ACertificate->GetIssuedTo() + "\", issuer \"" +
                    ACertificate->GetIssuedBy() + "\"";
        };
        try
        {
            FClient.Open();
        }
        catch (EixCodedError& E)
        {
            if (!FRefused.empty())
                E.SetMessage(E.Message() + "; " + FRefused);
            throw;
        }
    }

    TToolPop3& Client() noexcept { return FClient; }

private:
    std::string FRefused;
    TToolPop3 FClient;
};

std::string JsonString(const std::string& AText)
{
    return Quoted(AText, [](unsigned char AByte) { return AByte >= 0x20; }, "\\u%04x");
}

/// The value of header field AName in AHeader (folded lines joined), empty when absent.
std::string FieldValue(const std::vector<std::string>& AHeader, std::string_view AName)
{
    for (size_t i = 0; i < AHeader.size(); ++i)
    {
        const std::string& line = AHeader[i];
        if (line.size() <= AName.size() || line[AName.size()] != ':' || !SameText(line.substr(0, AName.size()), AName))
            continue;
        std::string value = Trim(line.substr(AName.size() + 1));
        for (size_t j = i + 1; j < AHeader.size() && !AHeader[j].empty() && (AHeader[j][0] == ' ' || AHeader[j][0] == '\t'); ++j)
            value += " " + Trim(AHeader[j]);
        return value;
    }
    return {};
}

int List(TSession& ASession, bool AJson)
{
    const std::vector<TixPop3ListItem> items = ASession.Client().ListMailBox();
    TixMailMessage message;
    std::cout << (AJson ? "[" : "");
    for (size_t i = 0; i < items.size(); ++i)
    {
        const TixPop3ListItem& item = items[i];
        TStringList header;
        for (const std::string& line : item.Header)
            header.Add(line);
        message.LoadHeader(header);
        const std::string date = FieldValue(item.Header, "Date");
        const std::string from = message.GetFrom().GetFullAddress();
        if (AJson)
            std::cout << (i ? ",\n " : "") << "{\"number\":" << item.Number << ",\"size\":" << item.Size
                      << ",\"uid\":" << JsonString(item.Uid) << ",\"date\":" << JsonString(date)
                      << ",\"from\":" << JsonString(from) << ",\"subject\":" << JsonString(message.GetSubject())
                      << (item.HeaderRead ? "" : ",\"error\":" + JsonString(item.HeaderError)) << "}";
        else
            std::cout << item.Number << '\t' << item.Size << '\t' << item.Uid << '\t' << date << '\t' << from
                      << '\t' << (item.HeaderRead ? message.GetSubject() : item.HeaderError) << '\n';
    }
    std::cout << (AJson ? "]\n" : "");
    return 0;
}

/// The message numbers that AArgs names (numbers, or UIDs with --uid); every message when
/// none is named and AAllByDefault.
std::vector<int32_t> Selected(TSession& ASession, const TArgs& AArgs, bool AAllByDefault)
{
    const std::vector<std::string> names(AArgs.Positional().begin() + 1, AArgs.Positional().end());
    if (names.empty() && !AAllByDefault)
        throw TUsageError("name the messages");
    if (names.empty() || AArgs.Has("uid"))
    {
        std::vector<int32_t> numbers;
        const std::vector<TixPop3ListItem> items = ASession.Client().ListMailBox(false);
        for (const std::string& name : names)
        {
            const auto at = std::find_if(items.begin(), items.end(), [&](const auto& AItem) { return AItem.Uid == name; });
            if (at == items.end())
                throw EixTcpClientError("No message with the UID " + name, 0);
            numbers.push_back(at->Number);
        }
        if (names.empty())
            for (const TixPop3ListItem& item : items)
                numbers.push_back(item.Number);
        return numbers;
    }
    std::vector<int32_t> numbers;
    for (const std::string& name : names)
    {
        const int32_t number = StrToIntDef(name, 0);
        if (number <= 0)
            throw TUsageError("not a message number: " + name);
        numbers.push_back(number);
    }
    return numbers;
}

int Fetch(TSession& ASession, const TArgs& AArgs)
{
    const std::filesystem::path folder = AArgs.Value("out", ".");
    std::unique_ptr<TMaildir> maildir;
    if (AArgs.Has("maildir"))
        maildir = std::make_unique<TMaildir>(AArgs.Value("maildir"));
    else
        std::filesystem::create_directories(folder);
    const std::vector<int32_t> numbers = Selected(ASession, AArgs, true);
    const bool bar = ::isatty(STDERR_FILENO) != 0;
    TixPop3& client = ASession.Client();
    for (size_t i = 0; i < numbers.size(); ++i)
    {
        if (bar)
            client.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) {
                const int64_t width = 30;
                const int64_t filled = ATotal > 0 ? std::min(width, ADone * width / ATotal) : 0;
                std::cerr << "\r" << (i + 1) << "/" << numbers.size() << " [" << std::string(filled, '#')
                          << std::string(width - filled, ' ') << "] " << ADone << "/" << ATotal << std::flush;
            };
        client.Retrieve(numbers[i], nullptr);
        if (maildir)
        {
            // Maildir messages end their lines with LF alone.
            std::string text;
            for (int32_t line = 0; line < client.GetResponse().Count(); ++line)
                text += client.GetResponse()[line] + "\n";
            maildir->Deliver(text);
            continue;
        }
        const std::filesystem::path path = folder / (std::to_string(numbers[i]) + ".eml");
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << client.GetResponse().GetText();
        if (!file.flush())
            throw EixCodedError("Cannot write " + path.string(), 0);
    }
    if (bar && !numbers.empty())
        std::cerr << "\n";
    return 0;
}

int Delete(TSession& ASession, const TArgs& AArgs)
{
    for (const int32_t number : Selected(ASession, AArgs, false))
        ASession.Client().Delete(number);
    ASession.Client().Close(); // QUIT: the deletions take effect
    return 0;
}

int Capa(TSession& ASession)
{
    TStringList lines;
    if (!ASession.Client().GetCapabilities(lines))
        throw EixTcpClientError(Trim(ASession.Client().GetResponse().GetText()), ASession.Client().GetLastResponseCode());
    std::cout << lines.GetText();
    return 0;
}

} // namespace

int Pop3Command(const std::vector<std::string>& AArgs)
{
    const TArgs args(AArgs, {"help", "insecure", "json", "uid"},
        {"server", "port", "user", "password-file", "password-env", "tls", "login", "socks", "socks-version",
            "timeout", "out", "maildir", "profile", "save-profile"});
    if (args.Has("help"))
    {
        std::cout << Pop3Usage;
        return 0;
    }
    if (args.Positional().empty())
        throw TUsageError("pop3 needs list, fetch, delete or capa (ixmail pop3 --help)");
    const size_t action = Choice("pop3", args.Positional()[0], {"list", "fetch", "delete", "capa"});
    TSession session(args);
    switch (action)
    {
    case 0: return List(session, args.Has("json"));
    case 1: return Fetch(session, args);
    case 2: return Delete(session, args);
    default: return Capa(session);
    }
}

} // namespace ixmail
