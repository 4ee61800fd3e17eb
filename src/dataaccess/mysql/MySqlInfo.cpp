#include "MySqlInfo.h"

namespace calvoro::dac {
namespace {

bool IsAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

QString NormalizePart(const QString& part, bool quoteNames, bool unQuoteNames) {
    if (unQuoteNames || (!quoteNames && !TMySQLInfo::QuotesNeeded(part)))
        return TMySQLInfo::UnQuote(part);
    return TMySQLInfo::Quote(part);
}

}  // namespace

bool TMySQLInfo::IsQuoted(const QString& name) {
    if (name.size() < 2) return false;
    const QChar first = name.front();
    return first == name.back() && (first == u'`' || first == u'"' || first == u'\'');
}

QString TMySQLInfo::Quote(const QString& name) {
    if (IsQuoted(name)) return name;
    QString inner = name;
    inner.replace(QStringLiteral("`"), QStringLiteral("``"));
    return LeftQuote + inner + RightQuote;
}

QString TMySQLInfo::UnQuote(const QString& name) {
    if (!IsQuoted(name)) return name;
    const QString quote(name.front());
    QString inner = name.mid(1, name.size() - 2);
    inner.replace(quote + quote, quote);
    return inner;
}

bool TMySQLInfo::QuotesNeeded(const QString& name) {
    if (name.isEmpty()) return false;
    if (!IsAsciiLetter(name.front())) return true;
    for (qsizetype i = 1; i < name.size(); ++i) {
        const QChar c = name[i];
        if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'_' && c != u'$') return true;
    }
    return false;
}

QString TMySQLInfo::QuoteIfNeed(const QString& name) {
    return QuotesNeeded(name) ? Quote(name) : name;
}

QString TMySQLInfo::NormalizeName(const QString& name, bool quoteNames, bool unQuoteNames) {
    qsizetype cut;
    if (name.startsWith(u'`')) {
        cut = name.indexOf(QStringLiteral("`."));
        if (cut >= 0) ++cut;  // the dot after the closing backtick
    } else {
        cut = name.indexOf(u'.');
    }
    if (cut < 0) return NormalizePart(name, quoteNames, unQuoteNames);
    return NormalizePart(name.left(cut), quoteNames, unQuoteNames) + u'.' +
           NormalizePart(name.mid(cut + 1), quoteNames, unQuoteNames);
}

}  // namespace calvoro::dac
