#pragma once
// The Contact window: a text from the maker, and the user's message sent to the maker's
// contact service.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

namespace calvoro::app {

class Tcontactmessage : public QDialog {
    Q_OBJECT
public:
    // Caption "Contact Vornesk", fixed client area 505 x 354, centred on the screen.
    explicit Tcontactmessage(QWidget* parent = nullptr);

    QLabel* Label1;          // "email:"
    QLineEdit* Edit1;        // starts with the placeholder text
    QLabel* Label3;          // "Optional if you want to receive a reply"
    QLabel* Label2;          // "Your Message"
    QPlainTextEdit* Memo1;   // the message
    QPushButton* BitBtn1;    // "Send"
    QPushButton* BitBtn2;    // "Exit"
    QTextEdit* RichEdit1;    // contact text or failure text
    QLabel* Image1;          // the maker's logo

    static constexpr const char* EmailPlaceholder = "Put your email here";

public slots:
    // Each showing: the message cleared, the contact text fetched; raises fetch errors.
    void FormActivate();
    // Sends the message (or says why not); the window closes in every case.
    void BitBtn1Click();
    void BitBtn2Click();
    void Edit1Enter();
    void Edit1Exit();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace calvoro::app
