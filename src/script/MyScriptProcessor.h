#pragma once
// The MySQL rules of cutting scripts: the MySQL lexer, DELIMITER commands (a blank ends their
// value), routine headers whose bodies hold ";", and batches of statements sent together.

#include "DAScript.h"

namespace calvoro::script {

class TMyScriptProcessor : public TDAScriptProcessor {
public:
    using TDAScriptProcessor::TDAScriptProcessor;

protected:
    std::unique_ptr<sqltext::TParser> CreateParser(const QString& text) const override;
    std::unique_ptr<sqltext::TParser> CreateParser(QIODevice* stream, sqltext::TTextEncoding encoding) const override;
    void TrackLexeme(int code, int& type, bool& omit) override;
    bool CanBatch(const QString& sql, int type) const override;
    bool EndsDelimiterOnBlank() const override { return true; }
};

}  // namespace calvoro::script
