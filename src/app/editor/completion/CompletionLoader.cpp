#include "CompletionLoader.h"

#include "common/Exceptions.h"
#include "dataaccess/mysql/MyClasses.h"
#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QMetaObject>

namespace calvoro::app {

namespace {

bool SameSSL(const dac::TMyConnectionSSLOptions& a, const dac::TMyConnectionSSLOptions& b) {
    return a.ChipherList == b.ChipherList && a.CACert == b.CACert && a.Key == b.Key && a.Cert == b.Cert &&
           a.Mode == b.Mode && a.CAPath == b.CAPath && a.ServerPublicKey == b.ServerPublicKey &&
           a.GetServerPublicKey == b.GetServerPublicKey;
}

// Every row of a statement, the named columns' values as text, through a data set (which
// decodes text as the connection does).
std::vector<QStringList> ReadRows(dac::TMyConnection& connection, const QString& sql, const QStringList& columns) {
    dac::TMyQuery query;
    query.SetConnection(&connection);
    query.SetUniDirectional(true);
    query.SQL().SetText(sql);
    query.Open();
    std::vector<dac::TField*> fields;
    for (const QString& column : columns) fields.push_back(&query.FieldByName(column));
    std::vector<QStringList> rows;
    for (; !query.Eof(); query.Next()) {
        QStringList& row = rows.emplace_back();
        for (dac::TField* f : fields) row << f->AsString();
    }
    query.Close();
    return rows;
}

}  // namespace

QString CatalogTablesStatement(const QString& database, bool backslashEscapes) {
    return QStringLiteral("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA = ") +
           dac::QuoteString(database, backslashEscapes);
}

QString CatalogColumnsStatement(const QString& database, bool backslashEscapes) {
    return QStringLiteral("SELECT TABLE_NAME, COLUMN_NAME, COLUMN_TYPE FROM information_schema.COLUMNS WHERE "
                          "TABLE_SCHEMA = ") +
           dac::QuoteString(database, backslashEscapes) + QStringLiteral(" ORDER BY TABLE_NAME, ORDINAL_POSITION");
}

TCompletionLoader::TCompletionLoader(QObject* parent) : QObject(parent) {}

TCompletionLoader::~TCompletionLoader() {
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
        FQueue.clear();
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
    if (FConnection) {
        try {
            FConnection->Disconnect();
        } catch (const std::exception&) {
            // Closing a connection nobody uses any more: there is no one to tell.
        }
    }
}

void TCompletionLoader::Reload(const dac::TMyConnection& tools) {
    ++FGeneration;
    FCatalog.Reset(tools.Database());
    FLoading.clear();
    FFailures.clear();
    {
        std::lock_guard lock(FMutex);
        FQueue.clear();
        FLogin = {tools.Server(), tools.Username(), tools.Password(), tools.MyOptions().UnixSocket(), tools.Port(),
                  tools.ConnectionTimeout(), tools.SSLOptions()};
    }
    if (!FThread.joinable()) FThread = std::thread([this] { Work(); });
    emit Changed();
    if (tools.Database().isEmpty()) return;
    FLoading.insert(QString());
    {
        std::lock_guard lock(FMutex);
        FQueue.push_back({QString(), FGeneration});
    }
    FWake.notify_all();
    Request(tools.Database());
}

void TCompletionLoader::Request(const QString& database) {
    if (database.isEmpty() || !FThread.joinable()) return;
    if (FLoading.contains(database) || FFailures.contains(database) || FCatalog.Database(database)) return;
    FLoading.insert(database);
    {
        std::lock_guard lock(FMutex);
        FQueue.push_back({database, FGeneration});
    }
    FWake.notify_all();
}

bool TCompletionLoader::Loading(const QString& database) const { return FLoading.contains(database); }

QString TCompletionLoader::Failure(const QString& database) const { return FFailures.value(database); }

void TCompletionLoader::Work() {
    for (;;) {
        TRequest request;
        TLogin login;
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [this] { return FStopping || !FQueue.empty(); });
            if (FStopping) return;
            request = FQueue.front();
            FQueue.pop_front();
            login = FLogin;
        }
        if (BeforeLoad) BeforeLoad();
        try {
            Load(request, login);
        } catch (const std::exception& e) {
            // The window shows why the names are missing; a lost connection logs in anew.
            const auto* ours = dynamic_cast<const Exception*>(&e);
            const QString message = ours ? ours->Message() : QString::fromUtf8(e.what());
            const auto* my = dynamic_cast<const dac::EMyError*>(&e);
            if (FConnection && (!my || my->IsFatalError())) {
                try {
                    FConnection->Disconnect();
                } catch (const std::exception&) {
                    // The first failure is the one reported.
                }
            }
            const QString database = request.Database;
            Deliver(request.Generation, [this, database, message] {
                FLoading.remove(database);
                FFailures.insert(database, message);
            });
        }
    }
}

