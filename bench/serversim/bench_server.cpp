#include "bench_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "ftp_process.h"
#include "request_answers.h"
#include "request_log.h"

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kScripts[] = {"ktx/updaterComm.php", "ktx/websiteQuery.php"};
constexpr size_t kTricklePiece = 64;
constexpr size_t kEnormousFiller = size_t{300} << 20;
constexpr size_t kFillerPiece = size_t{1} << 20;

// An FTP server that accepts connections and never says a word: its clients wait for the
// greeting until they give up.
class SilentListener {
  public:
    bool start() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return false;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            std::vector<int> held;
            while (!stopping_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0) {
                    int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c >= 0) held.push_back(c);
                }
            }
            for (int c : held) ::close(c);
        });
        return true;
    }
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    ~SilentListener() { stop(); }
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace

struct BenchServer::Impl {
    std::unique_ptr<httplib::Server> http = std::make_unique<httplib::Server>();
    bool tls = false;
    std::atomic<int> postsHeard{0};
    std::thread listener;
    FtpProcess ftp;
    SilentListener silentFtp;
    bool ftpSilent = false;
    RequestLog log;
    std::unique_ptr<RequestAnswers> answers;
    std::mutex mutex;  // guards answers, misbehaviour and keys
    Misbehaviour misbehaviour;
    std::mt19937 keys{std::random_device{}()};
    std::atomic<bool> stopping{false};
    int httpPort = 0;
    std::filesystem::path uploadDir;
    bool ownUploadDir = false;

    bool stalled(const std::string& word) {
        std::lock_guard lock(mutex);
        return misbehaviour.stall || misbehaviour.stalledWords.count(word) != 0;
    }

