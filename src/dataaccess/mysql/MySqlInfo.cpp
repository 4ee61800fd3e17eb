#include "MySqlInfo.h"

#include "MySqlIdentifier.h"

namespace calvoro::dac {

bool TMySQLInfo::IsQuoted(const QString& name) {
    if (name.size() < 2) return false;
    const QChar first = name.front();
    return first == name.back() && (first == u'`' || first == u'"' || first == u'\'');
}

QString TMySQLInfo::Quote(const QString& name) { return QuoteIdentifier(name); }

QString TMySQLInfo::UnQuote(const QString& name) {
    if (!IsQuoted(name)) return name;
    const QString quote(name.front());
    QString inner = name.mid(1, name.size() - 2);
    inner.replace(quote + quote, quote);
    return inner;
}

bool TMySQLInfo::QuotesNeeded(const QString& name) { return IdentifierNeedsQuotes(name); }

QString TMySQLInfo::QuoteIfNeed(const QString& name) { return QuoteIdentifier(name, false); }

QString TMySQLInfo::NormalizeName(const QString& name, bool quoteNames, bool unQuoteNames) {
    const TObjectName parts = ParseObjectName(name);
    if (!unQuoteNames) return QuoteObjectName(parts, quoteNames);
    return parts.Database.isEmpty() ? parts.Name : parts.Database + u'.' + parts.Name;
}

}  // namespace calvoro::dac
