// The login dialog against the test server, offscreen, its settings in a temporary folder:
// what the form shows and what a login stores (never the password), the server history, the
// attempts and the focus after failures, cancel, the two lists, the port check, the rows; and
// the SQL-wait cursor hooks of the data-access layer.

#include "common/AppTitle.h"
#include "dataaccess/gui/MyConnectForm.h"
#include "dataaccess/gui/SqlWaitCursor.h"
#include "dataaccess/mysql/MyClasses.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/LocalListeners.h"
#include "support/MyTestConnection.h"
#include "support/QtPrinters.h"
#include "support/Raised.h"
#include "support/TestServer.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QFileDialog>

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <thread>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::NewConnection;
using calvoro::test::Server;

namespace {

// A name no resolver can answer: its first label is longer than DNS allows, so the lookup
// fails on this machine without a query going anywhere.
const QString NoSuchHost = QStringLiteral("calvoro-no-such-host-%1.invalid").arg(QString(50, u'x'));

QString Host() { return QString::fromStdString(Server().Host); }
QString User() { return QString::fromStdString(Server().NativeUser); }
QString Password() { return QString::fromStdString(Server().NativePassword); }

// The form's controls, found by objectName.
struct TFields {
    explicit TFields(QWidget& form)
        : lbUsername(Find<QLabel>(form, "lbUsername")), edUsername(Find<QLineEdit>(form, "edUsername")),
          lbPassword(Find<QLabel>(form, "lbPassword")), edPassword(Find<QLineEdit>(form, "edPassword")),
          lbServer(Find<QLabel>(form, "lbServer")), edServer(Find<QComboBox>(form, "edServer")),
          lbPort(Find<QLabel>(form, "lbPort")), edPort(Find<QLineEdit>(form, "edPort")),
          lbSocket(Find<QLabel>(form, "lbSocket")), edSocket(Find<QLineEdit>(form, "edSocket")),
          lbDatabase(Find<QLabel>(form, "lbDatabase")), edDatabase(Find<QComboBox>(form, "edDatabase")),
          lbTLS(Find<QLabel>(form, "lbTLS")), edTLS(Find<QComboBox>(form, "edTLS")),
          lbCAFile(Find<QLabel>(form, "lbCAFile")), edCAFile(Find<QLineEdit>(form, "edCAFile")),
          btCAFile(Find<QToolButton>(form, "btCAFile")), btConnect(Find<QPushButton>(form, "btConnect")), btCancel(Find<QPushButton>(form, "btCancel")) {}

    template <typename W>
    static W* Find(QWidget& form, const char* name) {
        W* w = form.findChild<W*>(QString::fromLatin1(name));
        if (!w) throw std::runtime_error(std::string("no control ") + name);
        return w;
    }

    // Types the five values in.
    void Fill(const QString& username, const QString& password, const QString& server, const QString& port,
              const QString& database) const {
        edUsername->setText(username);
        edPassword->setText(password);
        edServer->setEditText(server);
        edPort->setText(port);
        edDatabase->setEditText(database);
    }

    QLabel* lbUsername;
    QLineEdit* edUsername;
    QLabel* lbPassword;
    QLineEdit* edPassword;
    QLabel* lbServer;
    QComboBox* edServer;
    QLabel* lbPort;
    QLineEdit* edPort;
    QLabel* lbSocket;
    QLineEdit* edSocket;
    QLabel* lbDatabase;
    QComboBox* edDatabase;
    QLabel* lbTLS;
    QComboBox* edTLS;
    QLabel* lbCAFile;
    QLineEdit* edCAFile;
    QToolButton* btCAFile;
    QPushButton* btConnect;
    QPushButton* btCancel;
};

// An error box as it was shown, and where the form's focus was meanwhile.
struct TBoxSeen {
    QString Title, Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString Focus;
};

// The login values of a connection, for comparing them as a whole.
struct TLogin {
    QString Username, Password, Server, Database;
    int Port = 0;
    bool operator==(const TLogin&) const = default;
};

void PrintTo(const TLogin& l, std::ostream* os) {
    *os << l.Username.toStdString() << "/" << l.Password.toStdString() << "@" << l.Server.toStdString() << ":"
        << l.Port << "/" << l.Database.toStdString();
}

TLogin LoginOf(const TMyConnection& c) { return {c.Username(), c.Password(), c.Server(), c.Database(), c.Port()}; }

const QString Brindova = QStringLiteral("Brindova");
const QString Pellumar = QStringLiteral("Pellumar");

std::unique_ptr<QSettings> Settings(const QString& organisation) {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organisation,
                                       QStringLiteral("Ormadex"));
}

QString AppGroup() { return QStringLiteral("Connect/") + ApplicationTitle(); }

void WriteHistory(const QString& organisation, const QStringList& servers) {
    auto s = Settings(organisation);
    for (int n = 1; n <= servers.size(); ++n)
        s->setValue(QStringLiteral("Connect/Server %1").arg(n), servers[n - 1]);
}

// "Server 1", "Server 2", ... as stored, and the first missing number must end them.
QStringList History(const QString& organisation) {
    auto s = Settings(organisation);
    QStringList list;
    for (int n = 1; s->contains(QStringLiteral("Connect/Server %1").arg(n)); ++n)
        list << s->value(QStringLiteral("Connect/Server %1").arg(n)).toString();
    for (int n = int(list.size()) + 2; n < 10; ++n)
        EXPECT_FALSE(s->contains(QStringLiteral("Connect/Server %1").arg(n))) << "stale entry " << n;
    return list;
}

class ConnectDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_connect"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_connect_listed"));
    }

    void SetUp() override {
        // Every settings file of the test lives in a folder of its own.
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        InstallSQLWaitCursor();
        c = NewConnection();
        c->SetDatabase(QStringLiteral("calvoro_connect"));
        original = LoginOf(*c);
        dialog.SetConnection(c.get());
        boxWatcher.setInterval(10);
        QObject::connect(&boxWatcher, &QTimer::timeout, [this] { AcceptErrorBox(); });
        boxWatcher.start();
    }

    void TearDown() override {
        boxWatcher.stop();
        RemoveSQLWaitCursor();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "a wait cursor was left on";
    }

    void AcceptErrorBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        EXPECT_EQ(box->objectName(), QStringLiteral("ErrorBox"));
        QWidget* form = box->parentWidget();
        QWidget* focus = form ? form->focusWidget() : nullptr;
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), focus ? focus->objectName() : QString()});
        // The first box of a run is saved for a look when CALVORO_SCREENSHOT_DIR names a folder.
        const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
        if (!dir.isEmpty() && !QFile::exists(dir + QStringLiteral("/connect-error.png")))
            box->grab().save(dir + QStringLiteral("/connect-error.png"));
        box->button(QMessageBox::Ok)->click();
    }

    // Runs `execute` (the dialog's Execute by default) with `script` driving the form once it
    // shows. The script must close the form; one it leaves open is cancelled as a failure.
    bool Run(const std::function<void(TMyConnectForm&, TFields&)>& script,
             const std::function<bool()>& execute = nullptr) {
        bool ran = false;
        QTimer step;
        step.setSingleShot(true);
        QObject::connect(&step, &QTimer::timeout, [&] {
            ran = true;
            auto* form = qobject_cast<TMyConnectForm*>(QApplication::activeModalWidget());
            if (!form) {
                ADD_FAILURE() << "no login form shown";
                if (QWidget* other = QApplication::activeModalWidget()) other->close();
                return;
            }
            // Focus moves (and so leaving a field) need the form to be the active window.
            form->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(form));
            try {
                TFields fields(*form);
                script(*form, fields);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "the script raised: " << e.what();
            }
            if (form->isVisible()) {
                ADD_FAILURE() << "the script left the form open";
                form->reject();
            }
        });
        step.start(0);
        const bool result = execute ? execute() : dialog.Execute();
        EXPECT_TRUE(ran) << "the form never showed";
        return result;
    }

    // Cancels after looking.
    static void Cancel(TMyConnectForm&, TFields& f) { f.btCancel->click(); }

    QTemporaryDir settingsDir;
    std::unique_ptr<TMyConnection> c;
    TLogin original;
    TMyConnectDialog dialog;
    QTimer boxWatcher;
    std::vector<TBoxSeen> boxes;
};

