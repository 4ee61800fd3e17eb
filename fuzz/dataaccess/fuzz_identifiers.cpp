// Identifiers on arbitrary text (UTF-8 input). As typed text: parsing ends in raw names or an
// EDatabaseError, never anything else; every name has a name part, and the typed form of the
// names reads back to the same names. As a raw name: quoted, the lexer reads nothing but the
// identifier, whose unquoted text is the name again, and a typed name reads it back.
#include "FuzzCheck.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "dataaccess/mysql/MySqlInfo.h"
#include "sqltext/MyParser.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    try {
        const std::vector<TObjectName> names = ParseObjectNameList(text);
        QStringList typed;
        for (const TObjectName& name : names) {
            Check(!name.Name.isEmpty());
            typed << TypedObjectName(name);
        }
        Check(ParseObjectNameList(typed.join(u',')) == names);
    } catch (const EDatabaseError&) {
        // malformed typed text is refused with a message
    }

    // Quoted, the raw text is identifier lexemes only (a doubled backtick inside ends one and
    // begins the next) that make up the quoted text: nothing of it stands outside the quotes.
    const QString quoted = QuoteIdentifier(text);
    sqltext::TMyParser parser(quoted);
    parser.FUppered = false;
    parser.FOmitBlank = false;
    QString lexeme, joined;
    int code;
    while ((code = parser.GetNext(lexeme)) != sqltext::lexEnd) {
        Check(code == sqltext::lexIdent);
        joined += lexeme;
    }
    Check(joined == quoted);
    Check(TMySQLInfo::UnQuote(quoted) == text);
    if (!text.isEmpty()) Check(ParseIdentifier(quoted) == text && ParseObjectName(quoted) == TObjectName{{}, text});
    return 0;
}
