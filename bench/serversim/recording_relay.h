// A TCP relay on loopback that keeps every byte its clients send: put in front of a real
// proxy, it shows a test what crossed to the proxy, so that "the account never went in
// clear" is a fact read off the wire rather than a belief. Without an upstream it forwards
// nothing and answers every connection's first bytes with its own: by default bytes no proxy
// sends, or what a plain web server says to a TLS greeting.
#pragma once

#include <memory>
#include <string>

class RecordingRelay {
  public:
    RecordingRelay();
    ~RecordingRelay();
    RecordingRelay(const RecordingRelay&) = delete;
    RecordingRelay& operator=(const RecordingRelay&) = delete;

    // Forwards each connection to 127.0.0.1:`upstreamPort`; with 0, answers `answer`
    // (empty: garbage).
    bool start(int upstreamPort, std::string* error, std::string answer = {});
    void stop();
    int port() const;
    // Everything the clients sent, connection after connection.
    std::string heard() const;
    int connections() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
