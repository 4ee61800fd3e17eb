#pragma once
// The MySQL script component: statements run through a TMyCommand (or a MySQL data set) on a
// MySQL connection.
//
// A stream's bytes reach the server unchanged on an 8-bit connection: text without a
// byte-order mark (or after a UTF-8 mark) is read through the lossless 8-bit code page and
// written back through it; a UTF-16 file's text goes as UTF-8. On a Unicode connection a
// stream without a mark is read as UTF-8.

#include "DAScript.h"
#include "dataaccess/mysql/MyAccess.h"

namespace calvoro::script {

class TMyScript : public TDAScript {
public:
    TMyScript();
    ~TMyScript() override;

    dac::TCustomMyConnection* MyConnection() const {
        return static_cast<dac::TCustomMyConnection*>(Connection());
    }
    void SetConnection(dac::TCustomMyConnection* connection) { TDAScript::SetConnection(connection); }
    dac::TCustomMyDataSet* MyDataSet() const { return static_cast<dac::TCustomMyDataSet*>(DataSet()); }
    void SetDataSet(dac::TCustomMyDataSet* dataSet) { TDAScript::SetDataSet(dataSet); }

    void Execute() override;
    bool ExecuteNext() override;

    // Whether the connection's server speaks the 4.1 protocol (several statements per packet).
    bool ServerSpeaksProtocol41() const;

protected:
    std::unique_ptr<TDAScriptProcessor> CreateProcessor() override;
    std::unique_ptr<dac::TCustomDASQL> CreateCommand() override;
    sqltext::TTextEncoding PlainStreamEncoding() const override;
    QString TextForConnection(const QString& sql, bool unicodeSource) const override;
    qint64 ServerMaxStatementLength() override;

private:
    dac::TCustomMyConnection* ActiveConnection() const;
    bool Unicode() const;
};

}  // namespace calvoro::script
