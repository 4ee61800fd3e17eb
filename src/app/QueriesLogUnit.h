#pragma once
// The queries log: every query of the custom query tab's history, oldest first, each under a
// numbered separator line.

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace calvoro::app {

class TQueriesLogForm : public QDialog {
    Q_OBJECT
public:
    explicit TQueriesLogForm(QWidget* parent = nullptr);

    // The text the window shows for a history.
    static QString LogText(const QStringList& queries);

    QPlainTextEdit* TntMemoQueriesList;
};

}  // namespace calvoro::app
