#include "QueriesLogUnit.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace calvoro::app {

TQueriesLogForm::TQueriesLogForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("QueriesLogForm"));
    setWindowTitle(QStringLiteral("Queries log"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    TntMemoQueriesList = new QPlainTextEdit(this);
    TntMemoQueriesList->setObjectName(QStringLiteral("TntMemoQueriesList"));
    TntMemoQueriesList->setAccessibleName(QStringLiteral("Queries log"));
    TntMemoQueriesList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TntMemoQueriesList->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(TntMemoQueriesList);
    resize(745, 529);
}

QString TQueriesLogForm::LogText(const QStringList& queries) {
    // Each entry: an empty line, its separator, the query, an empty line.
    QStringList lines;
    for (qsizetype i = 0; i < queries.size(); ++i)
        lines << QString() << QStringLiteral("/%1 %2 %3/").arg(QString(36, u'*')).arg(i + 1).arg(QString(39, u'*'))
              << queries[i] << QString();
    return lines.join(u'\n');
}

}  // namespace calvoro::app
