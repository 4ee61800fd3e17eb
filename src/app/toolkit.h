#pragma once
// Functions shared by the application's windows.

#include <QLatin1String>
#include <QString>

#include <exception>
#include <functional>
#include <utility>

namespace calvoro::dac {
class TDataSet;
class TMyConnection;
}  // namespace calvoro::dac

namespace calvoro::app {

// A new widget (or layout) with its object name, by which tests and screen readers find it.
template <typename T, typename... Args>
T* Make(const char* name, Args&&... args) {
    T* w = new T(std::forward<Args>(args)...);
    w->setObjectName(QLatin1String(name));
    return w;
}

// A raw name (as the server lists it) for a statement: with `quote` always in backticks, those
// inside doubled; without, in backticks only where it needs them (a blank, a backtick, a
// reserved word), so that it always reads as the one name. The empty name stays empty.
QString QuoteName(const QString& name, bool quote);
// A raw name always quoted (dac::QuoteIdentifier).
QString QuoteIdentifier(const QString& name);

// Stores a pending edit of the data set (edit or insert state).
void PostIfEditing(dac::TDataSet& dataSet);

// Reconnect the connection without (speaking utf8mb4) and with Unicode mode (no explicit
// character set), with the values it has and no dialog; the idle check is suspended meanwhile so that it cannot act on the short
// disconnected phase. A failing connect leaves the connection closed and the idle check off;
// the error goes to the caller.
void DisableUnicode(dac::TMyConnection& connection);
void EnableUnicode(dac::TMyConnection& connection);

// Runs work on a thread of its own while the window goes on (the caller waits in a local event
// loop); returns when it ended, raising what it raised. Work that touches a connection must
// hold the session busy (TData::TBusy) so that nothing else starts on it meanwhile.
void RunInBackground(const std::function<void()>& work);
// Runs f on the GUI thread and waits for it (directly when called there): for what background
// work must show or ask.
void CallOnGui(const std::function<void()>& f);
// Queues f for the GUI thread without waiting (directly when called there).
void PostToGui(std::function<void()> f);

// An elapsed time as the query tab shows it: "%.2dh " and "%.2dmin " and "%.2dsec " for the
// parts that are not 0, then always "%dms " ("01min 05sec 30ms ").
QString FormatElapsed(qint64 milliseconds);

// Narrows the display width of every text-like field (all but the numeric and temporal
// kinds) to at most maxWidth characters.
void LimitDisplayWidths(dac::TDataSet& query, int maxWidth);

// Yes/no question captioned with the application title; true on Yes.
bool Confirm(const QString& message);

// The message of an error as one shows it: without the line breaks some server messages begin
// or end with.
QString ErrorMessageOf(const std::exception& e);

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
