#include "CsvReader.h"

#include "common/CodePage.h"

#include <cstring>

namespace calvoro::import {

namespace {

const char kBom[] = "\xEF\xBB\xBF";

// Whether bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool ValidUtf8(const unsigned char* p, qsizetype n) {
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        unsigned lo = 0x80, hi = 0xBF;  // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        if (p[i + 1] < lo || p[i + 1] > hi) return false;
        for (int k = 2; k <= extra; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

bool DecodeCsvText(QByteArrayView bytes, TCsvEncoding encoding, QString& text) {
    if (encoding == ceWindows1252) {
        text = AnsiToUnicode(std::string_view(bytes.data(), size_t(bytes.size())));
        return true;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    bool ascii = true;
    for (qsizetype i = 0; i < bytes.size() && ascii; ++i) ascii = p[i] < 0x80;
    if (ascii) {
        text = QString::fromLatin1(bytes.data(), bytes.size());
        return true;
    }
    if (!ValidUtf8(p, bytes.size())) return false;
    text = QString::fromUtf8(bytes.data(), bytes.size());
    return true;
}

TCsvReader::TCsvReader(const TCsvFormat& format)
    : FFormat(format), FHasNullMarker(!format.NullMarker.isNull()) {
    if (FHasNullMarker)
        FNullBytes = format.Encoding == ceUtf8 ? format.NullMarker.toUtf8() : UnicodeToAnsi(format.NullMarker);
}

void TCsvReader::Feed(QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype size = bytes.size();
    if (!FBomChecked) {
        if (FFormat.Encoding != ceUtf8) {
            FBomChecked = true;
        } else {
            // Hold the first bytes until they are known to be, or not to be, a byte-order mark.
            while (size > 0 && FBomPrefix.size() < 3 && *data == kBom[FBomPrefix.size()]) {
                FBomPrefix += *data++;
                --size;
            }
            if (FBomPrefix.size() == 3) {
                FBomChecked = true;  // the mark itself is dropped
                FOffset += 3;
            } else if (size > 0 || FFinished) {
                FBomChecked = true;
                const QByteArray held = FBomPrefix;
                Consume(held.constData(), held.size());
            }
        }
    }
    if (size > 0) Consume(data, size);
}

void TCsvReader::Append(const char* data, qsizetype size) {
    FRecordBytes += size;
    if (!FRecord.Error.isEmpty()) return;
    if (FRecordBytes > FFormat.MaxRecordBytes) {
        Fail(QStringLiteral("the record is longer than %1 bytes").arg(FFormat.MaxRecordBytes));
        FField.clear();
        return;
    }
    FField.append(data, size);
}

void TCsvReader::Consume(const char* data, qsizetype size) {
    const char delimiter = FFormat.Delimiter;
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        const char c = *p;
        if (c == '\n' && FAfterCR) {
            // The LF of a CR LF: the CR already counted the line (and ended the record).
            FAfterCR = false;
            if (FState == sQuoted) Append(p, 1);
            ++p;
            continue;
        }
        FAfterCR = c == '\r';
        if (!FRecordOpen && c != '\r' && c != '\n') {
            FRecordOpen = true;
            FRecord.Line = FLine;
        }
        switch (FState) {
        case sFieldStart:
        case sUnquoted:
            if (c == '"' && FState == sFieldStart) {
                FState = sQuoted;
                FFieldQuoted = true;
                ++p;
            } else if (c == delimiter) {
                EndField();
                FState = sFieldStart;
                ++p;
            } else if (c == '\r' || c == '\n') {
                if (FRecordOpen) {
                    EndField();
                    FOffset += p + 1 - data;  // the record ends with this byte
                    EndRecord();
                    FOffset -= p + 1 - data;
                }
                FState = sFieldStart;
                ++FLine;
                ++p;
            } else {
                // A run of ordinary bytes (a quote inside an unquoted field is one of them).
                const char* q = p + 1;
                while (q < end && *q != delimiter && *q != '\r' && *q != '\n') ++q;
                Append(p, q - p);
                FState = sUnquoted;
                p = q;
            }
            break;
        case sQuoted:
            if (c == '"') {
                FState = sQuoteInQuoted;
                ++p;
            } else if (c == '\r' || c == '\n') {
                Append(p, 1);
                ++FLine;
                ++p;
            } else {
                const char* q = p + 1;
                while (q < end && *q != '"' && *q != '\r' && *q != '\n') ++q;
                Append(p, q - p);
                p = q;
            }
            break;
        case sQuoteInQuoted:
            if (c == '"') {
                Append(p, 1);
                FState = sQuoted;
                ++p;
            } else if (c == delimiter || c == '\r' || c == '\n') {
                FState = sUnquoted;  // the field ends here, as an unquoted one would
            } else {
                Fail(QStringLiteral("text after the closing quote of field %1").arg(FRecord.Fields.size() + 1));
                FState = sUnquoted;
            }
            break;
        }
    }
    FOffset += size;
}

void TCsvReader::Finish() {
    if (FFinished) return;
    FFinished = true;
    if (!FBomChecked) Feed(QByteArrayView());
    if (FState == sQuoted) Fail(QStringLiteral("a quoted field is not closed before the end of the input"));
    if (FRecordOpen) {
        EndField();
        EndRecord();
    }
    FState = sFieldStart;
}

bool TCsvReader::Next(TCsvRecord& record) {
    if (FReady.empty()) return false;
    record = std::move(FReady.front());
    FReady.pop_front();
    return true;
}

void TCsvReader::EndField() {
    if (FRecord.Error.isEmpty()) {
        if (!FFieldQuoted && FHasNullMarker && FField == FNullBytes) {
            FRecord.Fields.emplace_back(std::nullopt);
        } else {
            QString text;
            if (DecodeCsvText(FField, FFormat.Encoding, text))
                FRecord.Fields.emplace_back(std::move(text));
            else
                Fail(QStringLiteral("field %1 is not valid UTF-8").arg(FRecord.Fields.size() + 1));
        }
    }
    FField.clear();
    FFieldQuoted = false;
}

void TCsvReader::EndRecord() {
    TCsvRecord record = std::move(FRecord);
    FRecord = TCsvRecord();
    FRecordOpen = false;
    FRecordBytes = 0;
    record.EndOffset = FOffset;
    if (!record.Error.isEmpty()) record.Fields.clear();
    if (FSkipped < FFormat.SkipRecords) {
        ++FSkipped;
        return;
    }
    FReady.push_back(std::move(record));
}

void TCsvReader::Fail(const QString& message) {
    if (FRecord.Error.isEmpty()) FRecord.Error = message;
}

}  // namespace calvoro::import
