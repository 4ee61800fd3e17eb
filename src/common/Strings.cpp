#include "Strings.h"

namespace calvoro {

void TStrings::Clear() {
    if (FLines.isEmpty()) return;
    FLines.clear();
    Changed();
}

void TStrings::Add(const QString& line) {
    FLines.append(line);
    Changed();
}

void TStrings::SetText(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines.append(text.mid(start, i - start));
            if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) lines.append(text.mid(start));
    FLines = std::move(lines);
    Changed();
}

QString TStrings::Text() const {
    QString result;
    for (const QString& line : FLines) {
        result += line;
        result += QStringLiteral("\r\n");
    }
    return result;
}

void TStrings::Assign(const QStringList& lines) {
    FLines = lines;
    Changed();
}

void TStrings::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FChangedInUpdate) {
        FChangedInUpdate = false;
        if (OnChange) OnChange();
    }
}

void TStrings::Changed() {
    if (FUpdateCount > 0) {
        FChangedInUpdate = true;
        return;
    }
    if (OnChange) OnChange();
}

}  // namespace calvoro
