#include "RestoreMend.h"

#include "dataaccess/mysql/MySqlIdentifier.h"
#include "sqltext/MyParser.h"

#include <algorithm>

namespace calvoro::dump {

using namespace sqltext;

namespace {

bool Is(QStringView text, QStringView word) { return text.compare(word, Qt::CaseInsensitive) == 0; }

bool IsValue(int code) { return code == lexIdent || code == lexString; }

bool IsCurrentUser(QStringView text) { return Is(text, u"CURRENT_USER"); }

}  // namespace

TValueRole TClauseReader::Take(int code, QStringView text) {
    // A DEFINER clause: DEFINER = user [@ host], or DEFINER = CURRENT_USER [()].
    switch (FDefiner) {
    case dKeyword:
        FDefiner = text == u"=" ? dEqual : dNone;
        if (FDefiner != dNone) return TValueRole::None;
        break;
    case dEqual:
        if (IsValue(code)) {
            FDefiner = IsCurrentUser(text) ? dCurrent : dUser;
            return FDefiner == dCurrent ? TValueRole::DefinerCurrent : TValueRole::DefinerUser;
        }
        FDefiner = dNone;
        break;
    case dUser:
        if (text == u"@") {
            FDefiner = dAt;
            return TValueRole::None;
        }
        FDefiner = dNone;
        break;
    case dAt:
        FDefiner = dNone;
        if (IsValue(code)) return TValueRole::DefinerHost;
        break;
    case dCurrent:
        if (text == u"(" || text == u")" || text == u"()") return TValueRole::None;
        FDefiner = dNone;
        break;
    case dNone:
        break;
    }

    if (FKey != kNone && FKey != kCharacter && FKey != kSet) {
        if (text == u"=" && !FEqual) {
            FEqual = true;
            return TValueRole::None;
        }
        const TKey key = FKey;
        const bool equal = FEqual;
        FKey = kNone;
        FEqual = false;
        if (IsValue(code) && !Is(text, u"DEFAULT")) {
            if (key == kCollation) return TValueRole::Collation;
            if (key == kCharset) return TValueRole::Charset;
            // ENGINE only with "=", as SHOW CREATE TABLE writes it: a column may be named engine.
            if (key == kEngine && equal) return TValueRole::Engine;
        }
    }
    const TKey before = FKey;
    FKey = kNone;
    FEqual = false;
    // Words, whether the keyword table has them (CHARSET, SET) or not.
    if (code != lexIdent && code < lxALL) return TValueRole::None;
    if (before == kCharacter && Is(text, u"SET")) {
        FKey = kCharset;
    } else if (code == lxSET) {
        FKey = kSet;
    } else if (Is(text, u"COLLATE") || Is(text, u"collation_connection") || Is(text, u"collation_database") ||
               Is(text, u"collation_server")) {
        FKey = kCollation;
    } else if (Is(text, u"CHARSET") || (before == kSet && Is(text, u"NAMES")) ||
               Is(text, u"character_set_client") || Is(text, u"character_set_results") ||
               Is(text, u"character_set_connection") || Is(text, u"character_set_database") ||
               Is(text, u"character_set_server")) {
        FKey = kCharset;
    } else if (Is(text, u"CHARACTER")) {
        FKey = kCharacter;
    } else if (Is(text, u"ENGINE")) {
        FKey = kEngine;
    } else if (Is(text, u"DEFINER")) {
        FDefiner = dKeyword;
        return TValueRole::DefinerKeyword;
    }
    return TValueRole::None;
}

QString UnquotedValue(int code, QStringView text) {
    if (text.size() >= 2 && (text.front() == u'`' || (code == lexString && (text.front() == u'\'' || text.front() == u'"')))) {
        const QChar quote = text.front();
        QString out = text.mid(1, text.size() - 2).toString();
        out.replace(QString(2, quote), QString(quote));
        return out;
    }
    return text.toString();
}

QString TRestoreMends::MapCollation(QStringView name) const {
    const QString normal = NormalCollationName(name);
    for (const auto& [from, to] : Collations)
        if (NormalCollationName(from) == normal) return to;
    return QString();
}

QString NormalCollationName(QStringView name) {
    QString n = name.toString().toLower();
    if (n.startsWith(u"utf8_")) n.insert(4, u"mb3");
    return n;
}

QString NormalCharsetName(QStringView name) {
    QString n = name.toString().toLower();
    return n == u"utf8" ? QStringLiteral("utf8mb3") : n;
}

QString SafeCollationFor(const QString& collation, const QSet<QString>& target) {
    struct TEquivalent {
        const char16_t* From;
        std::initializer_list<const char16_t*> To;
    };
    // MySQL 8's UCA 9.0.0 collations are NO PAD; MariaDB's UCA 14.0.0 ones come in both forms.
    static const TEquivalent table[] = {
        {u"utf8mb4_0900_ai_ci", {u"utf8mb4_uca1400_nopad_ai_ci", u"utf8mb4_unicode_520_nopad_ci", u"utf8mb4_unicode_520_ci"}},
        {u"utf8mb4_0900_as_ci", {u"utf8mb4_uca1400_nopad_as_ci"}},
        {u"utf8mb4_0900_as_cs", {u"utf8mb4_uca1400_nopad_as_cs"}},
        {u"utf8mb4_0900_bin", {u"utf8mb4_nopad_bin", u"utf8mb4_bin"}},
        {u"utf8mb4_uca1400_ai_ci", {u"utf8mb4_0900_ai_ci", u"utf8mb4_unicode_520_ci"}},
        {u"utf8mb4_uca1400_nopad_ai_ci", {u"utf8mb4_0900_ai_ci"}},
        {u"utf8mb4_uca1400_as_ci", {u"utf8mb4_0900_as_ci"}},
        {u"utf8mb4_uca1400_nopad_as_ci", {u"utf8mb4_0900_as_ci"}},
        {u"utf8mb4_uca1400_as_cs", {u"utf8mb4_0900_as_cs"}},
        {u"utf8mb4_uca1400_nopad_as_cs", {u"utf8mb4_0900_as_cs"}},
        {u"utf8mb4_nopad_bin", {u"utf8mb4_0900_bin"}},
    };
    const QString normal = NormalCollationName(collation);
    for (const TEquivalent& e : table) {
        if (normal != QStringView(e.From)) continue;
        for (const char16_t* to : e.To)
            if (target.contains(QString::fromUtf16(to))) return QString::fromUtf16(to);
    }
    return QString();
}

QString MendStatement(const QString& sql, const TRestoreMends& mends, TMendCounts& counts) {
    if (!mends.Any()) return sql;
    // Most statements name none of the clauses: they pass without being read.
    const bool collations = !mends.Collations.empty() && (sql.contains(u"COLLAT", Qt::CaseInsensitive));
    const bool definers = mends.Definer != TDefinerMend::Keep && sql.contains(u"DEFINER", Qt::CaseInsensitive);
    const bool engines = !mends.EngineFallback.isEmpty() && sql.contains(u"ENGINE", Qt::CaseInsensitive);
    if (!collations && !definers && !engines) return sql;

    struct TEdit {
        qsizetype Start, End;
        QString Text;
    };
    std::vector<TEdit> edits;
    TMyParser lexer(sql);
    lexer.FOmitBlank = false;
    lexer.FOmitComment = false;
    lexer.FUppered = false;
    lexer.FQuotedString = true;
    lexer.FAdvancedStringParsing = true;
    TClauseReader reader;
    qsizetype definerStart = -1;   // of the DEFINER keyword being read
    qsizetype definerEnd = -1;     // just past the last lexeme of its value so far
    auto closeDefiner = [&] {
        if (definerStart < 0 || definerEnd < 0) {
            definerStart = definerEnd = -1;
            return;
        }
        if (mends.Definer == TDefinerMend::Current) {
            edits.push_back({definerStart, definerEnd, QStringLiteral("DEFINER=CURRENT_USER")});
        } else {
            // The clause and the blanks after it.
            qsizetype end = definerEnd;
            while (end < sql.size() && (sql[end] == u' ' || sql[end] == u'\t')) ++end;
            edits.push_back({definerStart, end, QString()});
        }
        ++counts.Definers;
        definerStart = definerEnd = -1;
    };
    QStringView text;
    for (;;) {
        const int code = lexer.GetNextView(text);
        if (code == lexEnd) break;
        if (code == lexBlank || code == lexComment) continue;
        const qsizetype start = lexer.PrevPos(), end = lexer.CurrPos();
        const TValueRole role = reader.Take(code, text);
        if (definerEnd >= 0 && role != TValueRole::DefinerUser && role != TValueRole::DefinerHost && text != u"@")
            closeDefiner();
        switch (role) {
        case TValueRole::DefinerKeyword:
            closeDefiner();
            if (definers) definerStart = start;
            break;
        case TValueRole::DefinerUser:
        case TValueRole::DefinerHost:
            if (definerStart >= 0) definerEnd = end;
            break;
        case TValueRole::DefinerCurrent:
            // Already the current account: nothing to change.
            definerStart = definerEnd = -1;
            break;
        case TValueRole::Collation:
            if (collations) {
                const QString to = mends.MapCollation(UnquotedValue(code, text));
                if (!to.isEmpty()) {
                    edits.push_back({start, end, dac::QuoteIdentifier(to, false)});
                    ++counts.Collations;
                }
            }
            break;
        case TValueRole::Engine:
            if (engines && !mends.KnownEngines.contains(UnquotedValue(code, text).toLower())) {
                edits.push_back({start, end, dac::QuoteIdentifier(mends.EngineFallback, false)});
                ++counts.Engines;
            }
            break;
        case TValueRole::Charset:
        case TValueRole::None:
            break;
        }
    }
    closeDefiner();
    if (edits.empty()) return sql;
    std::sort(edits.begin(), edits.end(), [](const TEdit& a, const TEdit& b) { return a.Start < b.Start; });
    QString out;
    out.reserve(sql.size() + 32);
    qsizetype at = 0;
    for (const TEdit& e : edits) {
        out += QStringView(sql).mid(at, e.Start - at);
        out += e.Text;
        at = e.End;
    }
    out += QStringView(sql).mid(at);
    return out;
}

QString MendSummary(const TMendCounts& c) {
    auto n = [](qint64 count, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    };
    return QStringLiteral("mended: %1, %2, %3")
        .arg(n(c.Collations, "collation", "collations"), n(c.Definers, "definer", "definers"),
             n(c.Engines, "engine", "engines"));
}

}  // namespace calvoro::dump
