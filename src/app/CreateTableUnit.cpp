#include "CreateTableUnit.h"

#include "toolkit.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyObjectStatements.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <exception>

namespace calvoro::app {

TCreateTableForm::TCreateTableForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CreateTableForm"));
    setWindowTitle(QStringLiteral("Create table -"));
    auto* layout = new QVBoxLayout(this);
    TntMemo1 = new QPlainTextEdit(this);
    TntMemo1->setObjectName(QStringLiteral("TntMemo1"));
    TntMemo1->setAccessibleName(QStringLiteral("Create table"));
    TntMemo1->setReadOnly(true);
    TntMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TntMemo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(TntMemo1, 1);
    auto* buttons = new QHBoxLayout;
    TntBitBtn1 = new QPushButton(QStringLiteral("Ok"), this);
    TntBitBtn1->setObjectName(QStringLiteral("TntBitBtn1"));
    TntBitBtn1->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(TntBitBtn1);
    layout->addLayout(buttons);
    connect(TntBitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    for (QWidget* control : {static_cast<QWidget*>(TntMemo1), static_cast<QWidget*>(TntBitBtn1)})
        control->installEventFilter(this);

    resize(509, 564);
    // Placed once: the window keeps where the user moves it.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TCreateTableForm::~TCreateTableForm() = default;

void TCreateTableForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    try {
        FormShow();
    } catch (const std::exception&) {
        // Reported once the window is gone, so that the box does not open inside the show.
        QMetaObject::invokeMethod(
            this,
            [this, error = std::current_exception()] {
                reject();
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    HandleException(e);
                }
            },
            Qt::QueuedConnection);
    }
}

void TCreateTableForm::FormShow() {
    setWindowTitle(QStringLiteral("Create table - ") + TableName);
    TntMemo1->clear();
    dac::TMyQuery query;
    query.SetConnection(FConnection);
    query.SQL().SetText(dac::ShowCreateTableStatement(TableName));
    query.Execute();
    // Table, Create Table (or View, Create View, and the character sets of a view).
    if (query.Active() && !query.IsEmpty() && query.FieldCount() > 1) TntMemo1->setPlainText(query.Fields()[1].AsString());
}

void TCreateTableForm::FormKeyUp(int key) {
    if (key == Qt::Key_Escape) close();
}

bool TCreateTableForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) FormKeyUp(static_cast<QKeyEvent*>(event)->key());
    return QDialog::eventFilter(watched, event);
}

void TCreateTableForm::keyReleaseEvent(QKeyEvent* event) {
    FormKeyUp(event->key());
    QDialog::keyReleaseEvent(event);
}

}  // namespace calvoro::app
