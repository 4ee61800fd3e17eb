#pragma once
// The About window: the maker's product text, the newest published version and, when it
// differs from this one, the update.

#include <QDialog>

class QLabel;
class QPushButton;
class QTextEdit;

namespace calvoro::app {

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // Caption "About", fixed client area 592 x 296.
    explicit TAboutForm(QWidget* parent = nullptr);

    QTextEdit* RichEdit1;   // product text or failure text
    QLabel* Label35;        // the maker's web address, a link
    QPushButton* BitBtn38;  // "Update to version ..."; hidden until an update is offered
    QPushButton* BitBtn2;   // "Exit"

public slots:
    // Each showing: online test, product text, published version; raises fetch errors.
    void FormActivate();
    void BitBtn38Click();
    void Label35Click();
    void Label35MouseEnter();
    void Label35MouseLeave();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace calvoro::app
