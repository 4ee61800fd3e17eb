#include "ReadOnlySession.h"

#include "MyAccess.h"
#include "StatementEffect.h"

namespace calvoro::dac {

EReadOnlySession::EReadOnlySession(const QString& action)
    : EDatabaseError(QStringLiteral("This session is read-only: %1 would change the server's data or structure, "
                                    "so it was not sent. Connect with a session that is not read-only to make "
                                    "changes.")
                         .arg(action)) {}

void CheckWritable(const TCustomMyConnection& connection, const QString& action) {
    if (connection.MyOptions().ReadOnly()) throw EReadOnlySession(action);
}

void CheckStatementAllowed(const TCustomMyConnection& connection, const QString& sql) {
    if (connection.MyOptions().ReadOnly() && StatementChangesData(sql))
        throw EReadOnlySession(QStringLiteral("this statement"));
}

void RefuseRowChangesWhenReadOnly(TCustomMyDataSet& dataSet) {
    auto guard = [](TDataSet::TNotifyEvent& event, const QString& action) {
        event = [previous = std::move(event), action](TDataSet* d) {
            if (auto* set = dynamic_cast<TCustomDADataSet*>(d))
                if (auto* c = dynamic_cast<const TCustomMyConnection*>(set->Connection())) CheckWritable(*c, action);
            if (previous) previous(d);
        };
    };
    guard(dataSet.BeforeInsert, QStringLiteral("adding a row"));
    guard(dataSet.BeforeEdit, QStringLiteral("editing a row"));
    guard(dataSet.BeforeDelete, QStringLiteral("deleting a row"));
}

}  // namespace calvoro::dac
