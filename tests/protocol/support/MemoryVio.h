#pragma once
// A transport over memory: reads serve canned server bytes (at most MaxChunk per receive),
// writes are collected. For unit tests and the fuzz targets of the protocol layer.
//
// A conversation can come in turns: each of Turns becomes readable once the client has
// written after the one before, so that nothing is read ahead of the request it answers.
// And the transport can fail: every ReadNoWait and WriteNoWait is one I/O step, counted in
// Steps, and from step FailAt on (1-based; 0: never) it fails as Fault says. Once closed,
// it moves no more bytes.

#include "protocol/CRVio.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

namespace calvoro::test {

class TMemoryVio : public protocol::TCRVio {
public:
    enum TFault {
        fkFail,   // this step and every later one fail, as on a connection that was reset
        fkShort,  // this step moves half of its bytes, every later one fails: cut off midway
        fkClose,  // the server closes: reads find the end of the stream, writes still go out
    };

    explicit TMemoryVio(std::vector<uint8_t> input = {}) : Input(std::move(input)) {
        FRetryPause = std::chrono::milliseconds(0);
    }

    std::vector<uint8_t> Input;
    size_t InputPos = 0;
    size_t MaxChunk = std::numeric_limits<size_t>::max();
    std::deque<std::vector<uint8_t>> Turns;
    std::vector<uint8_t> Output;
    std::vector<size_t> ReceiveSizes;  // count asked of each ReadNoWait
    std::vector<size_t> WriteSizes;    // count of each Write
    int Timeout = 0;
    bool Closed = false;
    bool* ClosedFlag = nullptr;      // set by Close too; outlives the transport
    size_t* ReadAtClose = nullptr;  // InputPos, set by Close; outlives the transport
    size_t Steps = 0;
    size_t FailAt = 0;
    TFault Fault = fkFail;

    int GetTimeout() override { return Timeout; }
    void SetTimeout(int seconds) override { Timeout = seconds; }
    void Close() override {
        Closed = true;
        if (ClosedFlag) *ClosedFlag = true;
        if (ReadAtClose) *ReadAtClose = InputPos;
    }
    size_t ReadNoWait(uint8_t* buffer, size_t offset, size_t count) override {
        ReceiveSizes.push_back(count);
        if (Closed) return 0;
        if (FWrote && !Turns.empty()) {
            Feed(Turns.front());
            Turns.pop_front();
            FWrote = false;
        }
        size_t n = std::min({count, Input.size() - InputPos, MaxChunk});
        switch (Step()) {
            case sfNone: break;
            case sfFirst:
                if (Fault == fkShort) {
                    n /= 2;
                    break;
                }
                [[fallthrough]];
            case sfLater:
                if (Fault == fkFail) FLastError = "Connection reset by peer (injected)";
                return 0;
        }
        if (n) std::memcpy(buffer + offset, Input.data() + InputPos, n);
        InputPos += n;
        return n;
    }
    size_t WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) override {
        if (Closed) return 0;
        switch (Step()) {
            case sfNone: break;
            case sfFirst:
                if (Fault == fkShort) count /= 2;
                [[fallthrough]];
            case sfLater:
                if (Fault == fkFail || (Fault == fkShort && Steps > FailAt)) {
                    FLastError = "Broken pipe (injected)";
                    return 0;
                }
        }
        FWrote = true;
        Output.insert(Output.end(), buffer + offset, buffer + offset + count);
        return count;
    }
    size_t Write(const uint8_t* buffer, size_t offset, size_t count) override {
        WriteSizes.push_back(count);
        return TCRVio::Write(buffer, offset, count);
    }
    void Feed(const std::vector<uint8_t>& bytes) { Input.insert(Input.end(), bytes.begin(), bytes.end()); }

private:
    enum TStepFault { sfNone, sfFirst, sfLater };
    TStepFault Step() {
        ++Steps;
        if (FailAt == 0 || Steps < FailAt) return sfNone;
        return Steps == FailAt ? sfFirst : sfLater;
    }
    bool FWrote = false;  // since the last turn was released
};

}  // namespace calvoro::test
