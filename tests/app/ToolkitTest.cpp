#include "app/Calvoro.h"
#include "app/toolkit.h"
#include "common/AppTitle.h"
#include "common/Exceptions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace calvoro;
using namespace calvoro::app;

namespace {

// Answers every modal message box that opens while it lives with `button`, recording the last.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button) {
        QObject::connect(&FTimer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            Title = box->windowTitle();
            Text = box->text();
            Icon = box->icon();
            ++Count;
            box->button(button)->click();
        });
        FTimer.start(10);
    }
    QString Title, Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    int Count = 0;

private:
    QTimer FTimer;
};

}  // namespace

TEST(Toolkit, QuoteName) {
    struct Case {
        const char* name;
        bool quote;
        const char* result;
    } cases[] = {
        {"city", true, "`city`"},
        {"city", false, "city"},
        {"", true, ""},
        // Names from the server are raw: backticks at either end are part of the name.
        {"`city`", true, "```city```"},
        {"`city", true, "```city`"},
        {"city`", true, "`city```"},
        {"`x`;DROP TABLE y;SELECT `1`", true, "```x``;DROP TABLE y;SELECT ``1```"},
        {"a`b", true, "`a``b`"},
        {"my table", true, "`my table`"},
        // Without quoting, only a name that would not read as itself is quoted.
        {"a`b", false, "`a``b`"},
        {"my table", false, "`my table`"},
        {"order", false, "`order`"},
        {"db.t", false, "`db.t`"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteName(QString::fromLatin1(c.name), c.quote), QString::fromLatin1(c.result))
            << c.name << " " << c.quote;
}

TEST(Toolkit, QuoteIdentifierAlwaysQuotes) {
    // What goes into a statement as a name: whatever was typed stays one name.
    const std::pair<const char*, const char*> cases[] = {
        {"shop", "`shop`"},
        {"my-db", "`my-db`"},
        {"`x`; DROP DATABASE y; `", "```x``; DROP DATABASE y; ```"},
        {"a`b", "`a``b`"},
    };
    for (auto [name, quoted] : cases) EXPECT_EQ(QuoteIdentifier(QString::fromLatin1(name)), QString::fromLatin1(quoted)) << name;
}

TEST(Toolkit, ErrorBoxText) {
    const std::pair<const char*, const char*> cases[] = {
        {"Access denied", "Access denied."}, {"Done.", "Done."},   {"Really?", "Really?."},
        {"What!", "What!"},                  {"(x)", "(x)"},       {"Line 3", "Line 3."},
        {"Path /", "Path /."},               {"", ""},
    };
    for (auto [message, text] : cases)
        EXPECT_EQ(ErrorBoxText(QString::fromLatin1(message)), QString::fromLatin1(text)) << message;
}

TEST(Toolkit, ErrorsLeavingAHandlerShowOneBoxAbortsNone) {
    QPushButton button(QStringLiteral("Go"));
    button.show();
    int thrown = 0;
    QObject::connect(&button, &QPushButton::clicked, Guarded([&] {
        ++thrown;
        if (thrown == 1) throw EDatabaseError(QStringLiteral("Unknown database 'x'"));
        if (thrown == 2) throw std::runtime_error("plain failure");
        Abort();
    }));

    // Clicks go through the application object, as a user's do.
    BoxAnswerer boxes(QMessageBox::Ok);
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_EQ(boxes.Count, 1);
    EXPECT_EQ(boxes.Title, ApplicationTitle());
    EXPECT_EQ(boxes.Text, QStringLiteral("Unknown database 'x'"));  // ' sorts before .
    EXPECT_EQ(boxes.Icon, QMessageBox::Critical);

    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_EQ(boxes.Count, 2);
    EXPECT_EQ(boxes.Text, QStringLiteral("plain failure."));

    QTest::mouseClick(&button, Qt::LeftButton);  // the silent abort: no box
    EXPECT_EQ(thrown, 3);
    EXPECT_EQ(boxes.Count, 2);
}

TEST(Toolkit, Confirm) {
    for (auto [answer, expected] : {std::pair{QMessageBox::Yes, true}, {QMessageBox::No, false}}) {
        BoxAnswerer boxes(answer);
        EXPECT_EQ(Confirm(QStringLiteral("Are you sure?")), expected);
        ASSERT_EQ(boxes.Count, 1);
        EXPECT_EQ(boxes.Title, ApplicationTitle());
        EXPECT_EQ(boxes.Text, QStringLiteral("Are you sure?"));
        EXPECT_EQ(boxes.Icon, QMessageBox::Question);
    }
}

TEST(Toolkit, FormatElapsed) {
    const std::pair<qint64, const char*> cases[] = {
        {40, "40ms "},
        {0, "0ms "},
        {1000, "01sec 0ms "},
        {65030, "01min 05sec 30ms "},
        {3600000, "01h 0ms "},
        {3600000 * 12 + 60000 * 3 + 999, "12h 03min 999ms "},
        {3600000LL * 123, "123h 0ms "},
    };
    for (auto [ms, text] : cases) EXPECT_EQ(FormatElapsed(ms), QString::fromLatin1(text)) << ms;
}