void TCompletionLoader::Connect(const TLogin& login) {
    if (!FConnection) {
        FConnection = std::make_unique<dac::TMyConnection>();
        FConnection->SetLoginPrompt(false);
        FConnection->MyOptions().SetUseUnicode(true);
    }
    dac::TMyConnection& c = *FConnection;
    const TLogin& was = FConnectedLogin;
    const bool same = was.Server == login.Server && was.Username == login.Username && was.Password == login.Password &&
                      was.Socket == login.Socket && was.Port == login.Port && was.Timeout == login.Timeout &&
                      SameSSL(was.SSL, login.SSL);
    if (c.GetConnected() && same) return;
    c.Disconnect();
    c.SetServer(login.Server);
    c.SetPort(login.Port);
    c.MyOptions().SetUnixSocket(login.Socket);
    c.SetConnectionTimeout(login.Timeout);
    c.SetUsername(login.Username);
    c.SetPassword(login.Password);
    c.SSLOptions() = login.SSL;
    c.Connect();
    FConnectedLogin = login;
}

void TCompletionLoader::Load(const TRequest& request, const TLogin& login) {
    Connect(login);
    dac::TMyConnection& c = *FConnection;
    const QString database = request.Database;
    if (database.isEmpty()) {
        QStringList names;
        c.GetDatabaseNames(names);
        Deliver(request.Generation, [this, names] {
            FLoading.remove(QString());
            FCatalog.SetDatabases(names);
        });
        return;
    }
    const bool backslashes = c.NeedBackslashes();
    // The tables first, so that their names are offered while the columns are read.
    std::vector<TCatalogTable> list;
    QHash<QString, size_t> index;
    for (const QStringList& row : ReadRows(c, CatalogTablesStatement(database, backslashes),
                                           {QStringLiteral("TABLE_NAME"), QStringLiteral("TABLE_TYPE")})) {
        index.insert(row[0], list.size());
        list.push_back({row[0], row[1] == u"VIEW", {}});
    }
    auto partial = std::make_shared<const TDatabaseCatalog>(database, list, false);
    Deliver(request.Generation, [this, partial] { FCatalog.SetDatabase(partial); });

    for (const QStringList& row :
         ReadRows(c, CatalogColumnsStatement(database, backslashes),
                  {QStringLiteral("TABLE_NAME"), QStringLiteral("COLUMN_NAME"), QStringLiteral("COLUMN_TYPE")})) {
        const auto it = index.constFind(row[0]);
        if (it == index.cend()) continue;  // a table made after the list was read
        list[*it].Columns.push_back({row[1], row[2]});
    }
    auto full = std::make_shared<const TDatabaseCatalog>(database, std::move(list), true);
    Deliver(request.Generation, [this, full, database] {
        FLoading.remove(database);
        FCatalog.SetDatabase(full);
    });
}

void TCompletionLoader::Deliver(quint64 generation, std::function<void()> apply) {
    {
        std::lock_guard lock(FMutex);
        FDelivered.emplace_back(generation, std::move(apply));
    }
    QMetaObject::invokeMethod(this, "ApplyDelivered", Qt::QueuedConnection);
}

void TCompletionLoader::ApplyDelivered() {
    std::deque<std::pair<quint64, std::function<void()>>> delivered;
    {
        std::lock_guard lock(FMutex);
        delivered.swap(FDelivered);
    }
    bool changed = false;
    for (auto& [generation, apply] : delivered) {
        if (generation != FGeneration) continue;
        apply();
        changed = true;
    }
    if (changed) emit Changed();
}

}  // namespace calvoro::app
