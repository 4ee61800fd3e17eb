#include "MyScriptProcessor.h"

#include "MyScript.h"
#include "MyStatementCutter.h"

namespace calvoro::script {

std::unique_ptr<TStatementCutter> TMyScriptProcessor::CreateCutter(const QString& text) const {
    return std::make_unique<TMyStatementCutter>(text);
}

std::unique_ptr<TStatementCutter> TMyScriptProcessor::CreateCutter(QIODevice* stream,
                                                                   sqltext::TTextEncoding encoding) const {
    return std::make_unique<TMyStatementCutter>(stream, encoding);
}

bool TMyScriptProcessor::CanBatch(const QString& sql, int type) const {
    (void)type;
    // One packet of the 4.1 protocol carries several statements; kept well below 64 KB.
    return static_cast<const TMyScript&>(FOwner).ServerSpeaksProtocol41() &&
           sql.size() + FOwner.Batch().size() < 65535;
}

}  // namespace calvoro::script
