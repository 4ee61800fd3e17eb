#include "MemBlob.h"

#include "common/CodePage.h"
#include "common/Exceptions.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace calvoro::dac {

// --- TSharedObject ---

void TSharedObject::Release() {
    if (FRefCount <= 0)
        InternalError("MemBlob", QStringLiteral("TSharedObject.Free RefCount = %1").arg(FRefCount));
    if (FRefCount == 1) {
        FRefCount = 0;
        delete this;
        return;
    }
    --FRefCount;
}

// --- TCRBlobData ---

TCRBlobData::~TCRBlobData() { FreePieces(); }

void TCRBlobData::FreePieces() {
    TPieceHeader* piece = FFirstPiece;
    while (piece) {
        TPieceHeader* next = piece->Next;
        std::free(piece);
        piece = next;
    }
    FFirstPiece = FLastPiece = nullptr;
}

TCRBlobData::TPieceHeader* TCRBlobData::AppendPiece(uint32_t size) {
    auto* piece = static_cast<TPieceHeader*>(std::malloc(sizeof(TPieceHeader) + size));
    if (!piece) throw std::bad_alloc();
    piece->Prev = FLastPiece;
    piece->Next = nullptr;
    piece->Size = size;
    piece->Used = 0;
    if (FLastPiece) FLastPiece->Next = piece;
    else FFirstPiece = piece;
    FLastPiece = piece;
    return piece;
}

int64_t TCRBlobData::Size() const {
    int64_t size = 0;
    for (const TPieceHeader* p = FFirstPiece; p; p = p->Next) size += p->Used;
    return size;
}

int TCRBlobData::PieceCount() const {
    int count = 0;
    for (const TPieceHeader* p = FFirstPiece; p; p = p->Next) ++count;
    return count;
}

int64_t TCRBlobData::Read(int64_t position, int64_t count, void* dest) const {
    if (!FFirstPiece || position < 0) return 0;
    auto* out = static_cast<uint8_t*>(dest);
    int64_t copied = 0;
    int64_t pieceStart = 0;
    for (const TPieceHeader* p = FFirstPiece; p; p = p->Next) {
        const int64_t pieceEnd = pieceStart + p->Used;
        if (position < pieceEnd) {
            const int64_t from = position - pieceStart;
            int64_t n = p->Used - from;
            if (count > 0) n = std::min(n, count - copied);
            std::memcpy(out + copied, p->Data() + from, size_t(n));
            copied += n;
            position += n;
            if (count > 0 && copied == count) break;
        }
        pieceStart = pieceEnd;
    }
    return copied;
}

void TCRBlobData::Write(int64_t position, int64_t count, const void* source) {
    if (count <= 0) return;
    position = std::clamp<int64_t>(position, 0, TCRBlobData::Size());
    auto* in = static_cast<const uint8_t*>(source);
    int64_t written = 0;
    int64_t pieceStart = 0;
    // Overwrite the pieces that cover the range, growing each up to its capacity.
    for (TPieceHeader* p = FFirstPiece; p && written < count; p = p->Next) {
        const int64_t pieceEnd = pieceStart + p->Used;
        const bool lastPiece = p->Next == nullptr;
        const int64_t room = lastPiece ? pieceStart + p->Size : pieceEnd;
        if (position < room) {
            const int64_t from = std::max<int64_t>(position - pieceStart, 0);
            const int64_t n = std::min<int64_t>(room - pieceStart - from, count - written);
            std::memcpy(p->Data() + from, in + written, size_t(n));
            written += n;
            position += n;
            p->Used = std::max<uint32_t>(p->Used, uint32_t(from + n));
        }
        pieceStart += p->Used;
    }
    while (written < count) {
        const uint32_t size = uint32_t(std::min<int64_t>(FPieceSize, count - written));
        TPieceHeader* p = AppendPiece(size);
        std::memcpy(p->Data(), in + written, size);
        p->Used = size;
        written += size;
    }
}

