#pragma once
// The transport: a two-way byte stream to the server with blocking reads of an exact byte
// count, a receive time-out and an orderly close. TCRVio holds the read-ahead buffer and the
// read and write algorithms shared by every transport; subclasses supply single receives
// and sends.

#include "CancelSignal.h"
#include "MySqlErrors.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calvoro::protocol {

// A failure of the operating system's socket interface; FErrorCode is a client error
// number (2003, 2005, 2006) or, for a failing setsockopt, the errno value.
class SocketException : public EProtocolError {
public:
    SocketException(int errorCode, const std::string& message)
        : EProtocolError(message), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

class TCRVio {
public:
    static constexpr size_t ReadAheadSize = 16384;
    // Reads with fewer bytes outstanding than this are served from one read-ahead receive.
    static constexpr size_t SmallReadLimit = 2048;

    virtual ~TCRVio() = default;

    virtual int GetTimeout() = 0;
    virtual void SetTimeout(int seconds) = 0;
    // Base: resets and allocates the read-ahead buffer; every transport calls it first.
    virtual void Connect();
    // Never raises; may be called on a closed transport.
    virtual void Close() = 0;
    // One receive / send: bytes moved, 0 on error or end of stream (FLastError tells which).
    virtual size_t ReadNoWait(uint8_t* buffer, size_t offset, size_t count) = 0;
    virtual size_t WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) = 0;
    // Delivers count bytes unless a receive returns 0; the result is then smaller.
    virtual size_t Read(uint8_t* buffer, size_t offset, size_t count);
    // Writes count bytes; gives up after the third send that accepts nothing.
    virtual size_t Write(const uint8_t* buffer, size_t offset, size_t count);
    // Whether data can be read within seconds (negative: no limit).
    virtual bool WaitForData(int seconds);

    // The bounds of a connect and its login, set by the session before Connect and lifted
    // after the login: until EndLogin every wait for the socket (connect, receive, send, the
    // TLS handshake) ends at the deadline (none: no limit) and at once when the cancel signal
    // is raised. Afterwards receives are bounded by the receive time-out alone.
    void SetCancelSignal(std::shared_ptr<TCancelSignal> signal) { FCancel = std::move(signal); }
    void BeginLogin(std::optional<std::chrono::steady_clock::time_point> deadline) {
        FLogin = true;
        FDeadline = deadline;
        FInterruption = 0;
    }
    void EndLogin() { FLogin = false; }
    // Why a wait of the login ended early: ETIMEDOUT (the deadline passed), ECANCELED (the
    // cancel signal); 0 when none did.
    int Interruption() const { return FInterruption; }

    const std::string& LastError() const { return FLastError; }
    // Why the last Connect failed in the system's words, "errno: description" (for example
    // "111: Connection refused"); empty when the system gave no reason.
    const std::string& SystemError() const { return FSystemError; }

    // The bytes received ahead and not yet handed out, for a reader that takes a whole
    // packet from them at once instead of reading it piece by piece.
    size_t Buffered() const { return FBufferLen - FBufferPos; }
    const uint8_t* BufferedData() const { return FBuffer.data() + FBufferPos; }
    // Hands out count of the buffered bytes (at most Buffered()) without copying them.
    void Consume(size_t count) {
        FBufferPos += count;
        if (FBufferPos == FBufferLen) FBufferPos = FBufferLen = 0;
    }

protected:
    std::string FLastError;
    std::string FSystemError;
    std::vector<uint8_t> FBuffer;  // read-ahead
    size_t FBufferLen = 0;         // valid bytes in FBuffer
    size_t FBufferPos = 0;         // bytes of those already handed out
    // Pause after a receive that returned nothing, or between failed sends.
    std::chrono::milliseconds FRetryPause{10};
    std::shared_ptr<TCancelSignal> FCancel;
    bool FLogin = false;
    std::optional<std::chrono::steady_clock::time_point> FDeadline;
    int FInterruption = 0;

private:
    size_t HandOutBuffered(uint8_t* buffer, size_t offset, size_t count);
};

}  // namespace calvoro::protocol
