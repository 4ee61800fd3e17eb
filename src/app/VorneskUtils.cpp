#include "VorneskUtils.h"

#include "toolkit.h"
#include "common/AppTitle.h"
#include "common/CodePage.h"
#include "common/ScopeGuard.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

namespace calvoro::app {

AppIdentity& Identity() {
    static AppIdentity identity;
    return identity;
}

namespace {

QString WithoutTrailingSlash(QString url) {
    while (url.endsWith(u'/')) url.chop(1);
    return url;
}

// Runs the loop until quit or the deadline; paint and timer events go on, input waits.
void WaitInLoop(QEventLoop& loop, int timeoutMs, const std::function<void()>& onTimeout) {
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        onTimeout();
        loop.quit();
    });
    timer.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void Pause50ms() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

QString HostOf(const QString& url) { return QUrl(url).host(); }

bool IsLoopback(const QString& host) {
    const QHostAddress address(host);
    return host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 ||
           (!address.isNull() && address.isLoopback());
}

// The hosts the online test pings: configured ones, else those of the two addresses.
QStringList PingTargets() {
    const TMakerServices& s = MakerServices();
    QStringList hosts = s.PingHosts;
    if (hosts.isEmpty()) {
        for (const QString& url : {s.SiteUrl, s.ContactUrl}) {
            const QString host = HostOf(url);
            if (!host.isEmpty() && !hosts.contains(host)) hosts << host;
        }
    }
    return hosts.mid(0, 3);
}

// The stand-in for the system's "is offline" answer: some interface other than loopback is up.
bool NetworkInterfaceUp() {
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning) &&
            !flags.testFlag(QNetworkInterface::IsLoopBack))
            return true;
    }
    return false;
}

// One ICMP echo through a datagram ICMP socket; nullopt when the system allows no such socket.
std::optional<bool> IcmpEcho(const QHostAddress& address, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return std::nullopt;
    ScopeExit closeSocket([fd] { ::close(fd); });
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address.toIPv4Address());
    // Type 8 (echo request), no payload; the kernel fills in the identifier and the checksum.
    icmphdr request{};
    request.type = ICMP_ECHO;
    request.un.echo.sequence = htons(1);
    if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<qint64>(20, deadline.remainingTime()))) > 0) {
            unsigned char reply[128];
            const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
            if (n >= ssize_t(sizeof(icmphdr)) && reply[0] == ICMP_ECHOREPLY) return true;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return false;
}

// The host answers a TCP connection attempt to port 80 by accepting or refusing it.
bool TcpAnswer(const QHostAddress& address, int timeoutMs) {
    QTcpSocket socket;
    QEventLoop loop;
    bool answered = false;
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] {
        answered = true;
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
        answered = error == QAbstractSocket::ConnectionRefusedError;
        loop.quit();
    });
    socket.connectToHost(address, 80);
    WaitInLoop(loop, timeoutMs, [] {});
    socket.abort();
    return answered;
}

QByteArray HttpGet(const QByteArray& address, const std::optional<std::pair<QString, QString>>& login) {
    const QUrl url = QUrl::fromEncoded(InsertTimestamp(address));
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    if (login)
        request.setRawHeader("Authorization", "Basic " + (login->first + u':' + login->second).toUtf8().toBase64());
    QNetworkReply* reply = manager.get(request);
    ScopeExit freeReply([reply] { delete reply; });
    bool timedOut = false;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) WaitInLoop(loop, MakerServices().HttpTimeout, [&] {
        timedOut = true;
        reply->abort();
    });
    if (timedOut)
        throw EHttpError(0, QStringLiteral("No answer from %1 within %2 s")
                                .arg(url.toDisplayString()).arg(MakerServices().HttpTimeout / 1000.0));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        throw EHttpError(status, QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(reason));
    }
    if (reply->error() != QNetworkReply::NoError) throw EHttpError(0, reply->errorString());
    return reply->readAll();
}

