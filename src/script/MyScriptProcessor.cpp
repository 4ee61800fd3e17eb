#include "MyScriptProcessor.h"

#include "MyScript.h"
#include "sqltext/MyParser.h"

namespace calvoro::script {

using namespace sqltext;

std::unique_ptr<TParser> TMyScriptProcessor::CreateParser(const QString& text) const {
    return std::make_unique<TMyParser>(text);
}

std::unique_ptr<TParser> TMyScriptProcessor::CreateParser(QIODevice* stream, TTextEncoding encoding) const {
    return std::make_unique<TMyParser>(stream, encoding);
}

void TMyScriptProcessor::TrackLexeme(int code, int& type, bool& omit) {
    (void)omit;
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

bool TMyScriptProcessor::CanBatch(const QString& sql, int type) const {
    (void)type;
    // One packet of the 4.1 protocol carries several statements; kept well below 64 KB.
    return static_cast<const TMyScript&>(FOwner).ServerSpeaksProtocol41() &&
           sql.size() + FOwner.Batch().size() < 65535;
}

}  // namespace calvoro::script
