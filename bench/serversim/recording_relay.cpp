#include "recording_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kPollMs = 100;
constexpr char kGarbage[] = "\x16\x03\x01 this is no proxy\r\n\r\n";

int listenOnLoopback(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

int connectToLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct RecordingRelay::Impl {
    int listenFd = -1;
    int port = 0;
    int upstream = 0;
    std::string answer = kGarbage;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::vector<std::thread> pipes;
    mutable std::mutex mutex;
    std::string heard;
    int connections = 0;

    void keep(const char* bytes, size_t n) {
        std::lock_guard lock(mutex);
        heard.append(bytes, n);
    }

    // One client, both ways, until either side closes or the relay stops.
    void carry(int client) {
        if (upstream == 0) {
            char buffer[4096];
            pollfd p{client, POLLIN, 0};
            if (poll(&p, 1, 2000) > 0) {
                ssize_t n = read(client, buffer, sizeof buffer);
                if (n > 0) keep(buffer, static_cast<size_t>(n));
            }
            (void)!write(client, answer.data(), answer.size());
            close(client);
            return;
        }
        int server = connectToLoopback(upstream);
        if (server < 0) {
            close(client);
            return;
        }
        char buffer[16384];
        while (!stopping) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(p, 2, kPollMs) < 0 && errno != EINTR) break;
            bool open = true;
            for (int i = 0; i < 2 && open; ++i) {
                if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                ssize_t n = read(p[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (i == 0) keep(buffer, static_cast<size_t>(n));
                const int to = i == 0 ? server : client;
                for (ssize_t sent = 0; sent < n && open;) {
                    ssize_t w = write(to, buffer + sent, static_cast<size_t>(n - sent));
                    if (w <= 0) open = false;
                    sent += w;
                }
            }
            if (!open) break;
        }
        close(server);
        close(client);
    }

    void acceptLoop() {
        while (!stopping) {
            pollfd p{listenFd, POLLIN, 0};
            if (poll(&p, 1, kPollMs) <= 0) continue;
            int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            {
                std::lock_guard lock(mutex);
                ++connections;
            }
            pipes.emplace_back([this, client] { carry(client); });
        }
    }
};

RecordingRelay::RecordingRelay() : impl_(std::make_unique<Impl>()) {}

RecordingRelay::~RecordingRelay() {
    stop();
}

bool RecordingRelay::start(int upstreamPort, std::string* error, std::string answer) {
    stop();
    impl_ = std::make_unique<Impl>();
    impl_->upstream = upstreamPort;
    if (!answer.empty()) impl_->answer = std::move(answer);
    impl_->listenFd = listenOnLoopback(&impl_->port);
    if (impl_->listenFd < 0) {
        if (error != nullptr) *error = std::string("relay: ") + std::strerror(errno);
        return false;
    }
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
    return true;
}

void RecordingRelay::stop() {
    if (impl_->listenFd < 0) return;
    impl_->stopping = true;
    impl_->acceptor.join();
    for (std::thread& t : impl_->pipes) t.join();
    close(impl_->listenFd);
    impl_->listenFd = -1;
}

int RecordingRelay::port() const {
    return impl_->port;
}

std::string RecordingRelay::heard() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->heard;
}

int RecordingRelay::connections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->connections;
}
