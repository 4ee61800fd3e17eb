#pragma once
// Reference-counted objects of the record store: BLOB content kept in pieces of up to 64 KiB
// (so that appending never moves what is there), BLOB objects with a rollback copy for the
// edit in progress, their zlib-compressed form, and variant values.

#include "common/Variant.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <span>

namespace calvoro::dac {

// Shared by several records: created with one reference; Release destroys it with the last.
class TSharedObject {
public:
    TSharedObject() = default;
    virtual ~TSharedObject() = default;
    TSharedObject(const TSharedObject&) = delete;
    TSharedObject& operator=(const TSharedObject&) = delete;

    int RefCount() const { return FRefCount; }
    void AddRef() { ++FRefCount; }
    // Destroys the object when this was the last reference; releasing an object without
    // references is an internal error.
    void Release();

protected:
    int32_t FRefCount = 1;
};

// BLOB content: a chain of pieces. Positions and sizes are in bytes.
class TCRBlobData : public TSharedObject {
public:
    static constexpr uint32_t DefaultPieceSize = 65514;  // a piece with its header is 64 KiB

    TCRBlobData() = default;
    ~TCRBlobData() override;

    virtual int64_t Size() const;
    // Copies up to count bytes from position (count 0: to the end); the number copied.
    virtual int64_t Read(int64_t position, int64_t count, void* dest) const;
    // Overwrites and extends; a position beyond the end is moved to the end.
    virtual void Write(int64_t position, int64_t count, const void* source);
    // Cuts the content to newSize bytes (nothing when it is shorter).
    virtual void Truncate(int64_t newSize);
    virtual void Clear();
    // Joins the pieces into one.
    void Defrag();
    // The whole content.
    virtual QByteArray AsBytes() const;
    // Hands the content out piece by piece without copying.
    virtual void ForEachPiece(const std::function<void(std::span<const uint8_t>)>& piece) const;
    // A copy of the content in a new object of the same kind.
    virtual TCRBlobData* Clone() const;

    uint32_t PieceSize() const { return FPieceSize; }
    void SetPieceSize(uint32_t value) { FPieceSize = value ? value : DefaultPieceSize; }
    int PieceCount() const;

protected:
    struct TPieceHeader {
        TPieceHeader* Prev;
        TPieceHeader* Next;
        uint32_t Size;  // capacity
        uint32_t Used;
        uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
        const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    };
    TPieceHeader* AppendPiece(uint32_t size);
    void FreePieces();

    TPieceHeader* FFirstPiece = nullptr;
    TPieceHeader* FLastPiece = nullptr;
    uint32_t FPieceSize = DefaultPieceSize;
};

// Content that compresses itself on request: more than 50 bytes are deflated with zlib into
// one piece (the marker GUID {F19D8C39-5558-3849-A652-87CEE0C6DA7E} in binary form, the
// uncompressed size [4], then the deflated bytes) when that is smaller. Size, reads and writes
// always see the uncompressed data.
class TCompressedBlobData : public TCRBlobData {
public:
    static constexpr int MinCompressSize = 50;
    static const uint8_t CompressedGuid[16];

    int64_t Size() const override;
    int64_t Read(int64_t position, int64_t count, void* dest) const override;
    void Write(int64_t position, int64_t count, const void* source) override;
    void Truncate(int64_t newSize) override;
    QByteArray AsBytes() const override;
    void ForEachPiece(const std::function<void(std::span<const uint8_t>)>& piece) const override;
    TCRBlobData* Clone() const override;

    bool IsCompressed() const;
    // Deflates the content when that makes it smaller; "ZLib error: target buffer may be too
    // small" when zlib cannot finish.
    void Compress();
    // Inflates compressed content; "Invalid uncompressed blob size" when the result differs
    // from the recorded size.
    void Uncompress();
    // The stored bytes as they are (compressed or not).
    QByteArray RawBytes() const { return TCRBlobData::AsBytes(); }
    int64_t RawSize() const { return TCRBlobData::Size(); }
};

// A BLOB value of a record. While rollback is enabled, the first change of an edit keeps the
// previous content, which Cancel restores and Commit drops.
class TBlob : public TSharedObject {
public:
    explicit TBlob(bool isUnicode = false);
    // A BLOB holding a copy of size bytes in the same allocation as itself: a value read from
    // the server costs one allocation. The content moves into pieces at its first change.
    static TBlob* WithContent(bool isUnicode, const void* data, size_t size);
    ~TBlob() override;
    // Objects made by WithContent are larger than the class: freed without a size.
    static void operator delete(void* p) { ::operator delete(p); }

    int64_t Size() const;
    int64_t Read(int64_t position, int64_t count, void* dest) const;
    void Write(int64_t position, int64_t count, const void* source);
    void Truncate(int64_t newSize);
    void Clear();

    QByteArray AsBytes() const;
    void SetAsBytes(const QByteArray& bytes);
    // Hands the content out piece by piece without copying.
    void ForEachPiece(const std::function<void(std::span<const uint8_t>)>& piece) const;
    // Text content: UTF-16 code units for a Unicode BLOB, 8-bit code page bytes otherwise.
    QString AsString() const;
    void SetAsString(const QString& text);

    bool IsUnicode() const { return FIsUnicode; }
    // "Cannot change IsUnicode if Size > 0" for a BLOB with content.
    void SetIsUnicode(bool value);

    bool RollbackEnabled() const { return FNeedRollback; }
    void EnableRollback() { FNeedRollback = true; }
    // Keeps the current content as the rollback copy ("Blob must be in cached mode" when
    // rollback is off); nothing when a copy exists already.
    void SaveToRollback();
    bool CanRollback() const { return FRollback != nullptr; }  // changed in the current edit
    // The content as it was before the current edit.
    QByteArray ContentBeforeEdit() const { return FRollback ? FRollback->AsBytes() : AsBytes(); }
    void Commit();
    void Cancel();

    // The content object (made from content held inline at the first need).
    TCRBlobData& Data();

protected:
    explicit TBlob(TCRBlobData* data, bool isUnicode);
    void CheckValid() const;
    // Content held inline (WithContent) moves into a content object.
    void Materialize();
    const uint8_t* InlineContent() const { return reinterpret_cast<const uint8_t*>(this + 1); }

    // Ordered to pack with the reference count (many of these are held in memory).
    uint32_t FInlineSize = 0;
    TCRBlobData* FData;  // nil while the content is held inline
    TCRBlobData* FRollback = nullptr;
    bool FIsUnicode = false;
    bool FNeedRollback = false;
    uint8_t Test = 0xDD;  // 0xDD while the object is valid
};

// The BLOB kind that records hold: its content may be compressed.
class TCompressedBlob : public TBlob {
public:
    explicit TCompressedBlob(bool isUnicode = false);
    TCompressedBlobData& Compressed() { return static_cast<TCompressedBlobData&>(*FData); }
    const TCompressedBlobData& Compressed() const { return static_cast<const TCompressedBlobData&>(*FData); }
};

// A variant value of a record.
class TVariantObject : public TSharedObject {
public:
    Variant Value;
};

}  // namespace calvoro::dac