void TCRBlobData::Truncate(int64_t newSize) {
    int64_t pieceStart = 0;
    TPieceHeader* p = FFirstPiece;
    while (p && pieceStart + p->Used <= newSize) {
        pieceStart += p->Used;
        p = p->Next;
    }
    if (!p) return;
    if (newSize > pieceStart) {
        p->Used = uint32_t(newSize - pieceStart);
        p = p->Next;
    }
    // p and everything after it go.
    if (!p) return;
    FLastPiece = p->Prev;
    if (FLastPiece) FLastPiece->Next = nullptr;
    else FFirstPiece = nullptr;
    while (p) {
        TPieceHeader* next = p->Next;
        std::free(p);
        p = next;
    }
}

void TCRBlobData::Clear() { FreePieces(); }

void TCRBlobData::Defrag() {
    if (!FFirstPiece || !FFirstPiece->Next) return;
    const QByteArray all = TCRBlobData::AsBytes();
    FreePieces();
    TPieceHeader* p = AppendPiece(uint32_t(all.size()));
    std::memcpy(p->Data(), all.constData(), size_t(all.size()));
    p->Used = uint32_t(all.size());
}

QByteArray TCRBlobData::AsBytes() const {
    QByteArray bytes(qsizetype(TCRBlobData::Size()), Qt::Uninitialized);
    if (!bytes.isEmpty()) TCRBlobData::Read(0, 0, bytes.data());
    return bytes;
}

void TCRBlobData::ForEachPiece(const std::function<void(std::span<const uint8_t>)>& piece) const {
    for (const TPieceHeader* p = FFirstPiece; p; p = p->Next)
        if (p->Used) piece({p->Data(), p->Used});
}

TCRBlobData* TCRBlobData::Clone() const {
    auto* copy = new TCRBlobData();
    copy->FPieceSize = FPieceSize;
    for (const TPieceHeader* p = FFirstPiece; p; p = p->Next) copy->Write(copy->Size(), p->Used, p->Data());
    return copy;
}

// --- TCompressedBlobData ---

// {F19D8C39-5558-3849-A652-87CEE0C6DA7E} as a GUID is laid out in memory: the first three
// groups little-endian, the rest as written.
const uint8_t TCompressedBlobData::CompressedGuid[16] = {0x39, 0x8C, 0x9D, 0xF1, 0x58, 0x55, 0x49, 0x38,
                                                         0xA6, 0x52, 0x87, 0xCE, 0xE0, 0xC6, 0xDA, 0x7E};

namespace {
constexpr int CompressedHeaderSize = 16 + 4;  // GUID, uncompressed size
}

bool TCompressedBlobData::IsCompressed() const {
    return FFirstPiece && FFirstPiece->Used > 20 &&
           std::memcmp(FFirstPiece->Data(), CompressedGuid, sizeof CompressedGuid) == 0;
}

int64_t TCompressedBlobData::Size() const {
    if (!IsCompressed()) return TCRBlobData::Size();
    uint32_t size;
    std::memcpy(&size, FFirstPiece->Data() + 16, 4);
    return size;
}

void TCompressedBlobData::Compress() {
    if (IsCompressed()) return;
    const int64_t size = TCRBlobData::Size();
    if (size <= MinCompressSize) return;
    Defrag();
    const uLong sourceLen = uLong(size);
    uLongf destLen = compressBound(sourceLen);
    QByteArray packed(qsizetype(CompressedHeaderSize + destLen), Qt::Uninitialized);
    auto* out = reinterpret_cast<Bytef*>(packed.data());
    if (compress(out + CompressedHeaderSize, &destLen, FFirstPiece->Data(), sourceLen) != Z_OK)
        throw EDatabaseError(QStringLiteral("ZLib error: target buffer may be too small"));
    if (int64_t(destLen) + CompressedHeaderSize >= size) return;  // kept only when smaller
    std::memcpy(out, CompressedGuid, 16);
    const uint32_t size32 = uint32_t(size);
    std::memcpy(out + 16, &size32, 4);
    FreePieces();
    TPieceHeader* p = AppendPiece(uint32_t(CompressedHeaderSize + destLen));
    std::memcpy(p->Data(), out, CompressedHeaderSize + destLen);
    p->Used = p->Size;
}

