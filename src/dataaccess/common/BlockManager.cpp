#include "BlockManager.h"

#include "common/Exceptions.h"

#include <cstdlib>
#include <new>

namespace calvoro::dac {

namespace {
constexpr uint8_t BlockTest = 0xBB;
}

void TBlockManager::SetRecordSize(uint32_t size) {
    if (FFirstBlock) InternalError("BlockManager", QStringLiteral("Record size changed while blocks exist"));
    FRecordSize = size;
    FItemSize = (sizeof(TItemHeader) + size + 7) / 8 * 8;
}

TBlockHeader* TBlockManager::AllocBlock(uint16_t itemCount) {
    auto* block = static_cast<TBlockHeader*>(std::malloc(sizeof(TBlockHeader) + itemCount * FItemSize));
    if (!block) throw std::bad_alloc();
    block->ItemCount = itemCount;
    block->UsedItems = itemCount;
    block->Test = BlockTest;
    block->Prev = nullptr;
    block->Next = FFirstBlock;
    if (FFirstBlock) FFirstBlock->Prev = block;
    FFirstBlock = block;
    FBlocks.insert(block);
    for (int i = 0; i < itemCount; ++i) ItemOf(block, i)->Block = block;
    return block;
}

TItemHeader* TBlockManager::ItemOf(TBlockHeader* block, int index) const {
    return reinterpret_cast<TItemHeader*>(reinterpret_cast<uint8_t*>(block + 1) + size_t(index) * FItemSize);
}

void TBlockManager::InitItem(TItemHeader* item) {
    item->Flag = TItemHeader::FlagUsed;
    item->Rollback = nullptr;
    item->Status = isUnmodified;
    item->UpdateResult = urNone;
    item->Order = 0;
    item->FilterResult = fsNotChecked;
    item->Prev = item->Next = nullptr;
}

void TBlockManager::PutFree(TItemHeader* item) {
    item->Flag = TItemHeader::FlagFree;
    item->Prev = nullptr;
    item->Next = FFirstFree;
    if (FFirstFree) FFirstFree->Prev = item;
    FFirstFree = item;
    --item->Block->UsedItems;
}

TItemHeader* TBlockManager::AllocItem() {
    if (!FFirstFree) {
        TBlockHeader* block = AllocBlock(DefaultItemCount);
        for (int i = DefaultItemCount - 1; i >= 0; --i) PutFree(ItemOf(block, i));
    }
    TItemHeader* item = FFirstFree;
    if (item->Flag != TItemHeader::FlagFree) InternalError("BlockManager", QStringLiteral("Item is not free"));
    FFirstFree = item->Next;
    if (FFirstFree) FFirstFree->Prev = nullptr;
    InitItem(item);
    ++item->Block->UsedItems;
    return item;
}

void TBlockManager::FreeItem(TItemHeader* item) {
    if (item->Flag != TItemHeader::FlagUsed) InternalError("BlockManager", QStringLiteral("Item is not in use"));
    TBlockHeader* block = item->Block;
    if (block->UsedItems > 1) {
        PutFree(item);
        return;
    }
    // The block's last item: its other items leave the free list and the block goes.
    for (int i = 0; i < block->ItemCount; ++i) {
        TItemHeader* other = ItemOf(block, i);
        if (other == item || other->Flag != TItemHeader::FlagFree) continue;
        if (other->Prev) other->Prev->Next = other->Next;
        else FFirstFree = other->Next;
        if (other->Next) other->Next->Prev = other->Prev;
    }
    item->Flag = TItemHeader::FlagFree;
    FreeBlock(block);
}

void TBlockManager::FreeBlock(TBlockHeader* block) {
    if (block->Test != BlockTest) InternalError("BlockManager", QStringLiteral("Invalid block"));
    if (block->Prev) block->Prev->Next = block->Next;
    else FFirstBlock = block->Next;
    if (block->Next) block->Next->Prev = block->Prev;
    block->Test = 0;
    FBlocks.erase(block);
    std::free(block);
}

bool TBlockManager::Contains(const TItemHeader* item) const {
    const auto* address = reinterpret_cast<const uint8_t*>(item);
    auto it = FBlocks.upper_bound(reinterpret_cast<const TBlockHeader*>(address));
    if (it == FBlocks.begin()) return false;
    const TBlockHeader* block = *--it;
    const auto* first = reinterpret_cast<const uint8_t*>(block + 1);
    if (address < first || address >= first + block->ItemCount * FItemSize) return false;
    return (address - first) % FItemSize == 0;
}

void TBlockManager::FreeAllBlocks() {
    while (FFirstBlock) {
        TBlockHeader* next = FFirstBlock->Next;
        std::free(FFirstBlock);
        FFirstBlock = next;
    }
    FBlocks.clear();
    FFirstFree = nullptr;
}

int TBlockManager::BlockCount() const {
    int count = 0;
    for (const TBlockHeader* b = FFirstBlock; b; b = b->Next) ++count;
    return count;
}

}  // namespace calvoro::dac
