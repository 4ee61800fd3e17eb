#include "MyServiceQuery.h"

namespace calvoro::dac {

TMyServiceQuery::TMyServiceQuery(TCRConnection* connection, TComponent* component, int commandTimeout) {
    FRecordSet.FComponent = component;
    FRecordSet.GetCommand().FComponent = component;
    FRecordSet.SetConnection(connection);
    FRecordSet.GetCommand().SetProp(prCommandTimeout, commandTimeout);
    FRecordSet.FFetchAll = true;
}

void TMyServiceQuery::SetRawSQL(const QString& sql) { FRecordSet.GetCommand().SetRawSQL(sql); }

void TMyServiceQuery::SetSQL(const QString& sql) { FRecordSet.SetSQL(sql); }

void TMyServiceQuery::SetStatement(const QString& text, std::vector<TParamDesc> params, std::vector<int> positions) {
    FRecordSet.GetCommand().SetStatement(text, std::move(params), std::move(positions));
}

bool TMyServiceQuery::Execute() {
    FRecordSet.ExecCommand();
    if (FRecordSet.CommandType() != ctCursor) return false;
    FRecordSet.Open();
    return true;
}

int64_t TMyServiceQuery::ForEachRow(const std::function<void(const uint8_t* record)>& row) {
    // Each result has its own layout: the buffer is made for the current one.
    const TRecBufOwner record = FRecordSet.AllocRecBuf();
    int64_t count = 0;
    FRecordSet.SetToBegin();
    for (FRecordSet.GetNextRecord(record.get()); !FRecordSet.Eof(); FRecordSet.GetNextRecord(record.get())) {
        ++count;
        if (row) row(record.get());
    }
    return count;
}

int64_t ForEachServiceRow(TCRConnection* connection, TComponent* component, int commandTimeout, const QString& sql,
                          const std::function<void(TMySQLRecordset& rs, const uint8_t* record)>& row) {
    TMyServiceQuery query(connection, component, commandTimeout);
    query.SetRawSQL(sql);
    if (!query.Execute()) return 0;
    return query.ForEachRow([&](const uint8_t* record) {
        if (row) row(query.RecordSet(), record);
    });
}

}  // namespace calvoro::dac
