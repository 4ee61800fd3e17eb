// The maker's services against a web site of the test's own on 127.0.0.1: About and its
// update, Contact and its messages, the time-out, and the behaviour with nothing configured;
// the address helpers as tables; the splash window.
#include "app/AboutUnit.h"
#include "app/Calvoro.h"
#include "app/SplashScrUnit.h"
#include "app/TessrinUnit.h"
#include "app/VorneskUtils.h"
#include "app/contactform.h"
#include "app/support/AppSession.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::TMessageBoxes;

namespace {

// A web site on 127.0.0.1: pages by path, every request kept; Silent accepts and never answers.
class TLocalSite {
public:
    struct TPage {
        int Status = 200;
        QByteArray Body;
    };
    struct TRequest {
        QByteArray Target;  // path and query as received
        QByteArray Authorization;
    };

    TLocalSite() {
        EXPECT_TRUE(FServer.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = FServer.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(FServer.serverPort()); }
    QList<QByteArray> Targets() const {
        QList<QByteArray> targets;
        for (const TRequest& r : Requests) targets << r.Target;
        return targets;
    }

    QMap<QByteArray, TPage> Pages;
    bool Silent = false;
    QList<TRequest> Requests;

private:
    void Serve(QTcpSocket* socket) {
        QByteArray& head = FPending[socket];
        head += socket->readAll();
        if (!head.contains("\r\n\r\n")) return;
        const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
        TRequest request{lines.value(0).split(' ').value(1), {}};
        for (const QByteArray& line : lines)
            if (line.toLower().startsWith("authorization:")) request.Authorization = line.mid(14).trimmed();
        FPending.remove(socket);
        Requests << request;
        if (Silent) return;
        const QByteArray path = request.Target.split('?').value(0);
        const TPage page = Pages.value(path, TPage{404, "not here"});
        socket->write("HTTP/1.1 " + QByteArray::number(page.Status) + (page.Status == 200 ? " OK" : " Not Found") +
                      "\r\nContent-Length: " + QByteArray::number(page.Body.size()) +
                      "\r\nConnection: close\r\n\r\n" + page.Body);
        socket->disconnectFromHost();
    }

    QTcpServer FServer;
    QMap<QTcpSocket*, QByteArray> FPending;
};

// The configuration in use for one test, and none again afterwards.
class TServices {
public:
    explicit TServices(const TMakerServices& s) { MakerServices() = s; }
    ~TServices() { MakerServices() = TMakerServices{}; }
};

// The program's windows with the identity filled, as after start-up.
std::unique_ptr<Program> ShownProgram() {
    auto program = CreateProgram();
    program->MainForm->show();
    return program;
}

// Shows the Contact window and lets its activation (message cleared, text fetched) run; the
// requests it made are forgotten.
void ShowContact(Tcontactmessage& contact);
const QByteArray Contact = "/controlcenter/contact_vornesk.php";

// The test's web site configured as the web site and contact service.
class MakerServicesTest : public ::testing::Test {
protected:
    MakerServicesTest() : FServices([this] {
        TMakerServices s;
        s.SiteUrl = Site.Url();
        s.ContactUrl = Site.Url();
        s.ProgramFolder = Folder.path();
        s.Terminate = [this] { ++Terminated; };
        return s;
    }()) {
        Site.Pages["/downloads/calvoro/calvoro.txt"] = {200, "Calvoro, a tool for MySQL"};
        Site.Pages["/downloads/calvoro/contactus.txt"] = {200, "Write to us"};
        Site.Pages[Contact] = {200, "Thank you"};
        App = ShownProgram();
    }

    // Types the contact requests received, in order.
    QList<QByteArray> ContactTypes() const {
        QList<QByteArray> types;
        for (const QByteArray& t : Site.Targets())
            if (t.startsWith(Contact)) types << t.mid(t.indexOf("&type=") + 6).split('&').value(0);
        return types;
    }

    void Shown(Tcontactmessage& contact) {
        ShowContact(contact);
        Site.Requests.clear();
    }

