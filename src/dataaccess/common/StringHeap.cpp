#include "StringHeap.h"

#include "common/Exceptions.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace calvoro::dac {

namespace {

constexpr int HeaderSize = 6;          // size [4], mark [2]
constexpr int LinkSize = sizeof(void*);  // block chain and free-list links
constexpr int MinRest = 14;            // a block's tail shorter than this is not worth a buffer

uint32_t ReadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t ReadU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
void WriteU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void WriteU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
uint8_t* ReadPtr(const uint8_t* p) {
    uint8_t* v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void WritePtr(uint8_t* p, uint8_t* v) { std::memcpy(p, &v, sizeof v); }

// The header of a buffer (data - 6): size at [0], mark at [4].
uint8_t* Header(const uint8_t* buf) { return const_cast<uint8_t*>(buf) - HeaderSize; }

}  // namespace

// A buffer of general memory: links to its neighbours, then the ordinary header.
struct TStringHeap::LargeBuf {
    LargeBuf* Prev;
    LargeBuf* Next;
    uint8_t Header[8];  // size [4], mark [2], 2 bytes so that the data follows at once
};
static_assert(offsetof(TStringHeap::LargeBuf, Header) + 8 == sizeof(TStringHeap::LargeBuf));

TStringHeap::TStringHeap() = default;

TStringHeap::~TStringHeap() { Clear(); }

uint32_t TStringHeap::BufSize(const uint8_t* buf) { return ReadU32(Header(buf)); }
uint16_t TStringHeap::RefMark(const uint8_t* buf) { return ReadU16(Header(buf) + 4); }

uint8_t* TStringHeap::NewBuf(int64_t size) {
    if (size <= 0) return nullptr;
    if (!FThreadSafety) return NewBufLocked(size);
    std::lock_guard lock(FThreadSafetyCS);
    return NewBufLocked(size);
}

void TStringHeap::StartBlock() {
    auto* block = static_cast<uint8_t*>(std::malloc(BlockSize));
    if (!block) throw std::bad_alloc();
    FAllocated += BlockSize;
    WritePtr(block, FRoot);
    FRoot = block;
    FFree = BlockSize - LinkSize;
}

void TStringHeap::PushFree(uint8_t* buf, uint32_t size) {
    const uint32_t k = size / 8;
    WriteU16(Header(buf) + 4, MarkFree);
    WritePtr(buf, FSmallTab[k - 1]);
    FSmallTab[k - 1] = buf;
}

uint8_t* TStringHeap::NewBufLocked(int64_t size) {
    FEmpty = false;
    const int64_t k = (size + 7) / 8;
    if (k <= SizeClassCount) {
        if (uint8_t* buf = FSmallTab[k - 1]) {
            FSmallTab[k - 1] = ReadPtr(buf);
            if (RefMark(buf) != MarkFree) InternalError("StringHeap", QStringLiteral("NewBuf failed"));
            WriteU16(Header(buf) + 4, MarkUsed);
            return buf;
        }
        const int need = int(k) * 8 + HeaderSize;
        if (FFree < need) {
            // The tail of the block becomes a free buffer of whatever class it can hold.
            if (FRoot && FFree >= HeaderSize + 8) {
                uint8_t* tail = FRoot + BlockSize - FFree + HeaderSize;
                const uint32_t tailSize = uint32_t(FFree - HeaderSize);
                WriteU32(Header(tail), tailSize);
                PushFree(tail, tailSize);
            }
            StartBlock();
        }
        uint8_t* header = FRoot + BlockSize - FFree;
        uint32_t recorded = uint32_t(k * 8);
        FFree -= need;
        if (FFree < MinRest) {
            if (recorded + uint32_t(FFree) <= uint32_t(SmallSizeLimit)) recorded += uint32_t(FFree);
            FFree = 0;  // the next buffer starts a new block
        }
        WriteU32(header, recorded);
        WriteU16(header + 4, MarkUsed);
        return header + HeaderSize;
    }

    const size_t rounded = size_t(k) * 8;
    auto* large = static_cast<LargeBuf*>(std::malloc(sizeof(LargeBuf) + rounded));
    if (!large) throw std::bad_alloc();
    FAllocated += sizeof(LargeBuf) + rounded;
    large->Prev = nullptr;
    large->Next = FLarge;
    if (FLarge) FLarge->Prev = large;
    FLarge = large;
    FSysGetMem = true;
    uint8_t* buf = reinterpret_cast<uint8_t*>(large + 1);
    WriteU32(Header(buf), uint32_t(rounded));
    WriteU16(Header(buf) + 4, MarkUsed);
    return buf;
}

void TStringHeap::AddRef(const uint8_t* buf) {
    std::unique_lock<std::mutex> lock;
    if (FThreadSafety) lock = std::unique_lock(FThreadSafetyCS);
    const uint16_t mark = RefMark(buf);
    if (mark <= MarkFree || mark == UINT16_MAX) InternalError("StringHeap", QStringLiteral("AddRefStr failed"));
    WriteU16(Header(buf) + 4, uint16_t(mark + 1));
}

void TStringHeap::DisposeBuf(uint8_t* buf) {
    if (!buf) return;
    if (!FThreadSafety) return DisposeLocked(buf);
    std::lock_guard lock(FThreadSafetyCS);
    DisposeLocked(buf);
}

void TStringHeap::DisposeLocked(uint8_t* buf) {
    const uint16_t mark = RefMark(buf);
    if (mark <= MarkFree) InternalError("StringHeap", QStringLiteral("DisposeBuf failed"));
    if (mark > MarkUsed) {
        WriteU16(Header(buf) + 4, uint16_t(mark - 1));
        return;
    }
    const uint32_t size = BufSize(buf);
    if (size <= uint32_t(SmallSizeLimit)) {
        PushFree(buf, size);
        return;
    }
    LargeBuf* large = reinterpret_cast<LargeBuf*>(buf) - 1;
    if (large->Prev) large->Prev->Next = large->Next;
    else FLarge = large->Next;
    if (large->Next) large->Next->Prev = large->Prev;
    FAllocated -= sizeof(LargeBuf) + size;
    std::free(large);
    FSysGetMem = FLarge != nullptr;
}

void TStringHeap::Clear() {
    std::unique_lock<std::mutex> lock;
    if (FThreadSafety) lock = std::unique_lock(FThreadSafetyCS);
    while (FRoot) {
        uint8_t* next = ReadPtr(FRoot);
        std::free(FRoot);
        FRoot = next;
    }
    while (FLarge) {
        LargeBuf* next = FLarge->Next;
        std::free(FLarge);
        FLarge = next;
    }
    std::memset(FSmallTab, 0, sizeof FSmallTab);
    FFree = 0;
    FEmpty = true;
    FSysGetMem = false;
    FAllocated = 0;
}

uint8_t* TStringHeap::AllocStr(const char* str, int64_t len, bool trim) {
    if (trim)
        while (len > 0 && str[len - 1] == ' ') --len;
    uint8_t* buf = NewBuf(len + 1);
    if (len > 0) std::memcpy(buf, str, size_t(len));
    buf[len] = 0;
    return buf;
}

}  // namespace calvoro::dac