TEST_F(ConnectDialogTest, FirstUseShowsTheConnectionAndStoresAllButThePassword) {
    const bool ok = Run([&](TMyConnectForm& form, TFields& f) {
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Connect"));
        const std::pair<QLabel*, QWidget*> rows[] = {{f.lbUsername, f.edUsername}, {f.lbPassword, f.edPassword},
                                                     {f.lbServer, f.edServer},     {f.lbPort, f.edPort},
                                                     {f.lbSocket, f.edSocket},     {f.lbDatabase, f.edDatabase},
                                                     {f.lbTLS, f.edTLS},           {f.lbCAFile, f.edCAFile}};
        const char* labels[] = {"User Name", "Password", "Server", "Port", "Socket", "Database", "TLS", "CA file"};
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(rows[i].first->text(), QString::fromLatin1(labels[i]));
            EXPECT_EQ(rows[i].first->buddy(), rows[i].second);
            EXPECT_TRUE(rows[i].second->isVisible());
        }
        EXPECT_EQ(f.btConnect->text(), QStringLiteral("Connect"));
        EXPECT_EQ(f.btCancel->text(), QStringLiteral("Cancel"));
        EXPECT_TRUE(f.btConnect->isDefault());
        EXPECT_EQ(f.edUsername->text(), original.Username);
        EXPECT_EQ(f.edPassword->text(), original.Password);
        EXPECT_EQ(f.edPassword->echoMode(), QLineEdit::Password);
        EXPECT_EQ(f.edServer->currentText(), original.Server);
        EXPECT_EQ(f.edPort->text(), QString::number(original.Port));
        EXPECT_EQ(f.edDatabase->currentText(), original.Database);
        EXPECT_EQ(f.edTLS->currentText(), QStringLiteral("PREFERRED"));
        EXPECT_EQ(f.edTLS->count(), 5);
        EXPECT_EQ(f.edCAFile->text(), QString());
        EXPECT_EQ(f.edSocket->text(), QString());
        EXPECT_EQ(f.edServer->maxVisibleItems(), 10);
        EXPECT_EQ(f.edDatabase->maxVisibleItems(), 10);
        EXPECT_EQ(form.focusWidget(), f.edUsername);
        EXPECT_TRUE(form.minimumSize() == form.maximumSize()) << "fixed size";
        EXPECT_FALSE(form.windowFlags() & (Qt::WindowContextHelpButtonHint | Qt::WindowMinimizeButtonHint));

        // Tab walks the rows, then the buttons.
        QStringList order;
        for (int i = 0; i < 11; ++i) {
            ASSERT_NE(QApplication::focusWidget(), nullptr) << "the form is not the active window";
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(order.join(u' '), QStringLiteral("edUsername edPassword edServer edPort edSocket edDatabase edTLS "
                                                   "edCAFile btCAFile btConnect btCancel"));
        f.btConnect->click();
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(c->GetConnected());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(LoginOf(*c), original);

    EXPECT_EQ(History(Brindova), QStringList{original.Server});
    auto s = Settings(Brindova);
    s->beginGroup(AppGroup());
    EXPECT_EQ(s->childKeys(), (QStringList{QStringLiteral("CAFile"), QStringLiteral("Database"), QStringLiteral("Port"),
                                           QStringLiteral("Server"), QStringLiteral("Socket"), QStringLiteral("TLS"),
                                           QStringLiteral("Username")}));
    EXPECT_EQ(s->value(QStringLiteral("Socket")).toString(), QString());
    EXPECT_EQ(s->value(QStringLiteral("TLS")).toString(), QStringLiteral("PREFERRED"));
    EXPECT_EQ(s->value(QStringLiteral("Username")).toString(), original.Username);
    EXPECT_EQ(s->value(QStringLiteral("Server")).toString(), original.Server);
    EXPECT_EQ(s->value(QStringLiteral("Port")).toInt(), original.Port);
    EXPECT_EQ(s->value(QStringLiteral("Database")).toString(), original.Database);
    s.reset();

    // No file under the settings folder holds the password.
    int files = 0;
    for (QDirIterator it(settingsDir.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_FALSE(bytes.contains(original.Password.toUtf8())) << file.fileName().toStdString();
        EXPECT_FALSE(bytes.contains(original.Password.toUtf8().toPercentEncoding())) << file.fileName().toStdString();
        ++files;
    }
    EXPECT_EQ(files, 1) << "only Brindova/Ormadex.conf";
}

TEST_F(ConnectDialogTest, StoredValuesAreReadAndTheProgramsPasswordKeptOnlyForItsUser) {
    using Values = std::map<QString, QVariant>;
    const QString other = QString::fromStdString(Server().OldUser);
    struct Case {
        const char* name;
        Values brindova, pellumar;
        bool savePassword;
        TLogin shown;  // what the form shows
    } cases[] = {
        {"all four stored, password dropped",
         {{"Username", other}, {"Server", "localhost"}, {"Port", 3307}, {"Database", "db_x"}}, {}, false,
         {other, "", "localhost", "db_x", 3307}},
        {"missing values keep the connection's; SavePassword off drops it for the same user",
         {{"Username", User()}}, {}, false, {User(), "", Host(), "calvoro_connect", original.Port}},
        {"SavePassword keeps it for the same user in other letters", {{"Username", User().toUpper()}}, {}, true,
         {User().toUpper(), Password(), Host(), "calvoro_connect", original.Port}},
        {"SavePassword drops it for another user", {{"Username", other}}, {}, true,
         {other, "", Host(), "calvoro_connect", original.Port}},
        {"read from Pellumar when Brindova has no group", {}, {{"Server", "localhost"}, {"Port", 3307}}, false,
         {User(), "", "localhost", "calvoro_connect", 3307}},
        {"Brindova's group wins as a whole", {{"Database", "from_b"}},
         {{"Database", "from_p"}, {"Server", "from_p"}}, false, {User(), "", Host(), "from_b", original.Port}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        for (const QString& organisation : {Brindova, Pellumar}) Settings(organisation)->clear();
        for (const auto& [organisation, values] : {std::pair{Brindova, k.brindova}, std::pair{Pellumar, k.pellumar}}) {
            auto s = Settings(organisation);
            for (const auto& [key, value] : values) s->setValue(AppGroup() + u'/' + key, value);
        }
        dialog.SetSavePassword(k.savePassword);
        TLogin shown, connection;
        EXPECT_FALSE(Run([&](TMyConnectForm&, TFields& f) {
            shown = {f.edUsername->text(), f.edPassword->text(), f.edServer->currentText(),
                     f.edDatabase->currentText(), f.edPort->text().toInt()};
            connection = LoginOf(*c);
            f.btCancel->click();
        }));
        EXPECT_EQ(shown, k.shown);
        EXPECT_EQ(connection, k.shown) << "the form shows the connection's values";
        // Cancelled: every value as before.
        EXPECT_EQ(LoginOf(*c), original);
        EXPECT_FALSE(c->GetConnected());
    }
}

TEST_F(ConnectDialogTest, TheTitleHookNamesTheApplicationGroup) {
    ApplicationTitleProc() = [] { return QStringLiteral("Vellum"); };
    Settings(Brindova)->setValue(QStringLiteral("Connect/Vellum/Username"), QStringLiteral("from_vellum"));
    QString shown;
    EXPECT_FALSE(Run([&](TMyConnectForm&, TFields& f) {
        shown = f.edUsername->text();
        f.btCancel->click();
    }));
    EXPECT_EQ(shown, QStringLiteral("from_vellum"));
}

TEST_F(ConnectDialogTest, ALoginPutsItsServerFirstInTheHistory) {
    struct Case {
        const char* name;
        QStringList brindova, pellumar;
        QString server;
        QStringList expected;
    } cases[] = {
        {"first login", {}, {}, Host(), {Host()}},
        {"most recent first, other spellings dropped", {"db1", "LocalHost"}, {}, "localhost", {"localhost", "db1"}},
        {"read from Pellumar, written to Brindova", {}, {"db1", "LocalHost"}, "localhost", {"localhost", "db1"}},
        {"repeated spellings leave no stale entry", {"a", Host(), "A", Host()}, {}, Host(), {Host(), "a", "A"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        for (const QString& organisation : {Brindova, Pellumar}) Settings(organisation)->clear();
        WriteHistory(Brindova, k.brindova);
        WriteHistory(Pellumar, k.pellumar);
        c->Disconnect();
        EXPECT_TRUE(Run([&](TMyConnectForm&, TFields& f) {
            f.edServer->setEditText(k.server);
            f.btConnect->click();
        }));
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(History(Brindova), k.expected);
        EXPECT_EQ(History(Pellumar), k.pellumar) << "never written";
    }
}

TEST_F(ConnectDialogTest, TheServerListShowsTheHistoryOnTheFirstDropDown) {
    struct Case {
        const char* name;
        QStringList brindova, pellumar, items;
    } cases[] = {
        {"Brindova's history", {"db1", "db2"}, {"p1"}, {"db1", "db2"}},
        {"no fallback to Pellumar", {}, {"p1"}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        for (const QString& organisation : {Brindova, Pellumar}) Settings(organisation)->clear();
        WriteHistory(Brindova, k.brindova);
        WriteHistory(Pellumar, k.pellumar);
        QStringList first, second;
        EXPECT_FALSE(Run([&](TMyConnectForm& form, TFields& f) {
            f.edServer->setEditText(QStringLiteral("typed"));
            f.edServer->showPopup();
            f.edServer->hidePopup();
            for (int i = 0; i < f.edServer->count(); ++i) first << f.edServer->itemText(i);
            EXPECT_EQ(f.edServer->currentText(), QStringLiteral("typed"));
            EXPECT_TRUE(form.ListGot());
            // Read once per showing of the form.
            WriteHistory(Brindova, {QStringLiteral("later")});
            f.edServer->showPopup();
            f.edServer->hidePopup();
            for (int i = 0; i < f.edServer->count(); ++i) second << f.edServer->itemText(i);
            f.btCancel->click();
        }));
        EXPECT_EQ(first, k.items);
        EXPECT_EQ(second, k.items);
    }
}

TEST_F(ConnectDialogTest, AFailedAttemptCountsFocusesTheCulpritAndCancelRestoresAll) {
    struct Case {
        const char* name;
        QString password, server, port;
        int raise;          // an error code BeforeConnect raises instead of logging in, or 0
        const char* text;   // in the error message
        const char* focus;  // the field that has the focus afterwards
    } cases[] = {
        {"access denied", "wrong-password", Host(), QString::number(original.Port), 0, "Access denied for user",
         "edUsername"},
        // The client reports a name it cannot resolve as 2003, like any failed connect.
        {"a name that does not resolve", Password(), NoSuchHost, QString::number(original.Port), 0,
         "Can't connect to MySQL server on 'calvoro-no-such-host-", "edDatabase"},
        // 2005 comes from other clients only; BeforeConnect raises it here.
        {"unknown host", Password(), "elsewhere", QString::number(original.Port), 2005,
         "Unknown MySQL server host 'elsewhere' (11001)", "edServer"},
        {"nothing listens", Password(), Host(), "1", 0, "Can't connect to MySQL server on '127.0.0.1'", "edDatabase"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        boxes.clear();
        c->BeforeConnect = nullptr;
        if (k.raise)
            c->BeforeConnect = [&](TCustomDAConnection*) { throw EMyError(k.raise, QString::fromLatin1(k.text)); };
        const bool ok = Run([&](TMyConnectForm& form, TFields& f) {
            f.Fill(User(), k.password, k.server, k.port, QStringLiteral("calvoro_connect_listed"));
            f.edDatabase->setFocus();
            f.btConnect->click();
            EXPECT_TRUE(form.isVisible());
            EXPECT_EQ(form.Retries(), 2);
            EXPECT_TRUE(form.Retry());
            EXPECT_EQ(form.focusWidget()->objectName(), QString::fromLatin1(k.focus));
            EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "wait cursor left on";
            f.btCancel->click();
        });
        EXPECT_FALSE(ok);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Title, ApplicationTitle());
        EXPECT_EQ(boxes[0].Icon, QMessageBox::Critical);
        EXPECT_TRUE(boxes[0].Text.contains(QString::fromLatin1(k.text))) << boxes[0].Text.toStdString();
        EXPECT_EQ(boxes[0].Focus, QString::fromLatin1(k.focus));
        EXPECT_EQ(LoginOf(*c), original);
        EXPECT_FALSE(c->GetConnected());
    }
}

// The login runs off the windows' thread: while it waits for a server that never answers, the
// form's timers keep running (and so does its painting), the wait cursor shows, the fields are
// locked, and the connect time-out ends it with the system's words. Cancel, Escape and closing
// the form end a running login at once, say nothing, use up no attempt and keep the form open
// with its values; Cancel without a login closes the form.
TEST_F(ConnectDialogTest, TheLoginRunsOffTheWindowsThreadAndCancelEndsItAtOnce) {
    const calvoro::test::TLocalListener silent(false), hole(true);
    c->SetConnectionTimeout(2);
    const bool ok = Run([&](TMyConnectForm& form, TFields& f) {
        // A timer of the windows' thread, and what it saw while a login ran.
        int ticks = 0;
        bool waitCursor = false, locked = true, cancelLive = true, painted = false;
        QTimer ticker;
        ticker.setInterval(20);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (!form.Connecting()) return;
            ++ticks;
            const QCursor* cursor = QGuiApplication::overrideCursor();
            waitCursor = waitCursor || (cursor && cursor->shape() == Qt::WaitCursor);
            locked = locked && !f.edServer->isEnabled() && !f.edSocket->isEnabled() && !f.btConnect->isEnabled();
            cancelLive = cancelLive && f.btCancel->isEnabled();
            painted = painted || !form.grab().isNull();
            // What the form looks like meanwhile, for a look when CALVORO_SCREENSHOT_DIR names a folder.
            const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
            if (ticks == 10 && !dir.isEmpty()) form.grab().save(dir + QStringLiteral("/connect-running.png"));
        });
        ticker.start();

        f.Fill(User(), Password(), Host(), QString::number(silent.Port()), QStringLiteral("calvoro_connect"));
        QElapsedTimer clock;
        clock.start();
        f.btConnect->click();
        const qint64 timedOut = clock.elapsed();
        EXPECT_GE(timedOut, 1900);
        EXPECT_LT(timedOut, 6000);
        EXPECT_GT(ticks, 20) << "the windows' thread was held";
        EXPECT_TRUE(waitCursor);
        EXPECT_TRUE(locked);
        EXPECT_TRUE(cancelLive);
        EXPECT_TRUE(painted);
        EXPECT_TRUE(f.edServer->isEnabled()) << "unlocked afterwards";
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Text, QStringLiteral("Can't connect to MySQL server on '%1' (110: Connection timed out)\r\n"
                                                "The server took the connection but did not complete the login "
                                                "within the connect time-out (2 s).")
                                     .arg(Host()));
        EXPECT_EQ(form.Retries(), 2);

        // Each way of cancelling, against a server that answers nothing and one that drops the
        // connect itself.
        c->SetConnectionTimeout(30);
        const std::pair<const char*, std::function<void()>> cancels[] = {
            {"Cancel", [&] { QTest::mouseClick(f.btCancel, Qt::LeftButton); }},
            {"Escape", [&] { QTest::keyClick(&form, Qt::Key_Escape); }},
            {"closing the form", [&] { form.close(); }},
        };
        for (const int port : {silent.Port(), hole.Port()}) {
            for (const auto& [name, cancel] : cancels) {
                SCOPED_TRACE(name);
                f.edPort->setText(QString::number(port));
                QTimer::singleShot(300, &form, cancel);
                clock.restart();
                f.btConnect->click();
                EXPECT_LT(clock.elapsed(), 2000) << "not at once";
                EXPECT_TRUE(form.isVisible());
                EXPECT_FALSE(form.Connecting());
                EXPECT_EQ(form.Retries(), 2) << "no attempt used up";
                EXPECT_EQ(f.edPort->text(), QString::number(port));
                EXPECT_EQ(f.edServer->currentText(), Host());
                EXPECT_TRUE(f.btConnect->isEnabled());
            }
        }
        EXPECT_EQ(boxes.size(), 1u) << "a cancelled login is no error";
        EXPECT_FALSE(c->GetConnected());
        f.btCancel->click();
        EXPECT_FALSE(form.isVisible());
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(LoginOf(*c), original);
}

// The Socket field: a login through the server's Unix socket (the server field does not
// matter then), remembered like the other values and shown the next time.
TEST_F(ConnectDialogTest, TheSocketFieldLogsInThroughTheServersSocket) {
    const QString socket = QString::fromStdString(Server().Socket);
    EXPECT_TRUE(Run([&](TMyConnectForm&, TFields& f) {
        EXPECT_EQ(f.lbSocket->buddy(), f.edSocket);
        f.edServer->setEditText(QStringLiteral("db.invalid"));
        f.edSocket->setText(socket);
        f.btConnect->click();
    }));
    EXPECT_TRUE(boxes.empty());
    ASSERT_TRUE(c->GetConnected());
    EXPECT_EQ(calvoro::test::FirstValue(*c, QStringLiteral("SELECT HOST FROM information_schema.PROCESSLIST WHERE ID = "
                                                           "CONNECTION_ID()")),
              QStringLiteral("localhost"));
    auto s = Settings(Brindova);
    EXPECT_EQ(s->value(AppGroup() + QStringLiteral("/Socket")).toString(), socket);
    s.reset();

    // The next time the form shows it; cancelling puts the connection's own (none) back.
    c->Disconnect();
    c->MyOptions().SetUnixSocket(QString());
    QString shown;
    EXPECT_FALSE(Run([&](TMyConnectForm&, TFields& f) {
        shown = f.edSocket->text();
        f.btCancel->click();
    }));
    EXPECT_EQ(shown, socket);
    EXPECT_EQ(c->MyOptions().UnixSocket(), QString());
}

TEST_F(ConnectDialogTest, ErrorTextsLoseTheLeadingBreakAndGainAFullStopAfterALetter) {
    struct Case {
        const char* raised;
        const char* shown;
    } cases[] = {
        {"Server is gone", "Server is gone."},
        {"Server is gone.", "Server is gone."},
        {"Server is gone (10061)", "Server is gone (10061)"},
        {"Server is gone!", "Server is gone!"},
        {"\r\nServer is gone", "Server is gone."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.raised);
        boxes.clear();
        c->BeforeConnect = [&](TCustomDAConnection*) { throw EMyError(2013, QString::fromLatin1(k.raised)); };
        EXPECT_FALSE(Run([&](TMyConnectForm&, TFields& f) {
            f.btConnect->click();
            f.btCancel->click();
        }));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Text, QString::fromLatin1(k.shown));
    }
}

TEST_F(ConnectDialogTest, TheLastFailedAttemptClosesTheForm) {
    for (const uint16_t retries : {uint16_t(3), uint16_t(1)}) {
        SCOPED_TRACE(retries);
        boxes.clear();
        dialog.SetRetries(retries);
        std::vector<int> left;
        const bool ok = Run([&](TMyConnectForm& form, TFields& f) {
            for (int attempt = 1; form.isVisible() && attempt <= 5; ++attempt) {
                f.edPassword->setText(QStringLiteral("wrong-%1").arg(attempt));
                f.btConnect->click();
                left.push_back(form.Retries());
            }
        });
        EXPECT_FALSE(ok);
        std::vector<int> expected;
        for (int n = retries - 1; n >= 0; --n) expected.push_back(n);
        EXPECT_EQ(left, expected);
        EXPECT_EQ(boxes.size(), size_t(retries)) << "the last failure is shown too";
        EXPECT_FALSE(c->GetConnected());
        EXPECT_EQ(LoginOf(*c), original);
        EXPECT_FALSE(Settings(Brindova)->contains(QStringLiteral("Connect/Server 1"))) << "nothing stored";
    }
}

TEST_F(ConnectDialogTest, TheConnectionsLoginPromptRunsTheDialog) {
    c->SetLoginPrompt(true);
    c->SetConnectDialog(&dialog);
    c->SetPassword(QStringLiteral("wrong-password"));
    // A second attempt with the right password logs in.
    Run([&](TMyConnectForm&, TFields& f) {
        f.btConnect->click();
        f.edPassword->setText(Password());
        f.btConnect->click();
    }, [&] {
        c->Connect();
        return true;
    });
    EXPECT_TRUE(c->GetConnected());
    EXPECT_EQ(boxes.size(), 1u);
    // A cancelled prompt ends the connect silently.
    c->Disconnect();
    c->SetPassword(QStringLiteral("wrong-password"));
    bool aborted = false;
    Run(Cancel, [&] {
        try {
            c->Connect();
        } catch (const EAbort&) {
            aborted = true;
        }
        return true;
    });
    EXPECT_TRUE(aborted);
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->Password(), QStringLiteral("wrong-password"));
}

TEST_F(ConnectDialogTest, TheDatabaseListIsReadWithTheValuesAppliedSoFar) {
    struct Case {
        const char* name;
        QString password;
        bool listed;       // the test's database is in the list
        const char* text;  // the error shown, or none
    } cases[] = {
        {"the server's databases", Password(), true, nullptr},
        {"a refused login is shown", "wrong-password", false, "Access denied for user"},
    };
    c->SetLoginPrompt(true);
    c->SetPassword(QStringLiteral("stale"));
    original = LoginOf(*c);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        boxes.clear();
        QStringList items;
        EXPECT_FALSE(Run([&](TMyConnectForm& form, TFields& f) {
            f.edPassword->setFocus();
            f.edPassword->setText(k.password);
            f.edDatabase->setEditText(QStringLiteral("typed"));
            f.edDatabase->setFocus();  // leaving the password field applies it
            EXPECT_EQ(c->Password(), k.password);
            f.edDatabase->showPopup();
            f.edDatabase->hidePopup();
            for (int i = 0; i < f.edDatabase->count(); ++i) items << f.edDatabase->itemText(i);
            EXPECT_EQ(f.edDatabase->currentText(), QStringLiteral("typed"));
            EXPECT_TRUE(c->LoginPrompt()) << "given back";
            EXPECT_FALSE(c->GetConnected()) << "the connection the list opened is closed again";
            EXPECT_EQ(c->Database(), QStringLiteral("typed")) << "and has its database back";
            EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
            EXPECT_EQ(form.Retries(), 3) << "no attempt counted";
            f.btCancel->click();
        }));
        EXPECT_EQ(items.contains(QStringLiteral("calvoro_connect_listed")), k.listed) << items.join(u',').toStdString();
        if (k.text) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(boxes[0].Text.contains(QString::fromLatin1(k.text))) << boxes[0].Text.toStdString();
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_EQ(LoginOf(*c), original);
    }
}

TEST_F(ConnectDialogTest, APortThatIsNoNumberIsShownAndCountsNoAttempt) {
    struct Case {
        const char* name;
        std::function<void(TFields&)> leave;
    } cases[] = {
        {"clicking Connect", [](TFields& f) { f.btConnect->click(); }},
        {"leaving the field", [](TFields& f) { f.edDatabase->setFocus(); }},
    };
    dialog.SetStoreLogInfo(false);  // a stored login would drop the password the next case needs
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        boxes.clear();
        c->Disconnect();
        EXPECT_TRUE(Run([&](TMyConnectForm& form, TFields& f) {
            f.edPort->setFocus();
            f.edPort->setText(QStringLiteral("abc"));
            k.leave(f);
            EXPECT_TRUE(form.isVisible());
            EXPECT_EQ(form.focusWidget(), f.edPort);
            EXPECT_EQ(form.Retries(), 3);
            EXPECT_FALSE(form.Retry());
            f.edPort->setText(QString::number(original.Port));
            f.btConnect->click();
        }));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Text, QStringLiteral("'abc' is not a valid integer value."));
        EXPECT_EQ(boxes[0].Focus, QStringLiteral("edPort"));
        EXPECT_TRUE(c->GetConnected());
    }
}

TEST_F(ConnectDialogTest, FocusAndRowsFollowTheValuesAndTheDialog) {
    struct Case {
        const char* name;
        QString username, password;
        bool showPort, showSocket, showDatabase;
        const char* focus;
        int rows;
    } cases[] = {
        {"user without password", User(), "", true, true, true, "edPassword", 6},
        {"user and password", User(), Password(), true, true, true, "edUsername", 6},
        {"no user", "", "", true, true, true, "edUsername", 6},
        {"no port row", User(), "", false, true, true, "edPassword", 5},
        {"no socket row", User(), "", true, false, true, "edPassword", 5},
        {"no database row", User(), "", true, true, false, "edPassword", 5},
        {"none of the three", User(), "", false, false, false, "edPassword", 3},
    };
    dialog.SetStoreLogInfo(false);
    int allRows = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        c->SetUsername(k.username);
        c->SetPassword(k.password);
        dialog.SetShowPort(k.showPort);
        dialog.SetShowSocket(k.showSocket);
        dialog.SetShowDatabase(k.showDatabase);
        EXPECT_FALSE(Run([&](TMyConnectForm& form, TFields& f) {
            EXPECT_EQ(form.focusWidget()->objectName(), QString::fromLatin1(k.focus));
            EXPECT_EQ(f.lbPort->isVisible(), k.showPort);
            EXPECT_EQ(f.edPort->isVisible(), k.showPort);
            EXPECT_EQ(f.lbSocket->isVisible(), k.showSocket);
            EXPECT_EQ(f.edSocket->isVisible(), k.showSocket);
            EXPECT_EQ(f.lbDatabase->isVisible(), k.showDatabase);
            EXPECT_EQ(f.edDatabase->isVisible(), k.showDatabase);
            // Rows one under the other, each optional row right under the last shown one.
            EXPECT_EQ(f.edPassword->y() - f.edUsername->y(), 34);
            EXPECT_EQ(f.edServer->y() - f.edPassword->y(), 34);
            const QWidget* last = f.edServer;
            for (const auto& [shown, row] : {std::pair<bool, QWidget*>{k.showPort, f.edPort}, {k.showSocket, f.edSocket},
                                             {k.showDatabase, f.edDatabase}}) {
                if (!shown) continue;
                EXPECT_EQ(row->y() - last->y(), 34) << row->objectName().toStdString();
                last = row;
            }
            EXPECT_GT(f.btConnect->y(), last->geometry().bottom());
            if (k.rows == 6 && allRows == 0) allRows = form.height();
            EXPECT_EQ(form.height(), allRows - (6 - k.rows) * 34);
            f.btCancel->click();
        }));
    }
}

