#pragma once
// A statement the layer runs for itself outside any data set: the connection's checks and
// object lists, the update service's refresh and count queries, the command line's query. One
// place wires the driver record set to a driver connection and to the component its errors
// name, and walks the rows of each result with a record buffer of that result's layout.

#include "MyRecordset.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace calvoro::dac {

class TMyServiceQuery {
public:
    // `component` is named in errors; commandTimeout in seconds (0: none). Rows are read at
    // once unless the record set is told otherwise (RecordSet()).
    TMyServiceQuery(TCRConnection* connection, TComponent* component, int commandTimeout = 0);
    TMyServiceQuery(const TMyServiceQuery&) = delete;
    TMyServiceQuery& operator=(const TMyServiceQuery&) = delete;

    // The statement exactly as given: no parameter markers are looked for.
    void SetRawSQL(const QString& sql);
    // A statement whose ":name" markers become parameters (Params()).
    void SetSQL(const QString& sql);
    // A generated statement: each value goes at its 1-based "?" position.
    void SetStatement(const QString& text, std::vector<TParamDesc> params, std::vector<int> positions);
    std::vector<TParamDesc>& Params() { return FRecordSet.GetCommand().Params(); }

    // Runs the statement; true when it returned rows, which are then ready for ForEachRow.
    bool Execute();
    // Calls row for every row of the current result in turn; the count of rows.
    int64_t ForEachRow(const std::function<void(const uint8_t* record)>& row);
    // Steps to the next result with rows (with the record set's open-next mode on).
    bool NextResult() { return FRecordSet.OpenNext(); }

    TMySQLRecordset& RecordSet() { return FRecordSet; }

private:
    TMySQLRecordset FRecordSet;
};

// Runs a statement of the layer's own (sent as it is) and calls row for each of its rows;
// the count of rows.
int64_t ForEachServiceRow(TCRConnection* connection, TComponent* component, int commandTimeout, const QString& sql,
                          const std::function<void(TMySQLRecordset& rs, const uint8_t* record)>& row);

}  // namespace calvoro::dac
