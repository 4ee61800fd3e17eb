#include "SavedSessions.h"

#include "common/Exceptions.h"

#include <QUrl>

#include <algorithm>

namespace calvoro::sessions {

namespace {

const QString Group = QStringLiteral("Sessions");

// A name may hold any character; QSettings keys may not hold "/" or "\", so each session's
// group is its name percent-encoded.
QString Key(const QString& name) { return QString::fromLatin1(QUrl::toPercentEncoding(name)); }
QString NameOf(const QString& key) { return QUrl::fromPercentEncoding(key.toLatin1()); }

}  // namespace

TSessionStore::TSessionStore()
    : FSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brindova"),
                                            QStringLiteral("Ormadex"))) {}

TSessionStore::TSessionStore(std::unique_ptr<QSettings> settings) : FSettings(std::move(settings)) {}

TSessionStore::~TSessionStore() = default;

QStringList TSessionStore::Names() const {
    FSettings->beginGroup(Group);
    QStringList names;
    for (const QString& key : FSettings->childGroups()) names << NameOf(key);
    FSettings->endGroup();
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

std::optional<TSavedSession> TSessionStore::Find(const QString& name) const {
    if (name.isEmpty() || !Names().contains(name)) return std::nullopt;
    FSettings->beginGroup(Group + u'/' + Key(name));
    TSavedSession s;
    s.Name = name;
    s.Host = FSettings->value(QStringLiteral("Host")).toString();
    s.Port = FSettings->value(QStringLiteral("Port"), 3306).toInt();
    s.Socket = FSettings->value(QStringLiteral("Socket")).toString();
    s.User = FSettings->value(QStringLiteral("User")).toString();
    s.Database = FSettings->value(QStringLiteral("Database")).toString();
    s.TlsMode = FSettings->value(QStringLiteral("TLS"), s.TlsMode).toString();
    s.CAFile = FSettings->value(QStringLiteral("CAFile")).toString();
    s.SshTarget = FSettings->value(QStringLiteral("SSH")).toString();
    s.SshKeyFile = FSettings->value(QStringLiteral("SSHKeyFile")).toString();
    s.Colour = FSettings->value(QStringLiteral("Colour")).toString();
    s.ReadOnly = FSettings->value(QStringLiteral("ReadOnly"), false).toBool();
    s.KeepPassword = FSettings->value(QStringLiteral("KeepPassword"), false).toBool();
    FSettings->endGroup();
    return s;
}

void TSessionStore::Save(const TSavedSession& s) {
    if (s.Name.trimmed().isEmpty()) throw Exception(QStringLiteral("A saved session needs a name."));
    FSettings->remove(Group + u'/' + Key(s.Name));
    FSettings->beginGroup(Group + u'/' + Key(s.Name));
    FSettings->setValue(QStringLiteral("Host"), s.Host);
    FSettings->setValue(QStringLiteral("Port"), s.Port);
    FSettings->setValue(QStringLiteral("Socket"), s.Socket);
    FSettings->setValue(QStringLiteral("User"), s.User);
    FSettings->setValue(QStringLiteral("Database"), s.Database);
    FSettings->setValue(QStringLiteral("TLS"), s.TlsMode);
    FSettings->setValue(QStringLiteral("CAFile"), s.CAFile);
    FSettings->setValue(QStringLiteral("SSH"), s.SshTarget);
    FSettings->setValue(QStringLiteral("SSHKeyFile"), s.SshKeyFile);
    FSettings->setValue(QStringLiteral("Colour"), s.Colour);
    FSettings->setValue(QStringLiteral("ReadOnly"), s.ReadOnly);
    FSettings->setValue(QStringLiteral("KeepPassword"), s.KeepPassword);
    FSettings->endGroup();
    FSettings->sync();
}

void TSessionStore::Rename(const QString& from, const QString& to) {
    std::optional<TSavedSession> s = Find(from);
    if (!s) throw Exception(QStringLiteral("There is no saved session '%1'.").arg(from));
    if (to.trimmed().isEmpty()) throw Exception(QStringLiteral("A saved session needs a name."));
    if (to == from) return;
    if (Names().contains(to)) throw Exception(QStringLiteral("A saved session named '%1' exists already.").arg(to));
    s->Name = to;
    Save(*s);
    Remove(from);
}

void TSessionStore::Remove(const QString& name) {
    FSettings->remove(Group + u'/' + Key(name));
    FSettings->sync();
}

}  // namespace calvoro::sessions
