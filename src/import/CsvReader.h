#pragma once
// The one reader of CSV bytes: a push parser fed in pieces of any size (a file read in blocks,
// standard input), that hands out whole records with the line each began on.
//
// Fields are split at the chosen delimiter outside double quotes; a quoted field may hold the
// delimiter, doubled quotes ("" for one ") and line breaks (kept as they were written). A record
// ends at LF, CR LF or a lone CR outside quotes. Empty lines are not records. Bytes are text in
// UTF-8 (a leading byte-order mark is dropped) or in Windows-1252; a record whose UTF-8 is
// invalid, whose quotes are malformed or that outgrows the size limit is handed out with an
// error instead of fields, so that the caller can refuse it by its line number and go on.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace calvoro::import {

enum TCsvEncoding { ceUtf8, ceWindows1252 };

struct TCsvFormat {
    char Delimiter = ',';  // one ASCII byte other than '"', CR or LF
    // An unquoted field equal to this text is NULL; a quoted one is always text. Null: no marker.
    QString NullMarker;
    TCsvEncoding Encoding = ceUtf8;
    int SkipRecords = 0;  // records dropped at the start (a header line)
    int64_t MaxRecordBytes = int64_t(64) << 20;
};

struct TCsvRecord {
    int64_t Line = 0;                         // 1-based line the record begins on
    std::vector<std::optional<QString>> Fields;  // nullopt: NULL
    QString Error;                            // not empty: the record is malformed (no fields)
    int64_t EndOffset = 0;                    // bytes of input consumed up to the record's end
};

class TCsvReader {
public:
    explicit TCsvReader(const TCsvFormat& format);

    // Takes the next piece of input; records completed by it become available to Next.
    void Feed(QByteArrayView bytes);
    // The input ended: completes the last record (an open quote makes it malformed).
    void Finish();
    // The next completed record, in input order; false when none is ready.
    bool Next(TCsvRecord& record);

    int64_t BytesFed() const { return FOffset; }

private:
    enum TState { sFieldStart, sUnquoted, sQuoted, sQuoteInQuoted };
    void Consume(const char* data, qsizetype size);
    void Append(const char* data, qsizetype size);
    void EndField();
    void EndRecord();
    void Fail(const QString& message);

    TCsvFormat FFormat;
    QByteArray FNullBytes;  // the marker in the input's encoding
    bool FHasNullMarker;
    TState FState = sFieldStart;
    bool FAfterCR = false;      // the previous byte was a CR (an LF now belongs to it)
    bool FFinished = false;
    bool FBomChecked = false;
    QByteArray FBomPrefix;      // the first bytes while a byte-order mark may still be coming
    int64_t FLine = 1;          // the line the next byte is on
    int64_t FOffset = 0;        // bytes fed so far
    int64_t FRecordBytes = 0;
    int64_t FSkipped = 0;
    QByteArray FField;
    bool FFieldQuoted = false;
    TCsvRecord FRecord;
    bool FRecordOpen = false;
    std::deque<TCsvRecord> FReady;
};

// Decodes field bytes from the encoding; false for invalid UTF-8.
bool DecodeCsvText(QByteArrayView bytes, TCsvEncoding encoding, QString& text);

}  // namespace calvoro::import