    // Accepts and goes silent until told otherwise or stopped.
    void waitWhileStalled(const std::string& word = "") {
        while (!stopping && stalled(word)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::string freshKey() {
        std::lock_guard lock(mutex);
        if (!misbehaviour.keyText.empty()) return misbehaviour.keyText;
        return std::to_string(std::uniform_int_distribution<int32_t>(0, INT32_MAX)(keys));
    }

    void handle(const std::string& script, const httplib::Request& request,
                httplib::Response& response) {
        ++postsHeard;
        waitWhileStalled();
        if (stopping) return;
        if (request.body.empty()) {
            response.set_content(freshKey(), "text/html");
            return;
        }
        auto decoded = decodeRequestBody(request.body);
        if (!decoded) {
            response.set_content("|FAILURE|", "text/html");
            return;
        }
        log.write(script, *decoded);
        waitWhileStalled(decoded->word);
        if (stopping) return;
        BenchReply reply;
        int trickleMs = 0;
        bool enormous = false;
        bool closeMidway = false;
        {
            std::lock_guard lock(mutex);
            if (!misbehaviour.emptyAnswers) reply = answers->answer(script, *decoded, misbehaviour);
            trickleMs = misbehaviour.trickleMs;
            if (misbehaviour.errorWords.count(decoded->word) != 0) {
                response.status = 500;
                reply = {"<html><body>Internal Server Error</body></html>"};
            }
            enormous = misbehaviour.enormousWords.count(decoded->word) != 0;
            closeMidway = reply.download && misbehaviour.closeMidDownload;
        }
        if (enormous) {
            auto body = std::make_shared<std::string>(std::move(reply.body));
            response.set_content_provider(
                body->size() + kEnormousFiller, "text/html",
                [this, body](size_t offset, size_t length, httplib::DataSink& sink) {
                    if (stopping) return false;
                    if (offset < body->size()) {
                        sink.write(body->data() + offset, std::min(length, body->size() - offset));
                        return true;
                    }
                    static const std::string filler(kFillerPiece, '7');
                    return sink.write(filler.data(), std::min(length, filler.size()));
                });
            return;
        }
        if (closeMidway) {
            // The length promised is the whole reply's; half of it comes.
            auto body = std::make_shared<std::string>(std::move(reply.body));
            response.set_content_provider(
                body->size(), "text/html",
                [body](size_t offset, size_t length, httplib::DataSink& sink) {
                    const size_t half = body->size() / 2;
                    if (offset >= half) return false;
                    return sink.write(body->data() + offset, std::min(length, half - offset));
                });
            return;
        }
        if (!reply.download || trickleMs <= 0) {
            response.set_content(reply.body, "text/html");
            return;
        }
        auto body = std::make_shared<std::string>(std::move(reply.body));
        response.set_content_provider(
            body->size(), "text/html",
            [this, body, trickleMs](size_t offset, size_t length, httplib::DataSink& sink) {
                if (stopping) return false;
                size_t n = std::min(length, kTricklePiece);
                sink.write(body->data() + offset, n);
                std::this_thread::sleep_for(std::chrono::milliseconds(trickleMs));
                return true;
            });
    }
};

BenchServer::BenchServer() : impl_(std::make_unique<Impl>()) {}

BenchServer::~BenchServer() {
    stop();
}

bool BenchServer::start(const BenchServerOptions& options, std::string* error) {
    stop();
    impl_ = std::make_unique<Impl>();
    Impl& s = *impl_;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        stop();
        return false;
    };
    // A client that hangs up must not take the server down with it.
    signal(SIGPIPE, SIG_IGN);

    ToolRecords records;
    if (!options.toolRecordsPath.empty()) {
        std::string why;
        auto loaded = ToolRecords_load(options.toolRecordsPath, &why);
        if (!loaded) return fail(why);
        records = std::move(*loaded);
    }
    s.uploadDir = options.uploadDir;
    if (s.uploadDir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "zarvik-ftp-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) return fail("cannot make an upload folder");
        s.uploadDir = pattern;
        s.ownUploadDir = true;
    }
    if (!s.log.open(options.logPath)) return fail("cannot write " + options.logPath.string());
    s.answers =
        std::make_unique<RequestAnswers>(std::move(records), options.catalogueDir, s.uploadDir);
    s.misbehaviour = options.misbehaviour;

    if (options.ftp && options.misbehaviour.ftpStall) {
        if (!s.silentFtp.start()) return fail("cannot listen for FTP");
        s.ftpSilent = true;
    } else if (options.ftp) {
        FtpProcess::Settings ftp;
        ftp.root = s.uploadDir;
        ftp.user = options.ftpUser;
        ftp.password = options.ftpPassword;
        ftp.port = options.ftpPort;
        ftp.tlsCertificate = options.tlsCertificate;
        ftp.tlsKey = options.tlsKey;
        std::string why;
        if (!s.ftp.start(ftp, &why)) return fail(why);
    }

    if (!options.tlsCertificate.empty()) {
        auto secure = std::make_unique<httplib::SSLServer>(options.tlsCertificate.c_str(),
                                                           options.tlsKey.c_str());
        if (!secure->is_valid()) return fail("cannot use " + options.tlsCertificate.string());
        if (options.outdatedTls) {
            // Security level 0: OpenSSL 3 refuses TLS 1.1 at any other.
            SSL_CTX* context = secure->ssl_context();
            SSL_CTX_set_security_level(context, 0);
            SSL_CTX_set_min_proto_version(context, TLS1_1_VERSION);
            SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
        }
        s.http = std::move(secure);
        s.tls = true;
    }

    for (const char* script : kScripts) {
        std::string name = script;
        s.http->Post("/" + name, [&s, name](const httplib::Request& req, httplib::Response& res) {
            s.handle(name, req, res);
        });
    }
    s.http->set_keep_alive_timeout(1);
    s.httpPort = options.httpPort == 0
                     ? s.http->bind_to_any_port(kLoopback)
                     : (s.http->bind_to_port(kLoopback, options.httpPort) ? options.httpPort : -1);
    if (s.httpPort <= 0) return fail("cannot listen on " + std::string(kLoopback));
    s.listener = std::thread([&s] { s.http->listen_after_bind(); });
    // A stop before the accept loop runs would be missed and leave it running for ever.
    for (int i = 0; i < 1000 && !s.http->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!s.http->is_running()) return fail("the HTTP server did not start");
    return true;
}

void BenchServer::stop() {
    if (impl_ == nullptr) return;
    Impl& s = *impl_;
    s.stopping = true;
    if (s.listener.joinable()) {
        s.http->stop();
        s.listener.join();
    }
    s.ftp.stop();
    s.silentFtp.stop();
    if (s.ownUploadDir) {
        std::error_code ec;
        std::filesystem::remove_all(s.uploadDir, ec);
        s.ownUploadDir = false;
    }
}

int BenchServer::httpPort() const {
    return impl_->httpPort;
}
int BenchServer::ftpPort() const {
    return impl_->ftpSilent ? impl_->silentFtp.port() : impl_->ftp.port();
}

std::string BenchServer::host() const {
    return std::string(kLoopback) + ":" + std::to_string(httpPort()) + "/";
}

std::string BenchServer::uploadHost() const {
    return std::string(kLoopback) + ":" + std::to_string(ftpPort()) + "/";
}

std::filesystem::path BenchServer::uploadDir() const {
    return impl_->uploadDir;
}

bool BenchServer::tls() const {
    return impl_->tls;
}

int BenchServer::postsHeard() const {
    return impl_->postsHeard;
}

std::vector<std::string> BenchServer::ftpCommandsHeard() const {
    return impl_->ftp.commandsHeard();
}

void BenchServer::setMisbehaviour(const Misbehaviour& misbehaviour) {
    std::lock_guard lock(impl_->mutex);
    impl_->misbehaviour = misbehaviour;
}