void TCompressedBlobData::Uncompress() {
    if (!IsCompressed()) return;
    Defrag();
    uint32_t size;
    std::memcpy(&size, FFirstPiece->Data() + 16, 4);
    QByteArray plain(qsizetype(size), Qt::Uninitialized);
    uLongf destLen = size;
    const int rc = uncompress(reinterpret_cast<Bytef*>(plain.data()), &destLen,
                              FFirstPiece->Data() + CompressedHeaderSize,
                              uLong(FFirstPiece->Used - CompressedHeaderSize));
    // More data than recorded (no room left) or less: the recorded size is wrong.
    if ((rc == Z_OK && destLen != size) || rc == Z_BUF_ERROR)
        throw EDatabaseError(QStringLiteral("Invalid uncompressed blob size"));
    if (rc != Z_OK) throw EDatabaseError(QStringLiteral("ZLib error: target buffer may be too small"));
    FreePieces();
    if (size) TCRBlobData::Write(0, size, plain.constData());
}

QByteArray TCompressedBlobData::AsBytes() const {
    if (!IsCompressed()) return TCRBlobData::AsBytes();
    TCompressedBlobData copy;
    copy.TCRBlobData::Write(0, FFirstPiece->Used, FFirstPiece->Data());
    copy.Uncompress();
    return copy.TCRBlobData::AsBytes();
}

int64_t TCompressedBlobData::Read(int64_t position, int64_t count, void* dest) const {
    if (!IsCompressed()) return TCRBlobData::Read(position, count, dest);
    const QByteArray all = AsBytes();
    if (position < 0 || position >= all.size()) return 0;
    int64_t n = all.size() - position;
    if (count > 0) n = std::min(n, count);
    std::memcpy(dest, all.constData() + position, size_t(n));
    return n;
}

void TCompressedBlobData::Write(int64_t position, int64_t count, const void* source) {
    Uncompress();
    TCRBlobData::Write(position, count, source);
}

void TCompressedBlobData::Truncate(int64_t newSize) {
    Uncompress();
    TCRBlobData::Truncate(newSize);
}

void TCompressedBlobData::ForEachPiece(const std::function<void(std::span<const uint8_t>)>& piece) const {
    if (!IsCompressed()) return TCRBlobData::ForEachPiece(piece);
    const QByteArray all = AsBytes();
    piece({reinterpret_cast<const uint8_t*>(all.constData()), size_t(all.size())});
}

TCRBlobData* TCompressedBlobData::Clone() const {
    auto* copy = new TCompressedBlobData();
    copy->FPieceSize = FPieceSize;
    for (const TPieceHeader* p = FFirstPiece; p; p = p->Next)
        copy->TCRBlobData::Write(copy->TCRBlobData::Size(), p->Used, p->Data());
    return copy;
}

// --- TBlob ---

TBlob::TBlob(bool isUnicode) : TBlob(new TCRBlobData(), isUnicode) {}

TBlob::TBlob(TCRBlobData* data, bool isUnicode) : FData(data), FIsUnicode(isUnicode) {}

TBlob* TBlob::WithContent(bool isUnicode, const void* data, size_t size) {
    if (size > UINT32_MAX) {
        auto* blob = new TBlob(isUnicode);
        blob->FData->Write(0, int64_t(size), data);
        return blob;
    }
    void* memory = ::operator new(sizeof(TBlob) + size);
    auto* blob = new (memory) TBlob(nullptr, isUnicode);
    blob->FInlineSize = uint32_t(size);
    if (size) std::memcpy(static_cast<uint8_t*>(memory) + sizeof(TBlob), data, size);
    return blob;
}

