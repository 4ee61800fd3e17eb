#include "CliReport.h"

#include "common/CodePage.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyClasses.h"

#include <QRegularExpression>

#include <unistd.h>

namespace calvoro::cli {

void Put(FILE* out, const QString& text) {
    const QByteArray bytes = UnicodeToAnsi(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
}

QString ErrorText(const std::exception& e) {
    if (auto* my = dynamic_cast<const dac::EMyError*>(&e))
        return QStringLiteral("ERROR %1 (%2): %3").arg(my->ErrorCode()).arg(my->SqlState(), my->Message().trimmed());
    if (auto* ours = dynamic_cast<const Exception*>(&e)) return QStringLiteral("ERROR: ") + ours->Message().trimmed();
    return QStringLiteral("ERROR: ") + QString::fromUtf8(e.what()).trimmed();
}

TProgressLine::TProgressLine(FILE* out) : FOut(out), FShown(isatty(fileno(out)) != 0) {}

void TProgressLine::Show(const QString& text) {
    if (!FShown || text == FLast) return;
    // Blanks cover what a longer previous text left.
    const qsizetype pad = std::max<qsizetype>(0, FLast.size() - text.size());
    Put(FOut, u'\r' + text + QString(pad, u' '));
    std::fflush(FOut);
    FLast = text;
}

void TProgressLine::Clear() {
    if (!FShown || FLast.isEmpty()) return;
    Put(FOut, u'\r' + QString(FLast.size(), u' ') + u'\r');
    std::fflush(FOut);
    FLast.clear();
}

QString BytesProgress(qint64 done, qint64 total) {
    if (total <= 0) return QStringLiteral("%1 MB read").arg(done >> 20);
    const int percent = int(std::min<qint64>(100, done * 100 / total));
    const int filled = percent * 30 / 100;
    return QStringLiteral("[%1%2] %3%").arg(QString(filled, u'#'), QString(30 - filled, u'.')).arg(percent, 3);
}

void OpenScriptInput(QFile& file, const QString& name) {
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) throw Exception(QStringLiteral("Cannot open file \"%1\": %2").arg(name, file.errorString()));
}

void ReportFailure(FILE* err, const script::TDAScript& script, const std::exception& e, const QString& sql) {
    ReportFailure(err, script.Place(), e, sql);
}

void ReportFailure(FILE* err, const script::TStatementPlace& place, const std::exception& e, const QString& sql) {
    const QString fromWord = sql.mid(std::min<qsizetype>(place.WordOffset, sql.size()));
    const QString firstLine = fromWord.left(fromWord.indexOf(QRegularExpression(QStringLiteral("[\r\n]"))));
    Put(err, QStringLiteral("line %1: %2\n%3\n").arg(place.WordLine + 1).arg(firstLine, ErrorText(e)));
    std::fflush(err);
}

}  // namespace calvoro::cli
