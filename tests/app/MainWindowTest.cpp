#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/TessrinUnit.h"
#include "app/VorneskUtils.h"
#include "common/ScopeGuard.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro::app;

namespace {

// Lets the event queue run empty once, which is when the idle check runs.
void RunUntilIdle() {
    QEventLoop loop;
    QTimer::singleShot(30, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename T>
T* Find(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

}  // namespace

TEST(MainWindow, CaptionSizeAndControlsAtStart) {
    auto program = CreateProgram();
    TTessrinForm* form = program->MainForm.get();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tessrin"));
    EXPECT_EQ(form->minimumSize(), QSize(950, 755));
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);

    form->show();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("MySQL Calvoro v.1.1.35"));
    EXPECT_EQ(Identity().AppName, QByteArray("MySQL Calvoro"));
    EXPECT_EQ(Identity().AppCode, QByteArray("freeware"));
    EXPECT_TRUE(Identity().VersionUrl.endsWith("/downloads/calvoro/version.txt?ts=<timestamp>"));
    EXPECT_TRUE(Identity().ContactInfoUrl.endsWith("/downloads/calvoro/contactus.txt?ts="));

    EXPECT_EQ(Find<QLabel>(form, "TntLabel2")->text(), QStringLiteral("MySQL database:"));
    EXPECT_FALSE(Find<QToolButton>(form, "spbtnConnect")->isEnabled());
    EXPECT_EQ(Find<QToolButton>(form, "spbtnConnect")->toolTip(),
              QStringLiteral("Connect to selected database"));
    EXPECT_FALSE(Find<QToolButton>(form, "spbtnReloadDBobjects")->isEnabled());
    EXPECT_EQ(Find<QToolButton>(form, "spbtnReloadDBobjects")->toolTip(),
              QStringLiteral("Reload DB objects"));
    // The two icon buttons have names a screen reader says.
    const std::pair<const char*, const char*> named[] = {
        {"spbtnConnect", "Connect to selected database"},
        {"spbtnReloadDBobjects", "Reload database objects"},
    };
    for (auto [name, spoken] : named) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(Find<QToolButton>(form, name));
        ASSERT_NE(accessible, nullptr) << name;
        EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromLatin1(spoken)) << name;
    }
    const std::pair<const char*, const char*> buttons[] = {
        {"spbtnAbout", "About"},
        {"spbtnContactUs", "Contact Us"},
        {"spbtnExit", "Exit"},
        {"btnConnectToServer", "Connect to MySQL server"},
    };
    for (auto [name, caption] : buttons) {
        auto* b = Find<QPushButton>(form, name);
        EXPECT_EQ(b->text(), QString::fromLatin1(caption));
        EXPECT_TRUE(b->isEnabled()) << name;
    }
    EXPECT_EQ(Find<QPushButton>(form, "TntBitBtn2")->text(), QStringLiteral("Create Database"));
    EXPECT_EQ(Find<QLabel>(form, "TntLabel18")->text(),
              QStringLiteral("This operations cannot be Undone and it can cause data lost"));
}

TEST(MainWindow, TabsAndTheIdleCheck) {
    auto program = CreateProgram();
    TTessrinForm* form = program->MainForm.get();
    form->show();
    QTabWidget* tabs = Find<QTabWidget>(form, "TntPageControl1");
    const char* captions[] = {"  Database  ", "  Backup/Restore  ", "  Execute a script  ",
                              "  View Data  ", "  Custom query  ", "  Server  "};
    ASSERT_EQ(tabs->count(), 6);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tabs->tabText(i), QString::fromLatin1(captions[i]));
        EXPECT_EQ(tabs->widget(i)->objectName(), QStringLiteral("TntTabSheet%1").arg(i + 1));
    }
    EXPECT_EQ(tabs->tabText(5), QString::fromLatin1(captions[5]));
    EXPECT_EQ(tabs->widget(5)->objectName(), QStringLiteral("ServerTab"));
    EXPECT_EQ(tabs->currentIndex(), 0);

    // Nothing is connected: the first idle moment hides tabs 2 to 6 and disables the selector.
    QComboBox* databases = Find<QComboBox>(form, "cbxDataBases");
    databases->addItems({QStringLiteral("a"), QStringLiteral("b")});
    databases->setCurrentIndex(1);
    databases->setEnabled(true);
    Find<QPushButton>(form, "TntBitBtn2")->setEnabled(true);
    RunUntilIdle();
    EXPECT_TRUE(tabs->isTabVisible(0));
    for (int i = 1; i < 6; ++i) EXPECT_FALSE(tabs->isTabVisible(i)) << i;
    EXPECT_EQ(databases->currentIndex(), -1);
    EXPECT_FALSE(databases->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(form, "TntBitBtn2")->isEnabled());

    // Without the idle hook the check does not run (reconnects remove it for their duration).
    program->Data->RemoveIdleHook();
    tabs->setTabVisible(2, true);
    RunUntilIdle();
    EXPECT_TRUE(tabs->isTabVisible(2));
    program->Data->InstallIdleHook();
    RunUntilIdle();
    EXPECT_FALSE(tabs->isTabVisible(2));
}

TEST(MainWindow, FormShowRemovesTheUpdaterLeftNextToTheProgramOnly) {
    // The program's folder (configured, as the update writes there) and another working
    // folder, each holding a file of the updater's name.
    QTemporaryDir programDir, workDir;
    ASSERT_TRUE(programDir.isValid() && workDir.isValid());
    TMakerServices& services = MakerServices();
    const TMakerServices saved = services;
    const QString old = QDir::currentPath();
    calvoro::ScopeExit restore([&] {
        QDir::setCurrent(old);
        services = saved;
    });
    services.ProgramFolder = programDir.path();
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));
    const QString leftover = QDir(programDir.path()).filePath(QStringLiteral("CalvoroUpdate"));
    const QString unrelated = QDir(workDir.path()).filePath(QStringLiteral("CalvoroUpdate"));
    for (const QString& path : {leftover, unrelated}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    }
    auto program = CreateProgram();
    EXPECT_TRUE(QFile::exists(leftover));
    program->MainForm->show();
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(unrelated));
}