void ShowTextBox(const QString& text) {
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

// The published checksum is the first word of the file, as sha256sum writes it.
bool ChecksumMatches(const QByteArray& body, const QByteArray& published) {
    const QByteArray expected = published.simplified().split(' ').value(0).toLower();
    return expected.size() == 64 && QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() == expected;
}

QString ProgramFolder() {
    const QString folder = MakerServices().ProgramFolder;
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

}  // namespace

TMakerServices LoadMakerServices() {
    TMakerServices s;
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vornesk"),
                       QStringLiteral("Calvoro"));
    settings.beginGroup(QStringLiteral("Services"));
    s.SiteUrl = qEnvironmentVariable("CALVORO_MAKER_URL", settings.value(QStringLiteral("SiteUrl")).toString());
    s.ContactUrl = qEnvironmentVariable("CALVORO_CONTACT_URL", settings.value(QStringLiteral("ContactUrl")).toString());
    const QString hosts =
        qEnvironmentVariable("CALVORO_PING_HOSTS", settings.value(QStringLiteral("PingHosts")).toString());
    s.SiteUrl = WithoutTrailingSlash(s.SiteUrl.trimmed());
    s.ContactUrl = WithoutTrailingSlash(s.ContactUrl.trimmed());
    s.PingHosts = hosts.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    return s;
}

TMakerServices& MakerServices() {
    static TMakerServices services = LoadMakerServices();
    return services;
}

QString MakerSiteUrl() { return WithoutTrailingSlash(MakerServices().SiteUrl); }

QString SiteHostName() {
    const QString host = HostOf(MakerServices().SiteUrl);
    return host.isEmpty() ? QStringLiteral("Vornesk") : host;
}

QString ContactHostName() {
    const QString host = HostOf(MakerServices().ContactUrl);
    return host.isEmpty() ? QStringLiteral("Vornesk") : host;
}

QByteArray InsertTimestamp(const QByteArray& address, QTime time) {
    static const QByteArray marker = "<timestamp>";
    const QByteArray stamp = QByteArray::number(363LL * 86400 + time.msecsSinceStartOfDay() / 1000);
    QByteArray result;
    const QByteArray lower = address.toLower();
    qsizetype from = 0;
    for (qsizetype at; (at = lower.indexOf(marker, from)) >= 0; from = at + marker.size())
        result += address.mid(from, at - from) + stamp;
    return result + address.mid(from);
}

QHostAddress GetHostAddress(const QString& hostName) {
    const QHostAddress none(quint32(0));
    const QHostAddress literal(hostName);
    if (!literal.isNull()) return literal.protocol() == QAbstractSocket::IPv4Protocol ? literal : none;
    QEventLoop loop;
    QHostAddress found = none;
    const int id = QHostInfo::lookupHost(hostName, &loop, [&](const QHostInfo& info) {
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                found = a;
                break;
            }
        }
        loop.quit();
    });
    WaitInLoop(loop, MakerServices().PingTimeout, [id] { QHostInfo::abortHostLookup(id); });
    return found;
}

bool PingHost(const QString& hostName) {
    QElapsedTimer clock;
    clock.start();
    const QHostAddress address = GetHostAddress(hostName);
    if (address == QHostAddress(quint32(0))) return false;
    const int left = std::max<int>(1, MakerServices().PingTimeout - int(clock.elapsed()));
    if (std::optional<bool> echo = IcmpEcho(address, left)) return *echo;
    return TcpAnswer(address, left);
}

bool IsOnline() {
    const QStringList hosts = PingTargets();
    if (hosts.isEmpty()) return false;
    if (!NetworkInterfaceUp() && !std::all_of(hosts.begin(), hosts.end(), IsLoopback)) return false;
    try {
        for (const QString& host : hosts)
            if (PingHost(host)) return true;
    } catch (const std::exception&) {
        // A ping that fails outright says no more than one that is not answered.
        return false;
    }
    return false;
}

QString HttpGetText(const QByteArray& address, const QString& userName, const QString& password) {
    return QString::fromUtf8(HttpGet(address, std::pair(userName, password)));
}

