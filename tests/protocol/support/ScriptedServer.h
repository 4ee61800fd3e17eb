#pragma once
// A scripted server on loopback for what a real MariaDB cannot be made to send: it accepts
// one connection and runs a script (a function) that sends and reads packets. Every wait is
// bounded, so a client that misbehaves fails the test instead of hanging it.

#include "Packets.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

struct ssl_ctx_st;
struct ssl_st;

namespace calvoro::test {

class TScriptedPeer {
public:
    explicit TScriptedPeer(int fd) : FFd(fd) {}
    ~TScriptedPeer();
    TScriptedPeer(const TScriptedPeer&) = delete;
    TScriptedPeer& operator=(const TScriptedPeer&) = delete;
    // The server side of a TLS handshake with this certificate and key (PEM files); from then
    // on packets travel encrypted. Raises std::runtime_error when the handshake fails (the
    // client refused the certificate).
    void StartTls(const std::string& certFile, const std::string& keyFile);
    void Send(const Bytes& bytes) { Send(bytes.data(), bytes.size()); }
    void Send(const uint8_t* bytes, size_t size);
    void SendPacket(uint8_t seq, const Bytes& payload) { Send(Frame(seq, payload)); }
    // The next plain packet from the client; raises std::runtime_error on end of stream or
    // after the read time-out.
    Bytes ReadPacket(uint8_t* seq = nullptr);
    // The contents of the client's next compressed packet (the plain packets it carries),
    // inflated when it is compressed; its sequence number in LastSeq.
    Bytes ReadCompressedPacket();
    // Sends a packet with the sequence number that follows the client's last packet.
    void Reply(const Bytes& payload) { SendPacket(uint8_t(LastSeq + 1), payload); }
    uint8_t LastSeq = 0;  // of the last packet read
    // Waits until the client closes the connection; false on time-out.
    bool WaitForClose(std::chrono::milliseconds limit);
    std::chrono::milliseconds ReadTimeout{5000};

private:
    Bytes ReadExact(size_t count);
    bool WaitReadable(int milliseconds);
    int FFd;
    ssl_ctx_st* FContext = nullptr;
    ssl_st* FSsl = nullptr;
};

class TScriptedServer {
public:
    using Script = std::function<void(TScriptedPeer&)>;
    // Listens on 127.0.0.1 (a free port) and runs script for the first connection.
    explicit TScriptedServer(Script script);
    // Listens on a Unix socket at path instead (the file is removed at the end).
    TScriptedServer(Script script, const std::string& unixSocketPath);
    ~TScriptedServer();
    int Port() const { return FPort; }
    // Waits for the script to end; returns what went wrong in it (empty: ran through).
    std::string Join();

private:
    void Serve(Script script);
    int FListen = -1;
    int FPort = 0;
    std::string FUnixPath;
    std::string FFailure;
    std::thread FThread;
};

}  // namespace calvoro::test
