#pragma once
// Passwords of saved sessions in the desktop's secret store: the Secret Service over D-Bus
// (GNOME Keyring, KeePassXC, KWallet's service), through libsecret. Never in a plain file.
// Each password is an item of the default collection with the attribute session = the
// session's name.

#include <QString>

#include <optional>

namespace calvoro::sessions {

// Whether a secret store answers on the desktop's session bus. Without one, reason (when
// given) says why, for the user: keeping passwords is then not offered.
bool SecretStoreAvailable(QString* reason = nullptr);
// Keeps the session's password, replacing one kept before. Raises calvoro::Exception with the
// store's message when it cannot.
void StoreSessionPassword(const QString& session, const QString& password);
// The session's kept password, or nothing. Raises calvoro::Exception when the store fails.
std::optional<QString> LookupSessionPassword(const QString& session);
// Forgets the session's password (nothing when none is kept).
void ClearSessionPassword(const QString& session);

}  // namespace calvoro::sessions
