#pragma once
// The rows of a record store as export cells: the columns' kinds from their MySQL types, and
// each value as the server's text. A record set read with FieldsAsString holds that text
// already; a data set's typed values (numbers, dates, UTF-16 text) are written back into it:
// integers and DECIMAL exactly, FLOAT and DOUBLE as the shortest text of the value held, dates
// and times in the server's form with the column's fraction digits (the record keeps
// milliseconds).

#include "ExportTypes.h"
#include "dataaccess/mysql/MyRecordset.h"

#include <vector>

namespace calvoro::dac {
class TMemDataSet;
}

namespace calvoro::exporting {

// The kind of a column's values.
TExportKind ExportKindOf(const dac::TFieldDesc& field);

class TRecordRowReader {
public:
    // The visible data fields of the store, in order. The store is only read.
    explicit TRecordRowReader(const dac::TData& store);
    // The fields of a data set, in the data set's order (what its grid shows).
    explicit TRecordRowReader(dac::TMemDataSet& dataSet);

    const std::vector<TExportColumn>& Columns() const { return FColumns; }
    // The cells of a record of the store; valid until the next call.
    TExportRow Read(const uint8_t* record);

private:
    void AddField(const dac::TFieldDesc& desc);

    const dac::TData& FStore;
    std::vector<const dac::TFieldDesc*> FFields;
    std::vector<TExportColumn> FColumns;
    std::vector<TExportCell> FCells;
    std::vector<QByteArray> FScratch;  // per field: converted values
};

}  // namespace calvoro::exporting
