#include "MyStatementCutter.h"

#include "sqltext/MyParser.h"

namespace calvoro::script {

using namespace sqltext;

TMyStatementCutter::TMyStatementCutter(const QString& text) : TStatementCutter(std::make_unique<TMyParser>(text)) {}

TMyStatementCutter::TMyStatementCutter(QIODevice* stream, TTextEncoding encoding)
    : TStatementCutter(std::make_unique<TMyParser>(stream, encoding)) {}

void TMyStatementCutter::TrackLexeme(int code, int& type, bool& omit) {
    (void)omit;
    // The markers of executable comments are comments too: "/*!50003 CREATE*/ /*!50003
    // TRIGGER" is CREATE TRIGGER, as the server reads it.
    if (code == lexBlank || code == lexComment) return;
    FPrevCode = FCurrCode;
    FCurrCode = code;
    // DELIMITER is a command only as the first word of a statement.
    if (code == lxDELIMITER && FPrevCode == 0) {
        FDelimiterState = dsDelimiter;
        type = stDelimiterCommand;
    }
    // A routine or trigger header while ";" is the delimiter: its body runs past every ";".
    if (FCurrDelimiter.size() == 1 && FCurrDelimiter[0] == u';' && FPrevCode == lxCREATE &&
        (code == lxFUNCTION || code == lxPROCEDURE || code == lxTRIGGER))
        type = stOpenRoutineBody;
}

}  // namespace calvoro::script
