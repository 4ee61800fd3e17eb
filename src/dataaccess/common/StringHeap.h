#pragma once
// A private heap for short variable-length values of the record store (out-of-line strings
// and byte values). Buffers up to 2000 bytes are cut from 16 KiB blocks and recycled through
// 250 free lists, one per 8-byte size class; larger ones come from general memory. Every
// buffer carries a reference mark, so that records share a value instead of copying it.
//
// A buffer is preceded by its header:
//   size  [4]  the requested size rounded up to a multiple of 8 (a block's last buffer may be
//              given the block's few remaining bytes as well)
//   mark  [2]  101 for one reference, one more per further reference; 100 when free
// Buffers have no alignment: read and write their contents with memcpy.

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace calvoro::dac {

class TStringHeap {
public:
    static constexpr int BlockSize = 16384;
    static constexpr int SmallSizeLimit = 2000;  // larger buffers come from general memory
    static constexpr int SizeClassCount = SmallSizeLimit / 8;
    static constexpr uint16_t MarkFree = 100;
    static constexpr uint16_t MarkUsed = 101;

    TStringHeap();
    ~TStringHeap();
    TStringHeap(const TStringHeap&) = delete;
    TStringHeap& operator=(const TStringHeap&) = delete;

    // A buffer of at least size bytes with one reference; nil for size <= 0.
    uint8_t* NewBuf(int64_t size);
    // One more reference; a buffer that is not in use is an internal error.
    void AddRef(const uint8_t* buf);
    // One reference less; the last one returns the buffer to its free list (or to general
    // memory). Nil is ignored; a buffer that is not in use is an internal error.
    void DisposeBuf(uint8_t* buf);
    // Frees every block and large buffer at once; buffers handed out before become invalid.
    void Clear();

    // A NUL-terminated copy of len bytes (trailing blanks cut when trim is set).
    uint8_t* AllocStr(const char* str, int64_t len, bool trim = false);

    // Whether nothing is allocated, and whether buffers of general memory exist (those must be
    // released one by one before the heap is cleared).
    bool Empty() const { return FEmpty; }
    bool SysGetMem() const { return FSysGetMem; }
    // The rounded size recorded in a buffer's header, and its mark.
    static uint32_t BufSize(const uint8_t* buf);
    static uint16_t RefMark(const uint8_t* buf);

    // Guards NewBuf, AddRef, DisposeBuf and Clear with a mutex (off by default).
    void SetThreadSafety(bool value) { FThreadSafety = value; }
    bool ThreadSafety() const { return FThreadSafety; }

    // Bytes held by blocks and large buffers (for tests and memory figures).
    size_t AllocatedBytes() const { return FAllocated; }

    struct LargeBuf;

private:
    uint8_t* NewBufLocked(int64_t size);
    void DisposeLocked(uint8_t* buf);
    void StartBlock();
    void PushFree(uint8_t* buf, uint32_t size);

    // FSmallTab[k - 1]: free buffers of size class k (8 × k bytes), linked through their
    // first bytes.
    uint8_t* FSmallTab[SizeClassCount] = {};
    int FFree = 0;              // bytes left in the current block
    uint8_t* FRoot = nullptr;   // the current block; blocks are chained through their first bytes
    LargeBuf* FLarge = nullptr; // buffers of general memory, doubly linked
    bool FEmpty = true;
    bool FSysGetMem = false;
    bool FThreadSafety = false;
    std::mutex FThreadSafetyCS;
    size_t FAllocated = 0;
};

}  // namespace calvoro::dac