TEST_F(ConnectDialogTest, TextsComeFromTheDialogAndAnyChangeMakesThemCustom) {
    EXPECT_EQ(dialog.LabelSet(), lsEnglish);
    EXPECT_EQ(dialog.Retries(), 3);
    EXPECT_TRUE(dialog.StoreLogInfo() && dialog.UseServerHistory() && dialog.NeedConnect());
    EXPECT_FALSE(dialog.SavePassword());
    dialog.SetCaption(QStringLiteral("Login"));
    EXPECT_EQ(dialog.LabelSet(), lsCustom);
    dialog.SetLabelSet(lsEnglish);
    EXPECT_EQ(dialog.Caption(), QStringLiteral("Connect"));
    dialog.SetPortLabel(QStringLiteral("TCP port"));
    EXPECT_EQ(dialog.LabelSet(), lsCustom);
    dialog.SetCaption(QStringLiteral("Login"));
    dialog.SetConnectButton(QStringLiteral("Go"));
    QStringList texts;
    EXPECT_FALSE(Run([&](TMyConnectForm& form, TFields& f) {
        texts << form.windowTitle() << f.lbPort->text() << f.btConnect->text() << f.lbUsername->text();
        f.btCancel->click();
    }));
    EXPECT_EQ(texts, (QStringList{"Login", "TCP port", "Go", "User Name"}));
}

