#include "GrantDialog.h"

#include "AdminSession.h"
#include "StatementsDialog.h"
#include "app/toolkit.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAdminReaders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace calvoro::app {

namespace {

void FillChecks(QListWidget* list, const QStringList& items) {
    list->clear();
    for (const QString& text : items) {
        auto* item = new QListWidgetItem(text, list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

QStringList Checked(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked) items << list->item(i)->text();
    return items;
}

}  // namespace

QStringList TGrantDialog::PrivilegesOf(TLevel level, const dac::TServerKind& server) {
    const bool mariadb = server.Family == dac::sfMariaDB;
    switch (level) {
        case lvGlobal: {
            QStringList p{"ALL PRIVILEGES", "SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "RELOAD",
                          "SHUTDOWN", "PROCESS", "FILE", "REFERENCES", "INDEX", "ALTER", "SHOW DATABASES", "SUPER",
                          "CREATE TEMPORARY TABLES", "LOCK TABLES", "EXECUTE", "REPLICATION SLAVE",
                          "REPLICATION CLIENT", "CREATE VIEW", "SHOW VIEW", "CREATE ROUTINE", "ALTER ROUTINE",
                          "CREATE USER", "EVENT", "TRIGGER", "CREATE TABLESPACE"};
            if (mariadb && server.AtLeast(10, 3, 4)) p << QStringLiteral("DELETE HISTORY");
            return p;
        }
        case lvDatabase: {
            QStringList p{"ALL PRIVILEGES", "SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "REFERENCES",
                          "INDEX", "ALTER", "CREATE TEMPORARY TABLES", "LOCK TABLES", "EXECUTE", "CREATE VIEW",
                          "SHOW VIEW", "CREATE ROUTINE", "ALTER ROUTINE", "EVENT", "TRIGGER"};
            if (mariadb && server.AtLeast(10, 3, 4)) p << QStringLiteral("DELETE HISTORY");
            return p;
        }
        case lvTable: {
            QStringList p{"ALL PRIVILEGES", "SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "REFERENCES",
                          "INDEX", "ALTER", "CREATE VIEW", "SHOW VIEW", "TRIGGER"};
            if (mariadb && server.AtLeast(10, 3, 4)) p << QStringLiteral("DELETE HISTORY");
            return p;
        }
        case lvColumns: return {"SELECT", "INSERT", "UPDATE", "REFERENCES"};
        case lvProcedure:
        case lvFunction: return {"EXECUTE", "ALTER ROUTINE"};
        case lvRole: break;
    }
    return {};
}

TGrantDialog::TGrantDialog(TAdminSession& session, const dac::TAccountName& grantee, const QStringList& roles,
                           QWidget* parent)
    : QDialog(parent), FSession(session), FGrantee(grantee) {
    setObjectName(QStringLiteral("GrantDialog"));
    const QString to = grantee.Host.isEmpty() ? grantee.User : grantee.User + u'@' + grantee.Host;
    setWindowTitle(QStringLiteral("Grant to %1").arg(to));
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    cbxGrantLevel = Make<QComboBox>("cbxGrantLevel", this);
    cbxGrantLevel->addItems({QStringLiteral("Global (*.*)"), QStringLiteral("Database"), QStringLiteral("Table or view"),
                             QStringLiteral("Columns of a table"), QStringLiteral("Procedure"),
                             QStringLiteral("Function"), QStringLiteral("Role")});
    cbxGrantDatabase = Make<QComboBox>("cbxGrantDatabase", this);
    cbxGrantDatabase->setEditable(true);
    cbxGrantObject = Make<QComboBox>("cbxGrantObject", this);
    cbxGrantObject->setEditable(true);
    lbxGrantColumns = Make<QListWidget>("lbxGrantColumns", this);
    lbxGrantColumns->setMaximumHeight(120);
    lbxGrantPrivileges = Make<QListWidget>("lbxGrantPrivileges", this);
    edtGrantOtherPrivileges = Make<QLineEdit>("edtGrantOtherPrivileges", this);
    edtGrantOtherPrivileges->setPlaceholderText(QStringLiteral("e.g. BINLOG_ADMIN, CONNECTION_ADMIN"));
    cbGrantOption = Make<QCheckBox>("cbGrantOption", QStringLiteral("With grant option"), this);
    cbxGrantRole = Make<QComboBox>("cbxGrantRole", this);
    cbxGrantRole->setEditable(true);
    cbxGrantRole->addItems(roles);
    cbDefaultRole = Make<QCheckBox>("cbDefaultRole", QStringLiteral("Make it the default role (active at login)"), this);

    const auto row = [&](QLabel*& label, const QString& text, QWidget* field) {
        label = new QLabel(text, this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    QLabel* levelLabel = nullptr;
    row(levelLabel, QStringLiteral("&Level:"), cbxGrantLevel);
    row(FDatabaseLabel, QStringLiteral("&Database:"), cbxGrantDatabase);
    row(FObjectLabel, QStringLiteral("&Object:"), cbxGrantObject);
    row(FColumnsLabel, QStringLiteral("&Columns:"), lbxGrantColumns);
    row(FPrivilegesLabel, QStringLiteral("&Privileges:"), lbxGrantPrivileges);
    row(FOtherLabel, QStringLiteral("O&ther privileges:"), edtGrantOtherPrivileges);
    row(FRoleLabel, QStringLiteral("&Role:"), cbxGrantRole);
    form->addRow(QString(), cbGrantOption);
    form->addRow(QString(), cbDefaultRole);
    layout->addLayout(form);
    btnGrantOk = Make<QPushButton>("btnGrantOk", QStringLiteral("OK"), this);
    btnGrantOk->setDefault(true);
    btnGrantCancel = Make<QPushButton>("btnGrantCancel", QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnGrantOk);
    buttons->addWidget(btnGrantCancel);
    layout->addLayout(buttons);

    cbxGrantDatabase->addItems(Read([](dac::TMyConnection& c, const dac::TAdminDialect&) { return dac::ReadDatabaseNames(c); }));
    cbxGrantDatabase->setCurrentIndex(-1);
    connect(cbxGrantLevel, &QComboBox::currentIndexChanged, this, [this] { LevelChanged(); });
    connect(cbxGrantDatabase, &QComboBox::currentTextChanged, this, [this] { DatabaseChanged(); });
    connect(cbxGrantObject, &QComboBox::currentTextChanged, this, [this] { ObjectChanged(); });
    connect(btnGrantOk, &QPushButton::clicked, this, [this] { OkClick(); });
    connect(btnGrantCancel, &QPushButton::clicked, this, &QDialog::reject);
    LevelChanged();
}

QStringList TGrantDialog::Read(const std::function<QStringList(dac::TMyConnection&, const dac::TAdminDialect&)>& read) {
    QStringList names;
    try {
        FSession.Run([&](dac::TMyConnection& c, const dac::TAdminDialect& d) { names = read(c, d); });
    } catch (const std::exception&) {
        // Lists only help: what the server does not list can be typed, and a grant the server
        // refuses says why when it runs.
    }
    return names;
}

void TGrantDialog::LevelChanged() {
    const auto level = TLevel(cbxGrantLevel->currentIndex());
    const bool database = level != lvGlobal && level != lvRole;
    const bool object = database && level != lvDatabase;
    const bool role = level == lvRole;
    for (QWidget* w : std::initializer_list<QWidget*>{FDatabaseLabel, cbxGrantDatabase}) w->setVisible(database);
    for (QWidget* w : std::initializer_list<QWidget*>{FObjectLabel, cbxGrantObject}) w->setVisible(object);
    for (QWidget* w : std::initializer_list<QWidget*>{FColumnsLabel, lbxGrantColumns}) w->setVisible(level == lvColumns);
    for (QWidget* w : std::initializer_list<QWidget*>{FPrivilegesLabel, lbxGrantPrivileges, FOtherLabel,
                                                      edtGrantOtherPrivileges})
        w->setVisible(!role);
    for (QWidget* w : std::initializer_list<QWidget*>{FRoleLabel, cbxGrantRole, cbDefaultRole}) w->setVisible(role);
    cbGrantOption->setText(role ? QStringLiteral("With admin option (may grant the role on)")
                                : QStringLiteral("With grant option"));
    FObjectLabel->setText(level == lvProcedure   ? QStringLiteral("&Procedure:")
                          : level == lvFunction  ? QStringLiteral("&Function:")
                                                 : QStringLiteral("&Table:"));
    FillChecks(lbxGrantPrivileges, PrivilegesOf(level, FSession.Dialect().Server));
    DatabaseChanged();
    adjustSize();
}

void TGrantDialog::DatabaseChanged() {
    const auto level = TLevel(cbxGrantLevel->currentIndex());
    const QString database = cbxGrantDatabase->currentText();
    dac::TGrantLevel kind = dac::glTable;
    if (level == lvProcedure) kind = dac::glProcedure;
    if (level == lvFunction) kind = dac::glFunction;
    QStringList names;
    if (!database.isEmpty() && (level == lvTable || level == lvColumns || level == lvProcedure || level == lvFunction))
        names = Read([&](dac::TMyConnection& c, const dac::TAdminDialect& d) {
            return dac::ReadObjectNames(c, d, kind, database);
        });
    {
        const QSignalBlocker quiet(cbxGrantObject);
        cbxGrantObject->clear();
        cbxGrantObject->addItems(names);
        cbxGrantObject->setCurrentIndex(-1);
    }
    ObjectChanged();
}

void TGrantDialog::ObjectChanged() {
    QStringList columns;
    if (TLevel(cbxGrantLevel->currentIndex()) == lvColumns && !cbxGrantObject->currentText().isEmpty()) {
        const QString database = cbxGrantDatabase->currentText(), table = cbxGrantObject->currentText();
        columns = Read([&](dac::TMyConnection& c, const dac::TAdminDialect& d) {
            return dac::ReadColumnNames(c, d, database, table);
        });
    }
    FillChecks(lbxGrantColumns, columns);
}

std::vector<dac::TAdminStatement> TGrantDialog::Statements(const dac::TAdminDialect& dialect) const {
    const auto level = TLevel(cbxGrantLevel->currentIndex());
    std::vector<dac::TAdminStatement> statements;
    if (level == lvRole) {
        const QString name = cbxGrantRole->currentText().trimmed();
        if (name.isEmpty()) throw Exception(QStringLiteral("Choose the role to grant."));
        // A MySQL role is an account: "name@host" picks its host.
        dac::TAccountName role{name, QString()};
        if (dialect.Server.Family == dac::sfMySQL && name.contains(u'@'))
            role = {name.section(u'@', 0, -2), name.section(u'@', -1)};
        statements.push_back(Plain(dac::GrantRoleStatement(role, FGrantee, cbGrantOption->isChecked(), dialect)));
        if (cbDefaultRole->isChecked()) statements.push_back(Plain(dac::SetDefaultRoleStatement(role, FGrantee, dialect)));
        return statements;
    }
    dac::TGrant grant;
    grant.GrantOption = cbGrantOption->isChecked();
    static const dac::TGrantLevel levels[] = {dac::glGlobal, dac::glDatabase, dac::glTable, dac::glTable,
                                              dac::glProcedure, dac::glFunction};
    grant.Target.Level = levels[level];
    if (level != lvGlobal) {
        grant.Target.Database = cbxGrantDatabase->currentText();
        if (grant.Target.Database.isEmpty()) throw Exception(QStringLiteral("Choose the database."));
    }
    if (level != lvGlobal && level != lvDatabase) {
        grant.Target.Object = cbxGrantObject->currentText();
        if (grant.Target.Object.isEmpty()) throw Exception(QStringLiteral("Choose the %1.").arg(FObjectLabel->text().remove(u'&').chopped(1).toLower()));
    }
    const QStringList columns = Checked(lbxGrantColumns);
    if (level == lvColumns && columns.isEmpty()) throw Exception(QStringLiteral("Tick the columns the privileges are for."));
    QStringList privileges = Checked(lbxGrantPrivileges);
    for (const QString& other : edtGrantOtherPrivileges->text().split(u',', Qt::SkipEmptyParts))
        if (!other.trimmed().isEmpty()) privileges << other.trimmed();
    if (privileges.isEmpty()) throw Exception(QStringLiteral("Tick the privileges to grant."));
    for (const QString& p : privileges) grant.Privileges.push_back({p, level == lvColumns ? columns : QStringList()});
    statements.push_back(Plain(dac::GrantStatement(grant, FGrantee, dialect)));
    return statements;
}

void TGrantDialog::OkClick() {
    try {
        (void)Statements(FSession.Dialect());
    } catch (const std::exception& e) {
        ShowErrorBox(ErrorMessageOf(e));
        return;
    }
    accept();
}

}  // namespace calvoro::app
