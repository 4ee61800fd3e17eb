#pragma once
// The band across the main window that marks the session it works in: the session's colour,
// its name, and "read-only" when the server's data cannot be changed from this window. Hidden
// for a session without a colour that may write, as the window was before sessions had looks.

#include <QColor>
#include <QLabel>
#include <QString>

namespace calvoro::app {

// How a connected session looks: from the saved session it came from, if any.
struct TSessionLook {
    QString Name;   // the saved session's name, empty without one
    QColor Colour;  // invalid: no colour chosen
    bool ReadOnly = false;
};

class TSessionBand : public QLabel {
public:
    explicit TSessionBand(QWidget* parent = nullptr);
    // Shows the look of a connected session (hidden when it has nothing to show).
    void ShowSession(const TSessionLook& look);
    void ShowNoSession();
};

class TData;

// What the window caption adds for the session: " - read-only", or nothing.
QString SessionCaptionSuffix(const TSessionLook& look);
// The look of the tools session just connected: shown in the band; the caption's addition
// comes back.
QString ShowSessionLook(TSessionBand& band, const TData& data);

}  // namespace calvoro::app