TEST_F(ConnectDialogTest, WithoutNeedConnectOkTakesTheValuesWithoutLoggingIn) {
    dialog.SetNeedConnect(false);
    EXPECT_TRUE(Run([&](TMyConnectForm&, TFields& f) {
        f.edServer->setEditText(NoSuchHost);  // a login would fail
        f.btConnect->click();
    }));
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->Server(), NoSuchHost);
    EXPECT_EQ(History(Brindova), QStringList{NoSuchHost});
}

class TTallConnectForm : public TMyConnectForm {
public:
    using TMyConnectForm::TMyConnectForm;
    void SetConnectDialog(TMyConnectDialog* dialog) override {
        TMyConnectForm::SetConnectDialog(dialog);
        setObjectName(QStringLiteral("TallConnectForm"));
    }
};

TEST_F(ConnectDialogTest, TheDialogClassAndAMissingConnection) {
    TMyConnectDialog::RegisterFormClass(QStringLiteral("TTallConnectForm"), [](QWidget* parent) {
        return std::make_unique<TTallConnectForm>(parent);
    });
    dialog.SetDialogClass(QStringLiteral("TTallConnectForm"));
    QString name, user;
    EXPECT_FALSE(Run([&](TMyConnectForm& form, TFields& f) {
        name = form.objectName();
        user = f.edUsername->text();
        f.btCancel->click();
    }));
    EXPECT_EQ(name, QStringLiteral("TallConnectForm"));
    EXPECT_EQ(user, original.Username);
    TMyConnectDialog::UnregisterFormClass(QStringLiteral("TTallConnectForm"));

    // An unknown class fails before any form shows; the stored values read meanwhile go.
    Settings(Brindova)->setValue(AppGroup() + QStringLiteral("/Username"), QStringLiteral("stored"));
    EDatabaseError e = test::Raised<EDatabaseError>([&] { dialog.Execute(); });
    EXPECT_EQ(e.Message(), QStringLiteral("Class TTallConnectForm not found"));
    EXPECT_EQ(LoginOf(*c), original);

    TMyConnectDialog alone;
    e = test::Raised<EDatabaseError>([&] { alone.Execute(); });
    EXPECT_EQ(e.Message(), QStringLiteral("Connection is not defined"));
}

