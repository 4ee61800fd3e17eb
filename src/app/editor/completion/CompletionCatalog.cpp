#include "CompletionCatalog.h"

#include <algorithm>

namespace calvoro::app {

namespace {

bool LessIgnoringCase(const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

}  // namespace

TDatabaseCatalog::TDatabaseCatalog(QString name, std::vector<TCatalogTable> tables, bool columnsLoaded)
    : FName(std::move(name)), FTables(std::move(tables)), FColumnsLoaded(columnsLoaded) {
    std::sort(FTables.begin(), FTables.end(),
              [](const TCatalogTable& a, const TCatalogTable& b) { return LessIgnoringCase(a.Name, b.Name); });
    for (int i = 0; i < int(FTables.size()); ++i) {
        FExact.insert(FTables[size_t(i)].Name, i);
        FFolded.insert(FTables[size_t(i)].Name.toCaseFolded(), i);  // the last of equal foldings wins
    }
}

const TCatalogTable* TDatabaseCatalog::Find(const QString& name) const {
    if (const auto it = FExact.constFind(name); it != FExact.cend()) return &FTables[size_t(*it)];
    if (const auto it = FFolded.constFind(name.toCaseFolded()); it != FFolded.cend()) return &FTables[size_t(*it)];
    return nullptr;
}

void TCompletionCatalog::Reset(const QString& current) {
    FCurrent = current;
    FDatabases.clear();
    FDatabasesLoaded = false;
    FLoaded.clear();
}

void TCompletionCatalog::SetDatabases(QStringList names) {
    std::sort(names.begin(), names.end(), LessIgnoringCase);
    FDatabases = std::move(names);
    FDatabasesLoaded = true;
}

QString TCompletionCatalog::DatabaseName(const QString& name) const {
    if (FDatabases.contains(name)) return name;
    for (const QString& d : FDatabases)
        if (d.compare(name, Qt::CaseInsensitive) == 0) return d;
    return name;
}

void TCompletionCatalog::SetDatabase(std::shared_ptr<const TDatabaseCatalog> database) {
    const QString name = database->Name();
    FLoaded.insert(name, std::move(database));
}

const TDatabaseCatalog* TCompletionCatalog::Database(const QString& name) const {
    const auto it = FLoaded.constFind(name.isEmpty() ? FCurrent : DatabaseName(name));
    return it == FLoaded.cend() ? nullptr : it->get();
}

}  // namespace calvoro::app
