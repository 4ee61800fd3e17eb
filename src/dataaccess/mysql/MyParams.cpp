#include "MyParams.h"

#include "sqltext/MyParser.h"

namespace calvoro::dac {

using namespace sqltext;

namespace {

std::unique_ptr<TMyParser> MarkerParser(const QString& text) {
    auto parser = std::make_unique<TMyParser>(text);
    parser->FOmitBlank = false;
    parser->FOmitComment = true;
    parser->FQuotedString = true;
    parser->DecSeparator = u'.';
    parser->FUppered = false;  // parameter names keep their letter case
    return parser;
}

// An identifier, a number or a word of the keyword list names a parameter.
bool NamesParameter(int code, const QString& lexeme) {
    if (code == lexIdent || code == lexNumber) return true;
    return code > 0 && !lexeme.isEmpty() && (lexeme[0].isLetter() || lexeme[0] == u'_');
}

}  // namespace

TParsedSQL ParseParamMarkers(const QString& sql) {
    TParsedSQL result;
    if (!sql.contains(u':')) {
        result.Text = sql;
        return result;
    }
    auto parser = MarkerParser(sql);
    QString& out = result.Text;
    out.reserve(sql.size());
    QString lexeme;
    qint64 copied = 0;
    int code;
    while ((code = parser->GetNext(lexeme)) != lexEnd) {
        if (code != lxColon) continue;
        // Skipped comments lie before the lexeme, so the colon is the character just read.
        const qint64 colon = parser->CurrPos() - 1;
        out += QStringView(sql).mid(copied, colon - copied);

        QString name;
        int next = parser->GetNext(name);
        bool at = false;
        if (next != lexEnd && name == u"@") {
            at = true;
            next = parser->GetNext(name);
        }
        copied = parser->CurrPos();
        if (next == lexEnd || !NamesParameter(next, name)) {
            // Not a marker: the colon and what followed it stay as they are.
            out += QStringView(sql).mid(colon, copied - colon);
            continue;
        }
        if (name.size() >= 2 && name.front() == u'`' && name.back() == u'`')
            name = name.mid(1, name.size() - 2);
        TParamDesc param;
        param.FName = at ? u'@' + name : name;
        result.Params.push_back(std::move(param));
        out += u'?';
        result.Positions.push_back(int(out.size()));
    }
    out += QStringView(sql).mid(copied);
    return result;
}

QStringList CutAtPlaceholders(const QString& text) {
    QStringList fragments;
    auto parser = MarkerParser(text);
    parser->FOmitComment = false;
    QString lexeme;
    qint64 start = 0;
    int code;
    while ((code = parser->GetNext(lexeme)) != lexEnd) {
        if (lexeme != u"?") continue;
        fragments.append(text.mid(start, parser->PrevPos() - start));
        start = parser->CurrPos();
    }
    fragments.append(text.mid(start));
    return fragments;
}

}  // namespace calvoro::dac