TBlob::~TBlob() {
    Test = 0;
    if (FRollback) FRollback->Release();
    if (FData) FData->Release();
}

void TBlob::Materialize() {
    if (FData) return;
    auto* data = new TCRBlobData();
    if (FInlineSize) data->Write(0, FInlineSize, InlineContent());
    FData = data;
}

TCRBlobData& TBlob::Data() {
    Materialize();
    return *FData;
}

void TBlob::ForEachPiece(const std::function<void(std::span<const uint8_t>)>& piece) const {
    CheckValid();
    if (FData) return FData->ForEachPiece(piece);
    if (FInlineSize) piece({InlineContent(), FInlineSize});
}

void TBlob::CheckValid() const {
    if (Test != 0xDD) throw EDatabaseError(QStringLiteral("Invalid BLOB"));
}

int64_t TBlob::Size() const { return FData ? FData->Size() : FInlineSize; }

int64_t TBlob::Read(int64_t position, int64_t count, void* dest) const {
    CheckValid();
    if (FData) return FData->Read(position, count, dest);
    if (position < 0 || position >= FInlineSize) return 0;
    int64_t n = FInlineSize - position;
    if (count > 0) n = std::min(n, count);
    std::memcpy(dest, InlineContent() + position, size_t(n));
    return n;
}

void TBlob::Write(int64_t position, int64_t count, const void* source) {
    CheckValid();
    Materialize();
    if (FNeedRollback) SaveToRollback();
    FData->Write(position, count, source);
}

void TBlob::Truncate(int64_t newSize) {
    CheckValid();
    if (newSize >= Size()) return;
    Materialize();
    if (FNeedRollback) SaveToRollback();
    FData->Truncate(newSize);
}

void TBlob::Clear() {
    CheckValid();
    if (Size() == 0) return;
    Materialize();
    if (FNeedRollback) SaveToRollback();
    FData->Clear();
}

QByteArray TBlob::AsBytes() const {
    CheckValid();
    if (!FData) return QByteArray(reinterpret_cast<const char*>(InlineContent()), qsizetype(FInlineSize));
    return FData->AsBytes();
}

void TBlob::SetAsBytes(const QByteArray& bytes) {
    Clear();
    Write(0, bytes.size(), bytes.constData());
}

QString TBlob::AsString() const {
    CheckValid();
    // Content read from the server is converted where it lies.
    const QByteArray copy = FData ? FData->AsBytes() : QByteArray();
    const char* data = FData ? copy.constData() : reinterpret_cast<const char*>(InlineContent());
    const size_t size = FData ? size_t(copy.size()) : FInlineSize;
    if (!FIsUnicode) return AnsiToUnicode(std::string_view(data, size));
    return QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
}

void TBlob::SetAsString(const QString& text) {
    if (!FIsUnicode) return SetAsBytes(UnicodeToAnsi(text));
    Clear();
    Write(0, text.size() * 2, text.constData());
}

void TBlob::SetIsUnicode(bool value) {
    if (value == FIsUnicode) return;
    if (Size() > 0) throw EDatabaseError(QStringLiteral("Cannot change IsUnicode if Size > 0"));
    FIsUnicode = value;
}

void TBlob::SaveToRollback() {
    if (!FNeedRollback) throw EDatabaseError(QStringLiteral("Blob must be in cached mode"));
    if (FRollback) return;
    Materialize();
    FRollback = FData->Clone();
}

void TBlob::Commit() {
    if (!FRollback) return;
    FRollback->Release();
    FRollback = nullptr;
}

void TBlob::Cancel() {
    if (!FRollback) return;
    FData->Release();
    FData = FRollback;
    FRollback = nullptr;
}

TCompressedBlob::TCompressedBlob(bool isUnicode) : TBlob(new TCompressedBlobData(), isUnicode) {}

}  // namespace calvoro::dac
