#pragma once
// MySQL identifier rules: quoting with backticks, unquoting, and when quotes are needed.

#include <QString>

namespace calvoro::dac {

class TMySQLInfo {
public:
    static constexpr char16_t LeftQuote = u'`';
    static constexpr char16_t RightQuote = u'`';

    // At least two characters, first and last both `, both " or both '.
    static bool IsQuoted(const QString& name);
    // A quoted name unchanged; otherwise `name` with inner backticks doubled.
    static QString Quote(const QString& name);
    // Outer quotes removed and doubled quote characters made single; other names unchanged.
    static QString UnQuote(const QString& name);
    // False for an empty name; true unless it is an ASCII letter followed by ASCII letters,
    // digits, '_' or '$'.
    static bool QuotesNeeded(const QString& name);
    static QString QuoteIfNeed(const QString& name);
    // Normalises each part of a name of the form db.object (cut at the first ".", or at the
    // first "`." when the name begins with a backtick): unquoted when `unQuoteNames`, or when
    // `quoteNames` is off and the part needs no quotes; quoted otherwise.
    static QString NormalizeName(const QString& name, bool quoteNames, bool unQuoteNames);
};

}  // namespace calvoro::dac