void RemoveUpdaterLeftover() {
    // Failing to remove it does not matter: the next update replaces it.
    QFile::remove(QDir(ProgramFolder()).filePath(QString::fromLatin1(UpdaterFileName)));
}

void RunUpdater(const QByteArray& address) {
    QByteArray name = address.mid(address.lastIndexOf('/') + 1);
    if (const qsizetype query = name.indexOf('?'); query >= 0) name.truncate(query);
    const QString folder = ProgramFolder();
    const QString target = QDir(folder).filePath(QString::fromLatin1(name));
    const QFileInfo info(target);
    const QString backup = info.dir().filePath(
        (info.suffix().isEmpty() ? info.fileName() : info.completeBaseName()) + QStringLiteral(".BAK"));

    if (QFile::exists(backup)) QFile::remove(backup);
    Pause50ms();
    QFile::rename(target, backup);
    Pause50ms();
    // Whatever stops the update short of starting a trusted updater puts the previous one back.
    ScopeExit restore([&] {
        if (!QFile::exists(target)) QFile::rename(backup, target);
    });

    QByteArray body;
    try {
        body = HttpGet(address, std::nullopt);
    } catch (const EHttpError& e) {
        if (e.StatusCode() != 404) throw;
        restore.Dismiss();
        SendContactRequest(QStringLiteral("UpdateError"), QString::fromLatin1(address),
                           QStringLiteral("Updater missing"), false);
        return;
    }
    // The updater runs with the user's rights: only the file the maker vouches for is started.
    const QByteArray checksumAddress = address + ".sha256";
    QByteArray published;
    try {
        published = HttpGet(checksumAddress, std::nullopt);
    } catch (const EHttpError& e) {
        throw Exception(QStringLiteral("The updater was not started: its checksum could not be read from %1 (%2)")
                            .arg(QString::fromLatin1(checksumAddress), e.Message()));
    }
    if (!ChecksumMatches(body, published))
        throw Exception(QStringLiteral("The updater was not started: its SHA-256 checksum differs from the one "
                                       "published at %1")
                            .arg(QString::fromLatin1(checksumAddress)));

    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(body) != body.size() ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                             QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther)) {
        const QString why = file.errorString();
        file.remove();
        throw Exception(QStringLiteral("Cannot write the updater %1: %2").arg(target, why));
    }
    file.close();
    Pause50ms();
    restore.Dismiss();
    QFile::remove(backup);
    if (!QProcess::startDetached(target, {}, folder))
        throw Exception(QStringLiteral("Cannot start the updater %1").arg(target));
    if (MakerServices().Terminate)
        MakerServices().Terminate();
    else
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void SendContactRequest(const QString& type, const QString& content, const QString& email, bool showResponse) {
    const QString base = MakerServices().ContactUrl;
    if (base.isEmpty()) {
        if (showResponse) throw Exception(QStringLiteral("No contact service is configured"));
        return;
    }
    const AppIdentity& id = Identity();
    const QByteArray address = base.toLatin1() + "/controlcenter/contact_vornesk.php?application=" +
                               FormEncode(AnsiToUnicode(id.AppName)) + "&version=" + FormEncode(id.AppVersion) +
                               "&type=" + FormEncode(type) + "&content=" + FormEncode(content) +
                               "&email=" + FormEncode(email) + "&appcode=" + FormEncode(AnsiToUnicode(id.AppCode));
    const QString response = HttpGetText(address, QStringLiteral("admin"), QStringLiteral("739152"));
    if (showResponse) ShowTextBox(response);
}

QByteArray FormEncode(const QString& text) {
    static const char hex[] = "0123456789abcdef";
    QByteArray out;
    for (const char c : UnicodeToAnsi(text)) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            (b != 0 && std::strchr("*@._-$!'()", c))) {
            out += c;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

void ShowOfflineError() {
    ShowErrorBox(QStringLiteral("Internet connection failed!\nPlease check your internet connection!"));
}

}  // namespace calvoro::app
