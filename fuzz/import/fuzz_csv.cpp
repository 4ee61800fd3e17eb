// CSV bytes read by TCsvReader. The first byte picks the delimiter, the encoding and whether
// "\N" is a NULL marker; the second where the rest is cut in two. Whatever the input: the
// records read whole equal those read in two pieces and those read a byte at a time, lines
// rise from record to record, and each record's end offset lies within the input.
#include "import/CsvReader.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace calvoro::import;
using calvoro::fuzz::Check;

namespace {

std::vector<TCsvRecord> Read(const TCsvFormat& format, QByteArrayView input, const std::vector<qsizetype>& cuts) {
    TCsvReader reader(format);
    std::vector<TCsvRecord> records;
    TCsvRecord r;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        reader.Feed(input.sliced(from, cut - from));
        from = cut;
        while (reader.Next(r)) records.push_back(r);
    }
    reader.Feed(input.sliced(from));
    reader.Finish();
    while (reader.Next(r)) records.push_back(r);
    Check(reader.BytesFed() == input.size());
    return records;
}

bool Same(const std::vector<TCsvRecord>& a, const std::vector<TCsvRecord>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].Line != b[i].Line || a[i].Fields != b[i].Fields || a[i].Error != b[i].Error ||
            a[i].EndOffset != b[i].EndOffset)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const char delimiters[] = {',', ';', '\t', '|'};
    TCsvFormat format;
    format.Delimiter = delimiters[data[0] & 3];
    format.Encoding = data[0] & 4 ? ceWindows1252 : ceUtf8;
    if (data[0] & 8) format.NullMarker = QStringLiteral("\\N");
    format.SkipRecords = (data[0] >> 4) & 1;
    format.MaxRecordBytes = 64 + (data[0] >> 5) * 64;
    const QByteArrayView input(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    const std::vector<TCsvRecord> whole = Read(format, input, {});
    Check(Same(whole, Read(format, input, {qsizetype(data[1]) % (input.size() + 1)})));
    if (input.size() <= 512) {
        std::vector<qsizetype> each;
        for (qsizetype i = 1; i < input.size(); ++i) each.push_back(i);
        Check(Same(whole, Read(format, input, each)));
    }
    int64_t line = 0, end = 0;
    for (const TCsvRecord& r : whole) {
        Check(r.Line > line);
        Check(r.EndOffset >= end && r.EndOffset <= input.size());
        Check(r.Error.isEmpty() || r.Fields.empty());
        line = r.Line;
        end = r.EndOffset;
    }
    return 0;
}