TEST_F(ConnectDialogTest, AScreenshotShowsEveryControlInside) {
    // Also saved for a look when CALVORO_SCREENSHOT_DIR names a folder.
    for (const bool showPort : {true, false}) {
        dialog.SetShowPort(showPort);
        c->SetPassword(QString());
        EXPECT_FALSE(Run([&](TMyConnectForm& form, TFields& f) {
            const QImage image = form.grab().toImage();
            EXPECT_EQ(image.size(), form.size() * image.devicePixelRatio());
            const QRect inside = form.rect();
            for (QWidget* w : std::initializer_list<QWidget*>{f.lbUsername, f.edUsername, f.lbPassword, f.edPassword,
                                                              f.lbServer, f.edServer, f.lbPort, f.edPort,
                                                              f.lbDatabase, f.edDatabase, f.lbTLS, f.edTLS,
                                                              f.lbCAFile, f.edCAFile, f.btCAFile, f.btConnect,
                                                              f.btCancel}) {
                if (w->isHidden()) continue;
                EXPECT_TRUE(inside.contains(w->geometry())) << w->objectName().toStdString();
                EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
            }
            EXPECT_LT(f.lbUsername->geometry().right(), f.edUsername->x());
            EXPECT_LT(f.btConnect->geometry().right(), f.btCancel->x());
            // The browse button ends where the other fields end, beside the CA file.
            EXPECT_EQ(f.btCAFile->geometry().right(), f.edTLS->geometry().right());
            EXPECT_LT(f.edCAFile->geometry().right(), f.btCAFile->x());
            EXPECT_EQ(f.btCAFile->y(), f.edCAFile->y());
            const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
            if (!dir.isEmpty()) {
                EXPECT_TRUE(image.save(dir + (showPort ? QStringLiteral("/connect.png")
                                                       : QStringLiteral("/connect-noport.png"))));
            }
            f.btCancel->click();
        }));
    }
}

