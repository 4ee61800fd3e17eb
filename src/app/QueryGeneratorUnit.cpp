#include "QueryGeneratorUnit.h"

#include "DataUnit.h"
#include "QueryGenerators.h"
#include "SynEdit.h"
#include "toolkit.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace calvoro::app {

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

TfrmQueryGenerator::TfrmQueryGenerator(TData& data, QWidget* parent) : QDialog(parent), FData(data) {
    setObjectName(QStringLiteral("frmQueryGenerator"));
    setWindowTitle(QStringLiteral("Query Generator"));
    auto* layout = new QHBoxLayout(this);

    mmoQueryGenerator = Named(new TSynEdit(this), "mmoQueryGenerator");
    mmoQueryGenerator->setAccessibleName(QStringLiteral("Generated query"));
    mmoQueryGenerator->SetHighlighter(FData.SynMySQL.get());
    layout->addWidget(mmoQueryGenerator, 1);

    auto* side = new QVBoxLayout;
    grpAction = Named(new QGroupBox(QStringLiteral("Action"), this), "grpAction");
    auto* actionLayout = new QVBoxLayout(grpAction);
    lbxAction = Named(new QListWidget(grpAction), "lbxAction");
    lbxAction->setAccessibleName(QStringLiteral("Action"));
    lbxAction->setSelectionMode(QAbstractItemView::SingleSelection);
    lbxAction->addItems({QStringLiteral("Name"), QStringLiteral("SELECT"), QStringLiteral("INSERT"),
                         QStringLiteral("UPDATE"), QStringLiteral("DELETE"), QStringLiteral("CREATE"),
                         QStringLiteral("ALTER"), QStringLiteral("DROP"), QStringLiteral("Fields List"),
                         QStringLiteral("Fields & Type")});
    actionLayout->addWidget(lbxAction);
    side->addWidget(grpAction, 1);

    cbQuoteNames = Named(new QCheckBox(QStringLiteral("Quote Names"), this), "cbQuoteNames");
    cbQuoteNames->setChecked(true);
    cbEachFieldOnNewRow = Named(new QCheckBox(QStringLiteral("New row for each field"), this), "cbEachFieldOnNewRow");
    cbEachFieldOnNewRow->setChecked(true);
    side->addWidget(cbQuoteNames);
    side->addWidget(cbEachFieldOnNewRow);

    auto* aliasRow = new QHBoxLayout;
    TntLabel1 = Named(new QLabel(QStringLiteral("&Alias"), this), "TntLabel1");
    edtAlias = Named(new QLineEdit(this), "edtAlias");
    edtAlias->setAccessibleName(QStringLiteral("Alias"));
    TntLabel1->setBuddy(edtAlias);
    aliasRow->addWidget(TntLabel1);
    aliasRow->addWidget(edtAlias, 1);
    side->addLayout(aliasRow);

    auto* buttons = new QHBoxLayout;
    TntBitBtn1 = Named(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this),
                       "TntBitBtn1");
    TntBitBtn1->setDefault(true);
    TntBitBtn2 = Named(
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this),
        "TntBitBtn2");
    buttons->addWidget(TntBitBtn1);
    buttons->addWidget(TntBitBtn2);
    side->addLayout(buttons);
    layout->addLayout(side);

    connect(TntBitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(TntBitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    const auto regenerate = Guarded([this] { lbxActionClick(); });
    connect(lbxAction, &QListWidget::itemSelectionChanged, this, regenerate);
    connect(edtAlias, &QLineEdit::textChanged, this, regenerate);
    connect(cbQuoteNames, &QCheckBox::clicked, this, regenerate);
    connect(cbEachFieldOnNewRow, &QCheckBox::clicked, this, regenerate);

    for (QWidget* control : findChildren<QWidget*>()) control->installEventFilter(this);

    setMinimumSize(560, 380);
    resize(594, 399);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TfrmQueryGenerator::~TfrmQueryGenerator() = default;

bool TfrmQueryGenerator::Run(QWidget* parent, TData& data, const QString& objectName, bool isView,
                             QString& generatedText) {
    if (data.Busy()) return false;
    TfrmQueryGenerator form(data, parent);
    form.DBObjectName = objectName;
    form.DBObjectIsView = isView;
    if (form.exec() != QDialog::Accepted) return false;
    generatedText = form.mmoQueryGenerator->Text();
    return true;
}

int TfrmQueryGenerator::SelectedAction() const {
    const QList<QListWidgetItem*> selected = lbxAction->selectedItems();
    return selected.isEmpty() ? -1 : lbxAction->row(selected.first());
}

void TfrmQueryGenerator::lbxActionClick() {
    if (FData.Busy()) return;
    const int action = SelectedAction();
    // The alias as typed: a name, or one in backticks.
    QString alias;
    if (!edtAlias->text().trimmed().isEmpty()) {
        try {
            alias = dac::ParseIdentifier(edtAlias->text());
        } catch (const EDatabaseError& e) {
            // Said where the statement would stand, while the user is still typing it.
            mmoQueryGenerator->SetText(QStringLiteral("-- ") + e.Message());
            return;
        }
    }
    const TDBObjectInfo info = ReadDBObjectInfo(FData, DBObjectName, action);
    mmoQueryGenerator->SetText(GenerateStatement(info, DBObjectName, DBObjectIsView, action, alias,
                                                 cbQuoteNames->isChecked(), cbEachFieldOnNewRow->isChecked()));
}

void TfrmQueryGenerator::FormClose() {
    // Busy means another operation owns the tools connection now; the result stays open then
    // and is recognised by its statement only, so a later reader runs its own.
    if (!FData.Busy()) FData.CustomQuery->Close();
}

void TfrmQueryGenerator::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TfrmQueryGenerator::FormKeyUp(int key) {
    if (key == Qt::Key_Escape) reject();
}

bool TfrmQueryGenerator::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) FormKeyUp(static_cast<QKeyEvent*>(event)->key());
    return QDialog::eventFilter(watched, event);
}

void TfrmQueryGenerator::keyReleaseEvent(QKeyEvent* event) {
    FormKeyUp(event->key());
    QDialog::keyReleaseEvent(event);
}

}  // namespace calvoro::app
