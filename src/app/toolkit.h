#pragma once
// Functions shared by the application's windows.

#include <QString>

#include <exception>
#include <utility>

namespace calvoro::app {

// The name in backticks when `quote` is set, it is not empty and neither its first nor its last
// character is a backtick; otherwise unchanged. Backticks inside are not doubled.
QString QuoteName(const QString& name, bool quote);

// Yes/no question captioned with the application title; true on Yes.
bool Confirm(const QString& message);

// The text of an error box: the message with a full stop appended when its last character
// sorts after ".".
QString ErrorBoxText(const QString& message);
// The error box itself: application title as caption, error icon, modal.
void ShowErrorBox(const QString& message);

// What happens to an error that leaves an event handler: a silent abort shows nothing, any
// other error shows its message in the error box.
void HandleException(const std::exception& e);

// Wraps an event handler so that its errors end in HandleException right where they leave the
// handler, before they could unwind through the GUI toolkit's own frames:
//   connect(button, &QPushButton::clicked, this, Guarded([this] { btnSaveClick(); }));
template <typename F>
auto Guarded(F handler) {
    return [handler = std::move(handler)]() {
        try {
            handler();
        } catch (const std::exception& e) {
            HandleException(e);
        }
    };
}

}  // namespace calvoro::app