// The TLS row: the mode and the CA file (typed or browsed) go into the connection, a login
// over TLS stores both with the other values and the next form shows them; a CA that did
// not issue the server's certificate is refused with the reason and the mode.
TEST_F(ConnectDialogTest, TheTlsRowConnectsSecurelyAndIsRemembered) {
    const QString ca = QString::fromStdString(Server().TlsCA);
    const QString otherCa = QString::fromStdString(Server().TlsOtherCA);
    EXPECT_FALSE(Run([&](TMyConnectForm&, TFields& f) {
        f.edTLS->setCurrentIndex(f.edTLS->findText(QStringLiteral("VERIFY_CA")));
        f.edCAFile->setText(otherCa);
        f.btConnect->click();
        f.btCancel->click();
    }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].Text.startsWith(QStringLiteral("SSL connection error")) &&
                boxes[0].Text.contains(QStringLiteral("did not verify")) &&
                boxes[0].Text.contains(QStringLiteral("(ssl-mode VERIFY_CA)")))
        << boxes[0].Text.toStdString();
    EXPECT_EQ(c->SSLOptions().Mode, protocol::smPreferred) << "cancel puts the mode back";
    EXPECT_EQ(c->SSLOptions().CACert, QString());

    EXPECT_TRUE(Run([&](TMyConnectForm&, TFields& f) {
        f.edTLS->setCurrentIndex(f.edTLS->findText(QStringLiteral("VERIFY_IDENTITY")));
        // The browse button's file dialog, answered with the CA file.
        QTimer::singleShot(0, [&] {
            auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!fileDialog) {
                ADD_FAILURE() << "no file dialog";
                return;
            }
            fileDialog->selectFile(ca);
            static_cast<QDialog*>(fileDialog)->accept();
        });
        f.btCAFile->click();
        EXPECT_EQ(f.edCAFile->text(), ca);
        f.btConnect->click();
    }));
    EXPECT_EQ(boxes.size(), 1u) << "the second login shows no error";
    EXPECT_TRUE(c->GetConnected());
    EXPECT_TRUE(c->SslCipher().startsWith(QStringLiteral("TLSv1."))) << c->SslCipher().toStdString();
    EXPECT_EQ(c->SSLOptions().Mode, protocol::smVerifyIdentity);
    EXPECT_EQ(c->SSLOptions().CACert, ca);
    auto s = Settings(Brindova);
    EXPECT_EQ(s->value(AppGroup() + QStringLiteral("/TLS")).toString(), QStringLiteral("VERIFY_IDENTITY"));
    EXPECT_EQ(s->value(AppGroup() + QStringLiteral("/CAFile")).toString(), ca);
    s.reset();

    c->Disconnect();
    c->SSLOptions() = {};
    QString shownMode, shownCa;
    EXPECT_FALSE(Run([&](TMyConnectForm&, TFields& f) {
        shownMode = f.edTLS->currentText();
        shownCa = f.edCAFile->text();
        f.btCancel->click();
    }));
    EXPECT_EQ(shownMode, QStringLiteral("VERIFY_IDENTITY"));
    EXPECT_EQ(shownCa, ca);
}

