#pragma once
// The names completion offers from the server, cached per database: the server's databases,
// and for each database loaded its tables and views with their columns. Filled by the loader
// on the window's thread; a database's entry is replaced whole, never changed in place.

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace calvoro::app {

struct TCatalogColumn {
    QString Name;
    QString Type;  // as the server writes it: "int(11)", "varchar(20)"
};

struct TCatalogTable {
    QString Name;
    bool View = false;
    std::vector<TCatalogColumn> Columns;
};

class TDatabaseCatalog {
public:
    TDatabaseCatalog(QString name, std::vector<TCatalogTable> tables, bool columnsLoaded);

    const QString& Name() const { return FName; }
    // Sorted by name without letter case.
    const std::vector<TCatalogTable>& Tables() const { return FTables; }
    // False while only the tables are in (their columns come next).
    bool ColumnsLoaded() const { return FColumnsLoaded; }
    // The table or view of that name, else one whose name differs only in letter case; null
    // when there is none.
    const TCatalogTable* Find(const QString& name) const;

private:
    QString FName;
    std::vector<TCatalogTable> FTables;
    bool FColumnsLoaded;
    QHash<QString, int> FExact, FFolded;
};

class TCompletionCatalog {
public:
    // Forgets everything; `current` is the database unqualified names belong to.
    void Reset(const QString& current);
    const QString& CurrentDatabase() const { return FCurrent; }

    void SetDatabases(QStringList names);
    // The server's databases, sorted without letter case; empty until loaded.
    const QStringList& Databases() const { return FDatabases; }
    bool DatabasesLoaded() const { return FDatabasesLoaded; }
    // The database of that name in the list, else one that differs only in letter case, else
    // the name itself.
    QString DatabaseName(const QString& name) const;

    void SetDatabase(std::shared_ptr<const TDatabaseCatalog> database);
    // A database's names, null while not loaded; an empty name is the current database.
    const TDatabaseCatalog* Database(const QString& name) const;

private:
    QString FCurrent;
    QStringList FDatabases;
    bool FDatabasesLoaded = false;
    QHash<QString, std::shared_ptr<const TDatabaseCatalog>> FLoaded;
};

}  // namespace calvoro::app
