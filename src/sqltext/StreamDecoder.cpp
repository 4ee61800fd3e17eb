#include "StreamDecoder.h"

#include "common/CodePage.h"
#include "common/Exceptions.h"

#include <QtEndian>
#include <array>
#include <cstring>

namespace calvoro::sqltext {
namespace {

// The code page as a table: one load per byte keeps decoding far below the lexer's own cost.
const std::array<char16_t, 256>& AnsiTable() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) t[size_t(b)] = AnsiCharOf(static_cast<unsigned char>(b));
        return t;
    }();
    return table;
}

constexpr char16_t kReplacement = 0xFFFD;

}  // namespace

TStreamDecoder::TStreamDecoder(QIODevice* Device, TTextEncoding Encoding)
    : FDevice(Device),
      FEncoding(Encoding),
      FStartOffset(Device->isSequential() ? 0 : Device->pos()),
      // Blocks are decoded one by one, so the decoder keeps no state between them (the held-back
      // bytes do that job); a BOM is an ordinary character here: the script reader strips it.
      FUtf8(QStringConverter::Utf8,
            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom) {}

qint64 TStreamDecoder::LengthInChars() const {
    if (FDevice->isSequential()) return -1;
    const qint64 bytes = qMax<qint64>(0, FDevice->size() - FStartOffset);
    return FEncoding == teUTF16LE ? bytes / 2 : bytes;
}

void TStreamDecoder::SetBlockSize(qsizetype Bytes) { FBlockSize = qMax<qsizetype>(1, Bytes); }

qsizetype TStreamDecoder::MaxChars() const {
    // Up to three held-back bytes join a block; a dangling byte at the end becomes one U+FFFD.
    switch (FEncoding) {
    case teUTF16LE: return (FBlockSize + 1) / 2 + 1;
    case teUTF8: return FUtf8.requiredSpace(FBlockSize + 3);
    case teAnsi: break;
    }
    return FBlockSize;
}

qsizetype TStreamDecoder::ReadBlock(char16_t* Out) {
    FStarted = true;
    for (;;) {
        if (FAtEnd) {
            // The stream ended inside a character: what is left decodes as invalid input.
            const qsizetype n = FCarry ? Decode(FBytes.constData(), FCarry, Out) : 0;
            FCarry = 0;
            return n;
        }
        if (FBytes.size() < FCarry + FBlockSize) FBytes.resize(FCarry + FBlockSize);
        const qint64 got = FDevice->read(FBytes.data() + FCarry, FBlockSize);
        if (got < 0)
            throw Exception(QStringLiteral("Cannot read the SQL text: %1").arg(FDevice->errorString()));
        if (got == 0) {
            FAtEnd = true;
            continue;
        }
        const qsizetype total = FCarry + qsizetype(got);
        const qsizetype tail = IncompleteTail(FBytes.constData(), total);
        const qsizetype n = Decode(FBytes.constData(), total - tail, Out);
        std::memmove(FBytes.data(), FBytes.constData() + (total - tail), size_t(tail));
        FCarry = tail;
        if (n > 0) return n;
    }
}

void TStreamDecoder::Rewind() {
    if (!FStarted) return;
    if (FDevice->isSequential() || !FDevice->seek(FStartOffset))
        throw Exception(QStringLiteral("Cannot return to the start of the SQL text"));
    FCarry = 0;
    FAtEnd = false;
    FStarted = false;
}

// Bytes at the end of Bytes that begin a character whose remaining bytes are still unread.
qsizetype TStreamDecoder::IncompleteTail(const char* Bytes, qsizetype Count) const {
    if (FEncoding == teUTF16LE) return Count % 2;
    if (FEncoding != teUTF8) return 0;
    // Find the last byte that is not a continuation byte (10xxxxxx) among the last four.
    for (qsizetype back = 1; back <= 4 && back <= Count; ++back) {
        const auto b = static_cast<unsigned char>(Bytes[Count - back]);
        if ((b & 0xC0) == 0x80) continue;
        const qsizetype need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        return back < need ? back : 0;
    }
    return 0;
}

qsizetype TStreamDecoder::Decode(const char* Bytes, qsizetype Count, char16_t* Out) {
    switch (FEncoding) {
    case teUTF16LE: {
        const qsizetype units = Count / 2;
        qFromLittleEndian<char16_t>(Bytes, units, Out);
        if (Count % 2) Out[units] = kReplacement;  // only at the very end of the stream
        return units + Count % 2;
    }
    case teUTF8: {
        QChar* out = reinterpret_cast<QChar*>(Out);
        return FUtf8.appendToBuffer(out, QByteArrayView(Bytes, Count)) - out;
    }
    case teAnsi: break;
    }
    const auto& table = AnsiTable();
    for (qsizetype i = 0; i < Count; ++i) Out[i] = table[static_cast<unsigned char>(Bytes[i])];
    return Count;
}

}  // namespace calvoro::sqltext