    TLocalSite Site;
    QTemporaryDir Folder;
    int Terminated = 0;
    TServices FServices;
    std::unique_ptr<Program> App;
};

void ShowContact(Tcontactmessage& contact) {
    contact.show();
    QTest::qWait(50);
}

TEST(MakerServices, FormEncode) {
    const std::pair<QString, QByteArray> cases[] = {
        {QString(), QByteArray()},
        {QStringLiteral("a b&c"), "a+b%26c"},
        {QStringLiteral("AZaz09*@._-$!'()"), "AZaz09*@._-$!'()"},
        {QStringLiteral("x=1/2?#%+~"), "x%3d1%2f2%3f%23%25%2b%7e"},
        {QStringLiteral("line\r\nend\t"), "line%0d%0aend%09"},
        // The 8-bit code page: letters it has become their byte, others "?".
        {QStringLiteral("Grüße €"), "Gr%fc%dfe+%80"},
        {QStringLiteral("日本"), "%3f%3f"},
    };
    for (const auto& [text, encoded] : cases) EXPECT_EQ(FormEncode(text), encoded) << text.toStdString();
}

TEST(MakerServices, InsertTimestamp) {
    const qint64 day0 = 363LL * 86400;  // 31363200
    const struct {
        const char* address;
        QTime time;
        QByteArray expected;
    } cases[] = {
        {"http://h/v.txt?ts=<timestamp>", QTime(0, 0, 0), "http://h/v.txt?ts=" + QByteArray::number(day0)},
        {"http://h/v.txt?ts=<TimeStamp>", QTime(12, 34, 56, 999),
         "http://h/v.txt?ts=" + QByteArray::number(day0 + 12 * 3600 + 34 * 60 + 56)},
        {"<timestamp>/<TIMESTAMP>", QTime(23, 59, 59),
         QByteArray::number(day0 + 86399) + "/" + QByteArray::number(day0 + 86399)},
        {"http://h/contactus.txt?ts=", QTime(1, 0, 0), "http://h/contactus.txt?ts="},
        {"<timestamp", QTime(1, 0, 0), "<timestamp"},
    };
    for (const auto& c : cases) EXPECT_EQ(InsertTimestamp(c.address, c.time), c.expected) << c.address;
}

TEST(MakerServices, AddressesFromTheSettingsAndTheEnvironment) {
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vornesk"),
                           QStringLiteral("Calvoro"));
        settings.setValue(QStringLiteral("Services/SiteUrl"), QStringLiteral("http://127.0.0.2/"));
        settings.setValue(QStringLiteral("Services/ContactUrl"), QStringLiteral(" http://127.0.0.3:81 "));
        settings.setValue(QStringLiteral("Services/PingHosts"), QStringLiteral("127.0.0.4, 127.0.0.5 ,127.0.0.6"));
    }
    TMakerServices s = LoadMakerServices();
    EXPECT_EQ(s.SiteUrl, QStringLiteral("http://127.0.0.2"));
    EXPECT_EQ(s.ContactUrl, QStringLiteral("http://127.0.0.3:81"));
    EXPECT_EQ(s.PingHosts, (QStringList{"127.0.0.4", "127.0.0.5", "127.0.0.6"}));
    EXPECT_EQ(s.HttpTimeout, 10000);
    EXPECT_EQ(s.PingTimeout, 1000);

    // The environment wins, also when it empties a value.
    qputenv("CALVORO_MAKER_URL", "http://127.0.0.9:8080//");
    qputenv("CALVORO_PING_HOSTS", "");
    s = LoadMakerServices();
    EXPECT_EQ(s.SiteUrl, QStringLiteral("http://127.0.0.9:8080"));
    EXPECT_EQ(s.ContactUrl, QStringLiteral("http://127.0.0.3:81"));
    EXPECT_TRUE(s.PingHosts.isEmpty());
    qunsetenv("CALVORO_MAKER_URL");
    qunsetenv("CALVORO_PING_HOSTS");
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vornesk"), QStringLiteral("Calvoro"))
        .remove(QString());
}

