#pragma once
// The maker's web services: the online test, plain-text GETs from the web site, the update and
// the contact requests. The addresses are configuration; with none configured the program
// contacts nothing and counts as offline.

#include "common/Exceptions.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>

namespace calvoro::app {

// Process-wide application identity, filled by the main window's FormShow.
struct AppIdentity {
    QByteArray AppName;
    QByteArray AppCode;
    QString AppVersion;
    QByteArray UpdaterUrl;
    QByteArray InfoUrl;
    QByteArray VersionUrl;
    QByteArray ContactInfoUrl;
    QByteArray RemoteVersion;
};
AppIdentity& Identity();

// The updater's file name on the web site and next to the program.
inline constexpr const char* UpdaterFileName = "CalvoroUpdate";

// Where the maker's services are and how long to wait for them.
struct TMakerServices {
    QString SiteUrl;        // the web site, e.g. "https://www.vornesk.com"; empty: none
    QString ContactUrl;     // the contact service; empty: none
    QStringList PingHosts;  // up to three hosts for the online test; empty: the hosts of the two above
    int HttpTimeout = 10000;  // ms for one HTTP request, redirects included
    int PingTimeout = 1000;   // ms for one ping, name lookup included
    QString ProgramFolder;    // where the updater is written and started; empty: the program's folder
    // Ends the program once the updater runs; empty: the application quits when the current
    // handler returns.
    std::function<void()> Terminate;
};
// Read from the settings (organisation "Vornesk", application "Calvoro", group "Services":
// SiteUrl, ContactUrl, PingHosts) and the environment, which wins (CALVORO_MAKER_URL,
// CALVORO_CONTACT_URL, CALVORO_PING_HOSTS separated by blanks or commas).
TMakerServices LoadMakerServices();
// The configuration in use: loaded at first use; tests replace it.
TMakerServices& MakerServices();

// The web site's address without a trailing "/" (empty when none is configured).
QString MakerSiteUrl();
// The host names shown in "<Could not contact ... site>".
QString SiteHostName();
QString ContactHostName();

// An HTTP request that failed: StatusCode is the HTTP status, 0 for network errors and
// time-outs.
class EHttpError : public Exception {
public:
    EHttpError(int statusCode, QString message) : Exception(std::move(message)), FStatusCode(statusCode) {}
    int StatusCode() const noexcept { return FStatusCode; }

private:
    int FStatusCode;
};

// "<timestamp>" (any letter case) replaced everywhere by 363 * 86400 plus the whole seconds of
// the time of day: the second of the year of that time on 30 December 1899.
QByteArray InsertTimestamp(const QByteArray& address, QTime time = QTime::currentTime());

// The first IPv4 address of the host, 0.0.0.0 when it has none or the lookup outlasts the
// ping time-out.
QHostAddress GetHostAddress(const QString& hostName);
// One echo request through an unprivileged ICMP socket; where the system allows none, a TCP
// connection attempt to port 80, which the host answers by accepting or refusing it. True when
// an answer came within the ping time-out.
bool PingHost(const QString& hostName);
// Some host of the online test answered. False without configured hosts, and without a
// network interface other than loopback unless all the hosts are loopback addresses.
bool IsOnline();

// GET of the address after InsertTimestamp, redirects followed (never from HTTPS to HTTP),
// within the HTTP time-out; the window repaints meanwhile but takes no input. Basic
// authentication with the user name and password; the body decoded as UTF-8. Raises EHttpError.
QString HttpGetText(const QByteArray& address, const QString& userName, const QString& password);

// Removes the updater a previous update left next to the program (the configured program
// folder), and nothing anywhere else; a file that cannot be removed stays.
void RemoveUpdaterLeftover();

// Downloads the updater next to the program and starts it when its SHA-256 equals the
// checksum published at the same address + ".sha256"; then asks the program to end. A 404
// for the updater is reported to the contact service ("UpdateError") and returns normally,
// the previous updater kept under the ".BAK" name. Any other failure raises; the previous
// updater is then back under its own name and nothing has been started.
void RunUpdater(const QByteArray& address);

// Sends a contact request of the given type; shows the service's answer in a message box when
// showResponse is set. Without a configured contact service, a request that shows its answer
// raises and the automatic reports are dropped.
void SendContactRequest(const QString& type, const QString& content, const QString& email, bool showResponse);

// The text in the 8-bit code page, letters, digits and * @ . _ - $ ! ' ( ) kept, the blank as
// "+", every other byte as "%" and two lower-case hexadecimal digits.
QByteArray FormEncode(const QString& text);

// The error dialog of an update or a message while offline.
void ShowOfflineError();

}  // namespace calvoro::app
