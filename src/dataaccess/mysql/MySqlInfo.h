#pragma once
// MySQL identifier rules as the driver layer names them; the rules themselves are those of
// MySqlIdentifier.h.

#include <QString>

namespace calvoro::dac {

class TMySQLInfo {
public:
    static constexpr char16_t LeftQuote = u'`';
    static constexpr char16_t RightQuote = u'`';

    // At least two characters, first and last both `, both " or both '.
    static bool IsQuoted(const QString& name);
    // The raw name in backticks, inner backticks doubled: a name from the server is never
    // taken as quoted already.
    static QString Quote(const QString& name);
    // For a lexer's identifier token: outer quotes removed and doubled quote characters made
    // single; other names unchanged.
    static QString UnQuote(const QString& name);
    // Whether a raw name must be backquoted (IdentifierNeedsQuotes).
    static bool QuotesNeeded(const QString& name);
    static QString QuoteIfNeed(const QString& name);
    // Typed text of the form [db.]object parsed (ParseObjectName) and written again: each part
    // raw when `unQuoteNames`, else quoted always when `quoteNames`, else when it needs it.
    static QString NormalizeName(const QString& name, bool quoteNames, bool unQuoteNames);
};

}  // namespace calvoro::dac