// Nothing configured: nothing is contacted, About and Contact say so, Update and Send show the
// error dialog.
TEST(MakerServices, NothingConfiguredCountsAsOffline) {
    TServices none(TMakerServices{});
    auto program = ShownProgram();
    EXPECT_FALSE(IsOnline());

    // About through the main window's button, as the user opens it.
    TAboutForm& about = *program->AboutForm;
    {
        TMessageBoxes boxes;
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (about.isVisible() && (about.RichEdit1->toPlainText().startsWith(u'<') || clock.elapsed() > 3000))
                about.BitBtn2->click();
        });
        poll.start(10);
        program->MainForm->spbtnAbout->click();
        EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(u'|').toStdString();
    }
    EXPECT_EQ(about.RichEdit1->toPlainText(), QStringLiteral("<Could not contact Vornesk site>"));
    EXPECT_FALSE(about.BitBtn38->isVisibleTo(&about));

    Tcontactmessage& contact = *program->contactmessage;
    contact.Memo1->setPlainText(QStringLiteral("left over"));
    contact.FormActivate();
    EXPECT_TRUE(contact.RichEdit1->toPlainText().startsWith(QStringLiteral("<Could not contact ")));
    EXPECT_TRUE(contact.Memo1->toPlainText().isEmpty());

    const QString offline = QStringLiteral("Internet connection failed!\nPlease check your internet connection!");
    {
        TMessageBoxes boxes;
        about.BitBtn38Click();
        EXPECT_EQ(boxes.Texts, QStringList{offline});
    }
    {
        TMessageBoxes boxes;
        ShowContact(contact);
        contact.Memo1->setPlainText(QStringLiteral("hello"));
        contact.BitBtn1->click();
        EXPECT_EQ(boxes.Texts, QStringList{offline});
        EXPECT_FALSE(contact.isVisible());
    }
}

TEST_F(MakerServicesTest, AboutOffersTheUpdateWhenThePublishedVersionDiffers) {
    const struct {
        QByteArray published;
        bool offered;
    } cases[] = {{"1.1.35", false}, {"1.2.0", true}, {"1.1.34", true}, {"1.1.35\n", true}};
    TAboutForm& about = *App->AboutForm;
    for (const auto& c : cases) {
        Site.Pages["/downloads/calvoro/version.txt"] = {200, c.published};
        about.FormActivate();
        EXPECT_EQ(about.RichEdit1->toPlainText(), QStringLiteral("Calvoro, a tool for MySQL"));
        EXPECT_EQ(about.BitBtn38->isVisibleTo(&about), c.offered) << c.published.toStdString();
        if (c.offered) {
            EXPECT_EQ(about.BitBtn38->text(), QStringLiteral("Update to version ") + QString::fromLatin1(c.published));
        }
        EXPECT_EQ(Identity().RemoteVersion, c.published);
    }
    ASSERT_EQ(Site.Requests.size(), 8);
    EXPECT_TRUE(Site.Requests[0].Target.startsWith("/downloads/calvoro/calvoro.txt?ts=3"));
    EXPECT_TRUE(Site.Requests[1].Target.startsWith("/downloads/calvoro/version.txt?ts=3"));
    EXPECT_EQ(Site.Requests[0].Authorization, QByteArray("Basic Og=="));  // ":" : empty name and password
    EXPECT_EQ(about.Label35->text(), Site.Url());
}

TEST_F(MakerServicesTest, AFailingFetchLeavesTheWaitingText) {
    Site.Pages.remove("/downloads/calvoro/calvoro.txt");
    TAboutForm& about = *App->AboutForm;
    try {
        about.FormActivate();
        ADD_FAILURE() << "no error";
    } catch (const EHttpError& e) {
        EXPECT_EQ(e.StatusCode(), 404);
        EXPECT_EQ(e.Message(), QStringLiteral("HTTP/1.1 404 Not Found"));
    }
    EXPECT_EQ(about.RichEdit1->toPlainText(), QStringLiteral("Retrieving Info ........."));
    EXPECT_FALSE(about.BitBtn38->isVisibleTo(&about));
}

TEST_F(MakerServicesTest, ContactTextAndThePlaceholder) {
    Tcontactmessage& contact = *App->contactmessage;
    contact.FormActivate();
    EXPECT_EQ(contact.RichEdit1->toPlainText(), QStringLiteral("Write to us"));
    EXPECT_EQ(Site.Targets(), QList<QByteArray>{"/downloads/calvoro/contactus.txt?ts="});
    EXPECT_EQ(contact.windowTitle(), QStringLiteral("Contact Vornesk"));
    EXPECT_EQ(contact.size(), QSize(505, 354));
    EXPECT_EQ(contact.RichEdit1->focusPolicy(), Qt::NoFocus);

    EXPECT_EQ(contact.Edit1->text(), QStringLiteral("Put your email here"));
    contact.Edit1Enter();
    EXPECT_TRUE(contact.Edit1->text().isEmpty());
    contact.Edit1Exit();
    EXPECT_EQ(contact.Edit1->text(), QStringLiteral("Put your email here"));
    contact.Edit1->setText(QStringLiteral("me@example.org"));
    contact.Edit1Enter();
    contact.Edit1Exit();
    EXPECT_EQ(contact.Edit1->text(), QStringLiteral("me@example.org"));
}

