#include "MyScript.h"

#include "MyScriptProcessor.h"
#include "common/CodePage.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyClasses.h"
#include "sqltext/MyParser.h"

namespace calvoro::script {

using namespace dac;

TMyScript::TMyScript()
    : TDAScript([](const QString& text) { return std::make_unique<sqltext::TMyParser>(text); }) {
    CreateComponents();
}

TMyScript::~TMyScript() = default;

std::unique_ptr<TDAScriptProcessor> TMyScript::CreateProcessor() { return std::make_unique<TMyScriptProcessor>(*this); }

std::unique_ptr<TCustomDASQL> TMyScript::CreateCommand() { return std::make_unique<TMyCommand>(); }

TCustomMyConnection* TMyScript::ActiveConnection() const {
    if (DataSet()) return static_cast<TCustomMyConnection*>(DataSet()->Connection());
    return MyConnection();
}

bool TMyScript::Unicode() const {
    const TCustomMyConnection* c = ActiveConnection();
    return c && c->MyOptions().UseUnicode();
}

sqltext::TTextEncoding TMyScript::PlainStreamEncoding() const { return Unicode() ? sqltext::teUTF8 : sqltext::teAnsi; }

QString TMyScript::TextForConnection(const QString& sql, bool unicodeSource) const {
    // UTF-16 text on an 8-bit connection goes as the bytes of its UTF-8.
    if (unicodeSource && !Unicode()) return AnsiToUnicode(sql.toUtf8());
    return sql;
}

bool TMyScript::ServerSpeaksProtocol41() const {
    const TCustomMyConnection* c = ActiveConnection();
    const TMySQLConnection* driver = c ? c->MySQLConnection() : nullptr;
    if (!driver) return false;
    const TServerVersion v = driver->ServerVersion();
    return v.Primary > 4 || (v.Primary == 4 && v.Minor >= 1);
}

qint64 TMyScript::ServerMaxStatementLength() {
    TCustomMyConnection* c = ActiveConnection();
    if (!c || !c->GetConnected()) return 0;
    TMyQuery query;
    query.SetConnection(c);
    query.SQL().SetText(QStringLiteral("SELECT @@max_allowed_packet"));
    query.Open();
    return query.Fields()[0].AsLargeInt();
}

void TMyScript::Execute() {
    const QString delimiter = Delimiter();
    ScopeExit restore([&] { SetDelimiter(delimiter); });
    TDAScript::Execute();
}

bool TMyScript::ExecuteNext() {
    TCustomMyDataSet* ds = MyDataSet();
    const int timeout = ds ? ds->CommandTimeout() : 0;
    ScopeExit restore([&] {
        if (ds) ds->SetCommandTimeout(timeout);
    });
    return TDAScript::ExecuteNext();
}

}  // namespace calvoro::script
