#pragma once
// Reads a byte stream block by block and decodes each block to UTF-16 for the lexer.
//
// The bytes of a character that straddles two blocks (a UTF-8 sequence, the two bytes of a
// UTF-16 code unit) are held back and decoded whole with the next block, so a block boundary
// never splits or corrupts a character. Memory is one block of bytes, whatever the stream size.

#include <QByteArray>
#include <QIODevice>
#include <QStringDecoder>
#include <QtGlobal>

namespace calvoro::sqltext {

// Encodings of a stream source. teAnsi is the system's 8-bit code page (Windows-1252).
enum TTextEncoding { teAnsi, teUTF8, teUTF16LE };

class TStreamDecoder {
public:
    static constexpr qsizetype DefaultBlockSize = 65536;

    // Decodes Device from its current position; the device stays the caller's.
    TStreamDecoder(QIODevice* Device, TTextEncoding Encoding);

    TTextEncoding Encoding() const { return FEncoding; }
    qint64 StartOffset() const { return FStartOffset; }
    // Characters from the start position to the end of the device (bytes, halved for UTF-16;
    // an upper bound for UTF-8); -1 when the device cannot tell (sequential).
    qint64 LengthInChars() const;

    // Bytes requested per read; takes effect with the next read.
    void SetBlockSize(qsizetype Bytes);
    qsizetype BlockSize() const { return FBlockSize; }
    // Room ReadBlock needs at Out.
    qsizetype MaxChars() const;

    // Reads and decodes the next block into Out; returns the number of characters written, 0
    // only when the stream has ended. Raises calvoro::Exception when the device fails.
    qsizetype ReadBlock(char16_t* Out);

    // Back to the start position (raises for a sequential device that was read already).
    void Rewind();
    bool Started() const { return FStarted; }

private:
    qsizetype Decode(const char* Bytes, qsizetype Count, char16_t* Out);
    qsizetype IncompleteTail(const char* Bytes, qsizetype Count) const;

    QIODevice* FDevice;
    TTextEncoding FEncoding;
    qint64 FStartOffset;
    qsizetype FBlockSize = DefaultBlockSize;
    QByteArray FBytes;       // the carried bytes, then the block just read
    qsizetype FCarry = 0;    // bytes of an incomplete character kept from the last block
    bool FAtEnd = false;
    bool FStarted = false;
    QStringDecoder FUtf8;
};

}  // namespace calvoro::sqltext