// --- The SQL-wait cursor ---

class SqlWaitCursorTest : public ::testing::Test {
protected:
    void SetUp() override { InstallSQLWaitCursor(); }
    void TearDown() override {
        RemoveSQLWaitCursor();
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    }
    // The override cursor now: '-' none, 'W' wait, 'B' busy.
    static char Shape() {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        if (!cursor) return '-';
        return cursor->shape() == Qt::WaitCursor ? 'W' : cursor->shape() == Qt::BusyCursor ? 'B' : '?';
    }
};

TEST_F(SqlWaitCursorTest, StatementsAndConnectsShowItUntilTheyEnd) {
    // What the cursor was each time the layer ended a wait, before the hook ran.
    std::string during;
    int starts = 0;
    const auto start = StartWaitProc();
    const auto stop = StopWaitProc();
    StartWaitProc() = [&] {
        ++starts;
        start();
    };
    StopWaitProc() = [&] {
        during += Shape();
        stop();
    };
    auto c = NewConnection();
    c->Connect();
    c->ExecSQL(QStringLiteral("DO 1"));
    TMyQuery q;
    q.SetConnection(c.get());
    q.SQL().SetText(QStringLiteral("SELECT 1"));
    q.Open();
    EXPECT_GE(starts, 3);
    EXPECT_EQ(during, std::string(size_t(starts), 'W'));
    EXPECT_EQ(Shape(), '-');

    // A failing connect and a failing statement end it too.
    auto refused = NewConnection();
    refused->SetPassword(QStringLiteral("wrong-password"));
    EXPECT_THROW(refused->Connect(), EDAError);
    EXPECT_THROW(c->ExecSQL(QStringLiteral("SELECT * FROM no_such_table_here")), EDAError);
    EXPECT_EQ(during.size(), size_t(starts));
    EXPECT_EQ(Shape(), '-');

    // A connect that waits long for its server, while the event loop runs, keeps it to its end.
    const calvoro::test::TLocalListener silent(false);
    auto slow = NewConnection();
    slow->SetPort(silent.Port());
    slow->SetConnectionTimeout(1);
    during.clear();
    starts = 0;
    EXPECT_THROW(slow->Connect(), EDAError);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(during, "W");
    EXPECT_EQ(Shape(), '-');
}

TEST_F(SqlWaitCursorTest, StartsNestAndTheStackStaysBalanced) {
    // S start, E end, T 300 ms of events, X/Y start/end on another thread; B/W/R push a busy or
    // wait cursor of someone else, and pop it.
    struct Case {
        const char* name;
        const char* steps;
        const char* shapes;  // the cursor after each step
    } cases[] = {
        {"one wait", "SE", "W-"},
        {"nested: the outermost end counts", "SSEE", "WWW-"},
        {"someone's cursor comes back", "BSER", "BWB-"},
        {"someone's wait cursor is not pushed twice", "WSER", "WWW-"},
        {"someone's wait cursor is theirs to pop", "WSRE", "WW--"},
        {"the timer ends a wait whose end never came", "STE", "W--"},
        {"the timer leaves a wait of someone else", "WSTR", "WWW-"},
        {"other threads do nothing", "XYSYE", "--WW-"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        RemoveSQLWaitCursor();
        InstallSQLWaitCursor();
        std::string shapes;
        for (const char* step = k.steps; *step; ++step) {
            switch (*step) {
                case 'S': SQLWaitStart(); break;
                case 'E': SQLWaitEnd(); break;
                case 'T': QTest::qWait(300); break;
                case 'X': std::thread(SQLWaitStart).join(); break;
                case 'Y': std::thread(SQLWaitEnd).join(); break;
                case 'B': QGuiApplication::setOverrideCursor(Qt::BusyCursor); break;
                case 'W': QGuiApplication::setOverrideCursor(Qt::WaitCursor); break;
                case 'R': QGuiApplication::restoreOverrideCursor(); break;
            }
            shapes += Shape();
        }
        EXPECT_EQ(shapes, k.shapes);
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    }
}

TEST_F(SqlWaitCursorTest, TheTitleHookAnswersTheApplicationTitle) {
    EXPECT_EQ(DAApplicationTitle(), ApplicationTitle());
    RemoveSQLWaitCursor();
    EXPECT_FALSE(ApplicationTitleProc());
    EXPECT_FALSE(StartWaitProc());
}

}  // namespace
