#include "CliScript.h"

#include "CliConnection.h"
#include "common/CodePage.h"
#include "dataaccess/mysql/MyClasses.h"
#include "script/MyScript.h"
#include "sqltext/CRParser.h"

#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

namespace calvoro::cli {

namespace {

// Writes text as the bytes it stands for: on the 8-bit connection every character is one byte
// of the script or of the server's message.
void Put(FILE* out, const QString& text) {
    const QByteArray bytes = UnicodeToAnsi(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
}

// A one-line bar by bytes read, redrawn when it changes; only on a terminal.
class TProgress {
public:
    TProgress(FILE* out, qint64 total) : FOut(out), FTotal(total), FShown(isatty(fileno(out)) != 0) {}
    void Update(qint64 done) {
        if (!FShown) return;
        QString line;
        if (FTotal > 0) {
            const int percent = int(std::min<qint64>(100, done * 100 / FTotal));
            if (percent == FLast) return;
            FLast = percent;
            const int filled = percent * 30 / 100;
            line = QStringLiteral("\r[%1%2] %3%").arg(QString(filled, u'#'), QString(30 - filled, u'.')).arg(percent, 3);
        } else {
            const qint64 mb = done >> 20;
            if (mb == FLast) return;
            FLast = int(mb);
            line = QStringLiteral("\r%1 MB read").arg(mb);
        }
        Put(FOut, line);
        std::fflush(FOut);
        FWidth = line.size();
    }
    // Removes the bar, so that a report starts on a clean line.
    void Clear() {
        if (!FShown || FWidth == 0) return;
        Put(FOut, u'\r' + QString(FWidth, u' ') + u'\r');
        FWidth = 0;
        FLast = -1;
    }

private:
    FILE* FOut;
    qint64 FTotal;
    bool FShown;
    int FLast = -1;
    qsizetype FWidth = 0;
};

QString ErrorText(const std::exception& e) {
    if (auto* my = dynamic_cast<const dac::EMyError*>(&e))
        return QStringLiteral("ERROR %1 (%2): %3").arg(my->ErrorCode()).arg(my->SqlState(), my->Message().trimmed());
    if (auto* ours = dynamic_cast<const Exception*>(&e)) return QStringLiteral("ERROR: ") + ours->Message().trimmed();
    return QStringLiteral("ERROR: ") + QString::fromUtf8(e.what()).trimmed();
}

}  // namespace

int RunScript(const TCliOptions& o, FILE* err) {
    QFile file;
    const bool standardInput = o.File == u"-";
    if (standardInput ? !file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(o.File), !file.open(QIODevice::ReadOnly)))
        throw Exception(QStringLiteral("Cannot open file \"%1\": %2").arg(o.File, file.errorString()));

    auto connection = NewConnection(o);
    // The script's bytes go as they are: an 8-bit connection that speaks utf8mb4.
    connection->MyOptions().SetUseUnicode(false);
    connection->MyOptions().SetCharset(QStringLiteral("utf8mb4"));
    connection->Connect();

    script::TMyScript script;
    script.SetConnection(connection.get());
    TProgress progress(err, standardInput ? -1 : file.size());
    int statements = 0, failed = 0;
    script.AfterExecute = [&](script::TDAScript*, const QString&) {
        ++statements;
        progress.Update(script.StreamBytesRead());
    };
    script.OnError = [&](script::TDAScript* s, const std::exception& e, const QString& sql,
                         script::TErrorAction& action) {
        ++statements;
        ++failed;
        progress.Clear();
        // The statement by its first word's line and that line, as the mariadb client shows it.
        const QString fromWord = sql.mid(std::min<qsizetype>(s->Place().WordOffset, sql.size()));
        const QString firstLine = fromWord.left(fromWord.indexOf(QRegularExpression(QStringLiteral("[\r\n]"))));
        Put(err, QStringLiteral("line %1: %2\n%3\n").arg(s->Place().WordLine + 1).arg(firstLine, ErrorText(e)));
        std::fflush(err);
        action = o.StopOnError ? script::eaAbort : script::eaContinue;
    };
    int status = 0;
    try {
        script.ExecuteStream(&file);
    } catch (const sqltext::EParserError& e) {
        // Text the lexer cannot read: the script ends on that line.
        progress.Clear();
        Put(err, QStringLiteral("line %1: %2\n").arg(script.ParserLine() + 1).arg(e.Message()));
        status = 1;
    }
    progress.Clear();
    Put(err, QStringLiteral("%1 statements, %2 failed\n").arg(statements).arg(failed));
    return failed > 0 ? 1 : status;
}

}  // namespace calvoro::cli