TEST_F(MakerServicesTest, SendEncodesTheMessageAndShowsTheAnswer) {
    Tcontactmessage& contact = *App->contactmessage;
    {
        // An empty message is not sent.
        TMessageBoxes boxes;
        Shown(contact);
        contact.BitBtn1->click();
        EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("You should enter a message to send")});
        EXPECT_FALSE(contact.isVisible());
        EXPECT_TRUE(Site.Requests.isEmpty());
    }
    TMessageBoxes boxes;
    Shown(contact);
    contact.Memo1->setPlainText(QStringLiteral("Grüße & a (test)!"));
    contact.Edit1->setText(QStringLiteral("me@example.org"));
    contact.BitBtn1->click();
    EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Thank you")});
    EXPECT_FALSE(contact.isVisible());
    ASSERT_EQ(Site.Requests.size(), 1);
    // Qt's URL class writes the percent codes' letters in upper case; HTTP reads both alike.
    EXPECT_EQ(Site.Requests[0].Target,
              Contact + "?application=MySQL+Calvoro&version=1.1.35&type=Comment"
                        "&content=Gr%FC%DFe+%26+a+(test)!&email=me@example.org&appcode=freeware");
    EXPECT_EQ(Site.Requests[0].Authorization, "Basic " + QByteArray("admin:739152").toBase64());
}

// The updater the site publishes: a harmless script that leaves a mark in its folder.
const QByteArray Updater = "#!/bin/sh\necho ran > \"$PWD/updater-ran\"\n";

struct TUpdaterFiles {
    QString Target, Backup, Mark;
};

TUpdaterFiles Files(const QTemporaryDir& folder) {
    return {folder.filePath(QStringLiteral("CalvoroUpdate")), folder.filePath(QStringLiteral("CalvoroUpdate.BAK")),
            folder.filePath(QStringLiteral("updater-ran"))};
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST_F(MakerServicesTest, UpdateStartsTheUpdaterWhoseChecksumMatches) {
    const TUpdaterFiles files = Files(Folder);
    Write(files.Target, "old updater");
    Site.Pages["/downloads/calvoro/CalvoroUpdate"] = {200, Updater};
    Site.Pages["/downloads/calvoro/CalvoroUpdate.sha256"] = {
        200, QCryptographicHash::hash(Updater, QCryptographicHash::Sha256).toHex().toUpper() + "  CalvoroUpdate\n"};
    App->AboutForm->BitBtn38Click();

    EXPECT_EQ(Read(files.Target), Updater);
    EXPECT_TRUE(QFileInfo(files.Target).isExecutable());
    EXPECT_FALSE(QFile::exists(files.Backup));
    EXPECT_EQ(Terminated, 1);
    EXPECT_EQ(ContactTypes(), QList<QByteArray>{"Update"});
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(files.Mark) && clock.elapsed() < 5000) QTest::qWait(20);
    EXPECT_EQ(Read(files.Mark), "ran\n");
}

TEST_F(MakerServicesTest, UpdateWithAWrongOrMissingChecksumStartsNothing) {
    const TUpdaterFiles files = Files(Folder);
    Site.Pages["/downloads/calvoro/CalvoroUpdate"] = {200, Updater};
    const struct {
        std::optional<QByteArray> published;
        const char* why;
    } cases[] = {
        {QCryptographicHash::hash("something else", QCryptographicHash::Sha256).toHex(), "differs"},
        {QByteArray("not a checksum"), "differs"},
        {std::nullopt, "could not be read"},
    };
    for (const auto& c : cases) {
        Write(files.Target, "old updater");
        if (c.published)
            Site.Pages["/downloads/calvoro/CalvoroUpdate.sha256"] = {200, *c.published};
        else
            Site.Pages.remove("/downloads/calvoro/CalvoroUpdate.sha256");
        try {
            App->AboutForm->BitBtn38Click();
            ADD_FAILURE() << c.why;
        } catch (const Exception& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("The updater was not started"))) << e.what();
            EXPECT_TRUE(e.Message().contains(QLatin1String(c.why))) << e.what();
        }
        EXPECT_EQ(Read(files.Target), "old updater");
        EXPECT_FALSE(QFile::exists(files.Backup));
    }
    QTest::qWait(200);
    EXPECT_FALSE(QFile::exists(files.Mark));
    EXPECT_EQ(Terminated, 0);
    EXPECT_TRUE(ContactTypes().isEmpty());
}

