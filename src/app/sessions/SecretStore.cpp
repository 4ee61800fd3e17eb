// GLib's headers name struct members "signals", which Qt defines as a macro: they go first.
#include <libsecret/secret.h>

#include "SecretStore.h"

#include "common/Exceptions.h"
#include "common/ScopeGuard.h"

namespace calvoro::sessions {

namespace {

const SecretSchema* Schema() {
    static const SecretSchema schema = {"org.calvoro.SessionPassword",
                                        SECRET_SCHEMA_NONE,
                                        {{"session", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SecretSchemaAttributeType(0)}},
                                        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// Raises the store's error, freeing it.
void Raise(GError* error, const QString& what) {
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    throw Exception(QStringLiteral("%1: %2").arg(what, message));
}

}  // namespace

bool SecretStoreAvailable(QString* reason) {
    auto no = [reason](const QString& why) {
        if (reason) *reason = why;
        return false;
    };
    // Without a session bus GLib would try to start one; say so instead.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return no(QStringLiteral("No desktop secret store: there is no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is "
                                 "not set)."));
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &error);
    if (!service) {
        const QString message = error ? QString::fromUtf8(error->message) : QString();
        if (error) g_error_free(error);
        return no(QStringLiteral("No desktop secret store answers (Secret Service): %1").arg(message));
    }
    g_object_unref(service);
    if (reason) reason->clear();
    return true;
}

void StoreSessionPassword(const QString& session, const QString& password) {
    GError* error = nullptr;
    const QByteArray name = session.toUtf8(), secret = password.toUtf8();
    const QByteArray label = QStringLiteral("Calvoro session %1").arg(session).toUtf8();
    if (!secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(), nullptr,
                                    &error, "session", name.constData(), nullptr))
        Raise(error, QStringLiteral("The password could not be kept in the secret store"));
}

std::optional<QString> LookupSessionPassword(const QString& session) {
    GError* error = nullptr;
    const QByteArray name = session.toUtf8();
    gchar* secret = secret_password_lookup_sync(Schema(), nullptr, &error, "session", name.constData(), nullptr);
    if (error) Raise(error, QStringLiteral("The password could not be read from the secret store"));
    if (!secret) return std::nullopt;
    ScopeExit release([&] { secret_password_free(secret); });
    return QString::fromUtf8(secret);
}

void ClearSessionPassword(const QString& session) {
    GError* error = nullptr;
    const QByteArray name = session.toUtf8();
    secret_password_clear_sync(Schema(), nullptr, &error, "session", name.constData(), nullptr);
    if (error) Raise(error, QStringLiteral("The password could not be removed from the secret store"));
}

}  // namespace calvoro::sessions
