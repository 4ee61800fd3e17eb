#pragma once
// A transport over memory: reads serve canned server bytes (at most MaxChunk per receive),
// writes are collected. For unit tests and the fuzz targets of the protocol layer.

#include "protocol/CRVio.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace calvoro::test {

class TMemoryVio : public protocol::TCRVio {
public:
    explicit TMemoryVio(std::vector<uint8_t> input = {}) : Input(std::move(input)) {
        FRetryPause = std::chrono::milliseconds(0);
    }

    std::vector<uint8_t> Input;
    size_t InputPos = 0;
    size_t MaxChunk = std::numeric_limits<size_t>::max();
    std::vector<uint8_t> Output;
    std::vector<size_t> ReceiveSizes;  // count asked of each ReadNoWait
    std::vector<size_t> WriteSizes;    // count of each Write
    int Timeout = 0;
    bool Closed = false;
    bool* ClosedFlag = nullptr;  // set by Close too; outlives the transport

    int GetTimeout() override { return Timeout; }
    void SetTimeout(int seconds) override { Timeout = seconds; }
    void Close() override {
        Closed = true;
        if (ClosedFlag) *ClosedFlag = true;
    }
    size_t ReadNoWait(uint8_t* buffer, size_t offset, size_t count) override {
        ReceiveSizes.push_back(count);
        const size_t n = std::min({count, Input.size() - InputPos, MaxChunk});
        if (n) std::memcpy(buffer + offset, Input.data() + InputPos, n);
        InputPos += n;
        return n;
    }
    size_t WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) override {
        Output.insert(Output.end(), buffer + offset, buffer + offset + count);
        return count;
    }
    size_t Write(const uint8_t* buffer, size_t offset, size_t count) override {
        WriteSizes.push_back(count);
        return TCRVio::Write(buffer, offset, count);
    }
    void Feed(const std::vector<uint8_t>& bytes) { Input.insert(Input.end(), bytes.begin(), bytes.end()); }
};

}  // namespace calvoro::test
