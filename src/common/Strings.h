#pragma once
// A list of text lines that tells its owner when it changes (SQL texts of commands, scripts
// and editors are kept this way).

#include <QString>
#include <QStringList>

#include <functional>

namespace calvoro {

class TStrings {
public:
    void Clear();
    void Add(const QString& line);
    // Replaces the lines by the lines of text (split at CR LF, LF or CR).
    void SetText(const QString& text);
    // The lines, each followed by CR LF.
    QString Text() const;
    void Assign(const QStringList& lines);

    const QStringList& Lines() const { return FLines; }
    qsizetype Count() const { return FLines.size(); }
    const QString& operator[](qsizetype i) const { return FLines[i]; }

    // Changes of several steps call it once when the last step ends.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    std::function<void()> OnChange;

private:
    void Changed();

    QStringList FLines;
    int FUpdateCount = 0;
    bool FChangedInUpdate = false;
};

}  // namespace calvoro
