#pragma once
// Items of the record store: each row lives in an item (a header followed by the record),
// and items are allocated in blocks so that a fetch of many rows costs one allocation and
// freeing rows returns whole blocks once they are empty.

#include <cstddef>
#include <cstdint>
#include <set>

namespace calvoro::dac {

enum TItemStatus : uint8_t { isUnmodified, isUpdated, isAppended, isDeleted };
enum TUpdateRecAction : uint8_t { urFail, urAbort, urSkip, urRetry, urApplied, urNone, urSuspended };
enum TItemFilterState : uint8_t { fsNotChecked, fsNotOmitted, fsOmitted };

struct TBlockHeader;

struct TItemHeader {
    static constexpr uint8_t FlagUsed = 0xEE;
    static constexpr uint8_t FlagFree = 0xDD;

    TBlockHeader* Block;
    TItemHeader* Prev;      // previous item of the row list (or of the free list)
    TItemHeader* Next;
    TItemHeader* Rollback;  // the row before its first cached change, or nil
    TItemStatus Status;
    TUpdateRecAction UpdateResult;
    uint8_t Flag;           // FlagUsed or FlagFree
    TItemFilterState FilterResult;
    int32_t Order;          // record number minus the store's offset; 0 when filtered out

    uint8_t* Record() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* Record() const { return reinterpret_cast<const uint8_t*>(this + 1); }
};
static_assert(sizeof(TItemHeader) % 8 == 0, "records follow their header 8-byte aligned");

struct TBlockHeader {
    uint16_t ItemCount;
    uint16_t UsedItems;
    TBlockHeader* Prev;
    TBlockHeader* Next;
    uint8_t Test;
    uint8_t Filler[7];
};
static_assert(sizeof(TBlockHeader) % 8 == 0, "items follow their block header 8-byte aligned");

class TBlockManager {
public:
    static constexpr uint16_t DefaultItemCount = 10;

    TBlockManager() = default;
    ~TBlockManager() { FreeAllBlocks(); }
    TBlockManager(const TBlockManager&) = delete;
    TBlockManager& operator=(const TBlockManager&) = delete;

    // Set before the first allocation (while no block exists).
    void SetRecordSize(uint32_t size);
    uint32_t RecordSize() const { return FRecordSize; }
    // Bytes of one item, header and record, rounded up to keep the next item aligned.
    size_t ItemSize() const { return FItemSize; }

    // A block of itemCount items, all counted as used and uninitialised, put in front of the
    // block list. The record set fills it with one fetch.
    TBlockHeader* AllocBlock(uint16_t itemCount);
    TItemHeader* ItemOf(TBlockHeader* block, int index) const;
    // Marks an item of a block from AllocBlock used, as AllocItem does.
    static void InitItem(TItemHeader* item);
    // Gives an unused item of a block from AllocBlock to the free list.
    void PutFree(TItemHeader* item);
    // Frees a block none of whose items is in a list (a fetch that read no rows).
    void FreeBlock(TBlockHeader* block);
    // An item from the free list (a new block of DefaultItemCount items when it is empty),
    // marked used, with status unmodified, no update result and no order.
    TItemHeader* AllocItem();
    // Gives the item back; the block goes when its last used item does.
    void FreeItem(TItemHeader* item);
    void FreeAllBlocks();

    // Whether the address lies in an item slot of a live block.
    bool Contains(const TItemHeader* item) const;

    TBlockHeader* FirstBlock() const { return FFirstBlock; }
    TItemHeader* FirstFree() const { return FFirstFree; }
    int BlockCount() const;

private:

    TItemHeader* FFirstFree = nullptr;
    TBlockHeader* FFirstBlock = nullptr;
    std::set<const TBlockHeader*> FBlocks;  // by address, to check item addresses
    uint32_t FRecordSize = 0;
    size_t FItemSize = sizeof(TItemHeader);
};

}  // namespace calvoro::dac
