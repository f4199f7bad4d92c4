// Downloading over TLS 1.3 (AES-128-GCM) on loopback: through TixTcpClientTls's ReadData beside a
// bare OpenSSL SSL_read loop, against the same in-process OpenSSL server, in the same run. The
// receiving thread's CPU time per MB is printed beside the rate; each figure is the median of
// several runs, and the last column is the client's rate as a share of the bare loop's.
//
// Usage: tls_bench [megabytes per run, default 200] [runs, default 5] [receivers...]
// Receivers are "bare" and client batch sizes (default: bare 8192 65536); naming one alone
// helps a profiler see that receiver only.

#include "bench_util.h"
#include "platform/ixOsSockets.h"
#include "tls/ixTcpClientTls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ix;

namespace {

using namespace ix::bench;

/// A self-signed server certificate and key for the in-process server.
struct TServerIdentity
{
    EVP_PKEY* Key = EVP_EC_gen("P-256");
    X509* Cert = X509_new();

    TServerIdentity()
    {
        if (Key == nullptr || Cert == nullptr)
            Fail("cannot make a key");
        ASN1_INTEGER_set(X509_get_serialNumber(Cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(Cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(Cert), 86400);
        X509_set_pubkey(Cert, Key);
        X509_NAME* name = X509_get_subject_name(Cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
            reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(Cert, name);
        if (X509_sign(Cert, Key, EVP_sha256()) == 0)
            Fail("cannot sign the certificate");
    }
    ~TServerIdentity()
    {
        X509_free(Cert);
        EVP_PKEY_free(Key);
    }
};

/// One TLS 1.3 endpoint over memory buffers whose records travel through a platform socket.
class TSslPipe
{
public:
    TSslPipe(SSL_CTX* AContext, os::SOCKET ASocket, bool AServer)
        : FSsl(SSL_new(AContext)), FSocket(ASocket)
    {
        FIn = BIO_new(BIO_s_mem());
        FOut = BIO_new(BIO_s_mem());
        SSL_set_bio(FSsl, FIn, FOut);
        if (AServer)
            SSL_set_accept_state(FSsl);
        else
            SSL_set_connect_state(FSsl);
    }
    ~TSslPipe()
    {
        SSL_free(FSsl);
        (void)os::shutdown(FSocket, os::SD_BOTH);
        (void)os::closesocket(FSocket);
    }

    /// Sends what OpenSSL wrote; false when the peer is gone.
    bool Flush()
    {
        char buffer[16384 + 512];
        for (int count; (count = BIO_read(FOut, buffer, sizeof buffer)) > 0;)
            for (int sent = 0; sent < count;)
            {
                const int result = os::send(FSocket, buffer + sent, count - sent, 0);
                if (result <= 0)
                    return false;
                sent += result;
            }
        return true;
    }

    /// Receives once into OpenSSL; false when the peer has closed.
    bool Receive()
    {
        const int count = os::recv(FSocket, FBuffer.data(), static_cast<int>(FBuffer.size()), 0);
        if (count <= 0)
            return false;
        BIO_write(FIn, FBuffer.data(), count);
        return true;
    }

    void Handshake()
    {
        while (SSL_do_handshake(FSsl) != 1)
            if (SSL_get_error(FSsl, 0) != SSL_ERROR_WANT_READ || !Flush() || !Receive())
                Fail("handshake failed");
        Flush();
    }

    SSL* Ssl() const noexcept { return FSsl; }

private:
    SSL* FSsl;
    BIO* FIn;
    BIO* FOut;
    os::SOCKET FSocket;
    std::vector<char> FBuffer = std::vector<char>(256 * 1024);
};

/// The server: one connection per run, ABytes of application data, then the close notification.
class TServer
{
public:
    TServer() : FContext(SSL_CTX_new(TLS_server_method()))
    {
        SSL_CTX_set_min_proto_version(FContext, TLS1_3_VERSION);
        SSL_CTX_set_ciphersuites(FContext, "TLS_AES_128_GCM_SHA256");
        if (SSL_CTX_use_certificate(FContext, FIdentity.Cert) != 1
            || SSL_CTX_use_PrivateKey(FContext, FIdentity.Key) != 1)
            Fail("server certificate");
    }
    ~TServer() { SSL_CTX_free(FContext); }

    uint16_t Port() const noexcept { return FListener.Port(); }

    /// Serves the next connection on a thread.
    std::thread Serve(int64_t ABytes)
    {
        return std::thread([this, ABytes] {
            TSslPipe pipe(FContext, FListener.Accept(), true);
            pipe.Handshake();
            const std::vector<char> block(16384, 'x');
            for (int64_t left = ABytes; left > 0;)
            {
                const int size = static_cast<int>(std::min<int64_t>(left, 16384));
                if (SSL_write(pipe.Ssl(), block.data(), size) != size || !pipe.Flush())
                    return;
                left -= size;
            }
            SSL_shutdown(pipe.Ssl());
            pipe.Flush();
        });
    }

private:
    TServerIdentity FIdentity;
    SSL_CTX* FContext;
    TListener FListener{4};
};

TSample BareOpenSsl(TServer& AServer, int64_t ABytes)
{
    std::thread server = AServer.Serve(ABytes);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    const os::SOCKET socket = Connect(AServer.Port());
    TSample sample;
    {
        TSslPipe pipe(context, socket, false);
        pipe.Handshake();
        sample = Timed(ABytes, [&] {
            std::vector<char> plain(16384);
            int64_t total = 0;
            for (;;)
            {
                size_t count = 0;
                while (SSL_read_ex(pipe.Ssl(), plain.data(), plain.size(), &count) == 1)
                    total += static_cast<int64_t>(count);
                if (SSL_get_error(pipe.Ssl(), 0) != SSL_ERROR_WANT_READ || !pipe.Receive())
                    return total;
            }
        });
    }
    server.join();
    SSL_CTX_free(context);
    return sample;
}

TSample ThroughClient(TServer& AServer, int64_t ABytes, int32_t ABatchSize)
{
    std::thread server = AServer.Serve(ABytes);
    TixTcpClientTls client;
    client.SetServer("127.0.0.1");
    client.SetPort(AServer.Port());
    client.SetUseTLS(ctImplicit);
    client.SetBatchSize(ABatchSize);
    client.SetTimeOut(60000);
    client.SetDisableGuiProcessing(true);
    client.OnVerifyServer = [](TObject*, TixCertificate*, const std::string&, int32_t, bool& AVerified) {
        AVerified = true;  // the bench's own self-signed server
    };
    client.Open();
    const TSample sample = Timed(ABytes, [&] {
        TCountingSink sink;
        while (client.IsActive())
            client.GetConnection()->ReadData(&sink);
        return sink.Count();
    });
    client.Close();
    server.join();
    return sample;
}

}  // namespace

int main(int argc, char** argv)
{
    const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (megabytes <= 0 || runs <= 0)
        Fail("usage: tls_bench [megabytes] [runs] [bare|batch size...]");
    std::vector<std::string> receivers(argv + std::min(argc, 3), argv + argc);
    if (receivers.empty())
        receivers = {"bare", "8192", "65536"};
    const int64_t bytes = megabytes * 1000 * 1000;
    StartSockets();
    TServer server;

    std::printf("Downloading %lld MB over TLS 1.3 (AES-128-GCM) on loopback, median of %d runs\n",
        static_cast<long long>(megabytes), runs);
    std::printf("%-28s %10s %12s %10s\n", "receiver", "MB/s", "CPU ms/MB", "of bare");
    double bareRate = 0;
    for (const std::string& receiver : receivers)
    {
        const bool bare = receiver == "bare";
        const int32_t batch = bare ? 0 : std::atoi(receiver.c_str());
        if (!bare && batch <= 0)
            Fail("a receiver is \"bare\" or a batch size");
        const TSample sample = Median(runs, [&] {
            return bare ? BareOpenSsl(server, bytes) : ThroughClient(server, bytes, batch);
        });
        if (bare)
            bareRate = sample.MBps;
        const std::string name = bare ? "bare OpenSSL SSL_read" : "TixTcpClientTls, batch " + receiver;
        std::printf("%-28s %10.1f %12.3f", name.c_str(), sample.MBps, sample.CpuMsPerMB);
        if (bareRate > 0)
            std::printf(" %9.0f%%", 100.0 * sample.MBps / bareRate);
        std::printf("\n");
    }
    os::WSACleanup();
    return 0;
}
