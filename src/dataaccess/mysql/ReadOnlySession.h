#pragma once
// The refusals of a read-only session (Options.ReadOnly of the connection). The server refuses
// changes on such a session by itself; these checks refuse them before anything is sent, with
// one message, so that windows and the command line need only call them.

#include "common/Exceptions.h"

#include <QString>

namespace calvoro::dac {

class TCustomMyConnection;
class TCustomMyDataSet;

// The refusal: its message names the action and says how to make changes after all.
class EReadOnlySession : public EDatabaseError {
public:
    explicit EReadOnlySession(const QString& action);
};

// Raises EReadOnlySession for the action (e.g. "Clear all table") when the connection's session
// is read-only.
void CheckWritable(const TCustomMyConnection& connection, const QString& action);
// The same for a statement text: refused when the session is read-only and the text may change
// data or structure (StatementChangesData).
void CheckStatementAllowed(const TCustomMyConnection& connection, const QString& sql);
// Makes the data set refuse inserts, edits and deletes of its rows while its connection's
// session is read-only; handlers the data set had before run after the check.
void RefuseRowChangesWhenReadOnly(TCustomMyDataSet& dataSet);

}  // namespace calvoro::dac
