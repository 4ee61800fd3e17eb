#pragma once
// The MySQL script processor: statements cut by the MySQL cutter (MyStatementCutter.h), and
// batches of statements sent together.

#include "DAScript.h"

namespace calvoro::script {

class TMyScriptProcessor : public TDAScriptProcessor {
public:
    using TDAScriptProcessor::TDAScriptProcessor;

protected:
    std::unique_ptr<TStatementCutter> CreateCutter(const QString& text) const override;
    std::unique_ptr<TStatementCutter> CreateCutter(QIODevice* stream, sqltext::TTextEncoding encoding) const override;
    bool CanBatch(const QString& sql, int type) const override;
};

}  // namespace calvoro::script
