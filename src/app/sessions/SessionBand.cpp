#include "SessionBand.h"

#include "app/DataUnit.h"
#include "dataaccess/mysql/MyAccess.h"

namespace calvoro::app {

namespace {

// A read-only session without a colour of its own still gets a band, in a warning amber.
const QColor ReadOnlyColour(0xE0, 0xA0, 0x20);

}  // namespace

TSessionBand::TSessionBand(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("SessionBand"));
    setAlignment(Qt::AlignCenter);
    setMargin(3);
    setAutoFillBackground(true);
    hide();
}

void TSessionBand::ShowSession(const TSessionLook& look) {
    if (!look.Colour.isValid() && !look.ReadOnly) {
        ShowNoSession();
        return;
    }
    const QColor colour = look.Colour.isValid() ? look.Colour : ReadOnlyColour;
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    // Dark text on light colours, white on dark ones.
    p.setColor(QPalette::WindowText, colour.lightnessF() > 0.55 ? Qt::black : Qt::white);
    setPalette(p);
    QStringList parts;
    if (!look.Name.isEmpty()) parts << look.Name;
    if (look.ReadOnly) parts << QStringLiteral("read-only: changes are refused");
    setText(parts.join(QStringLiteral("  \u2014  ")));
    show();
}

void TSessionBand::ShowNoSession() {
    clear();
    hide();
}

QString SessionCaptionSuffix(const TSessionLook& look) {
    return look.ReadOnly ? QStringLiteral(" - read-only") : QString();
}

QString ShowSessionLook(TSessionBand& band, const TData& data) {
    TSessionLook look;
    look.ReadOnly = data.ToolsConnection->MyOptions().ReadOnly();
    band.ShowSession(look);
    return SessionCaptionSuffix(look);
}

}  // namespace calvoro::app