TEST_F(MakerServicesTest, AMissingUpdaterIsReportedAndTheOldOneKept) {
    const TUpdaterFiles files = Files(Folder);
    Write(files.Target, "old updater");
    Write(files.Backup, "older updater");
    App->AboutForm->BitBtn38Click();

    EXPECT_EQ(Read(files.Backup), "old updater");
    EXPECT_FALSE(QFile::exists(files.Target));
    EXPECT_EQ(Terminated, 0);
    EXPECT_EQ(ContactTypes(), (QList<QByteArray>{"UpdateError", "Update"}));
    const QByteArray report = Site.Targets().value(1);
    const QByteArray port = QByteArray::number(QUrl(Site.Url()).port());
    EXPECT_TRUE(report.contains("&content=http%3A%2F%2F127.0.0.1%3A" + port +
                                "%2Fdownloads%2Fcalvoro%2FCalvoroUpdate&email=Updater+missing&"))
        << report.toStdString();
}

TEST(MakerServices, ASiteThatNeverAnswersEndsWithinTheTimeOut) {
    TLocalSite site;
    site.Silent = true;
    TMakerServices s;
    s.SiteUrl = site.Url();
    s.HttpTimeout = 300;
    TServices services(s);
    QElapsedTimer clock;
    clock.start();
    try {
        HttpGetText(site.Url().toLatin1() + "/downloads/calvoro/version.txt", {}, {});
        ADD_FAILURE() << "no error";
    } catch (const EHttpError& e) {
        EXPECT_EQ(e.StatusCode(), 0);
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("No answer from "))) << e.what();
    }
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(site.Requests.size(), 1);
    EXPECT_EQ(TMakerServices{}.HttpTimeout, 10000);
}

// The splash closes by itself after 1.5 s, at once on a click or a key.
TEST(Splash, ClosesAfterItsTimeOrOnAClickOrAKey) {
    const struct {
        const char* how;
        std::function<void(TSplashScrForm&)> act;
        qint64 atLeast, below;
    } cases[] = {
        {"timer", [](TSplashScrForm&) {}, 1400, 3000},
        {"click", [](TSplashScrForm& s) { QTest::mouseClick(s.Image1, Qt::LeftButton); }, 0, 1000},
        {"key", [](TSplashScrForm& s) { QTest::keyClick(&s, Qt::Key_A); }, 0, 1000},
    };
    for (const auto& c : cases) {
        TSplashScrForm splash;
        EXPECT_FALSE(splash.Timer1->isActive());
        EXPECT_EQ(splash.Timer1->interval(), 1500);
        QTimer::singleShot(100, &splash, [&] { c.act(splash); });
        QTimer::singleShot(5000, &splash, &QWidget::close);  // a splash that stays fails, not hangs
        QElapsedTimer clock;
        clock.start();
        splash.exec();
        EXPECT_GE(clock.elapsed(), c.atLeast) << c.how;
        EXPECT_LT(clock.elapsed(), c.below) << c.how;
        EXPECT_FALSE(splash.Timer1->isActive()) << c.how;
        EXPECT_EQ(splash.size(), QSize(500, 350));
    }
}

TEST(Splash, ShownModallyOverTheMainWindowAtStart) {
    ShowSplashAtStart() = true;
    auto program = CreateProgram();
    QWidget* modal = nullptr;
    bool mainVisible = false;
    QTimer::singleShot(200, [&] {
        modal = QApplication::activeModalWidget();
        mainVisible = program->MainForm->isVisible();
        if (modal) QTest::keyClick(modal, Qt::Key_Space);
    });
    program->MainForm->show();
    ShowSplashAtStart() = false;
    QTest::qWait(400);
    EXPECT_EQ(modal, program->SplashScrForm.get());
    EXPECT_TRUE(mainVisible);
    EXPECT_FALSE(program->SplashScrForm->isVisible());
}

}  // namespace
