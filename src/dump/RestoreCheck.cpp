#include "RestoreCheck.h"

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyAdminReaders.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "sqltext/MyParser.h"

#include <QHash>

#include <memory>

namespace calvoro::dump {

using namespace sqltext;

namespace {

bool Is(QStringView text, QStringView word) { return text.compare(word, Qt::CaseInsensitive) == 0; }

// The version in an executable comment's opener, or -1 when it has none.
int OpenerVersion(QStringView opener) {
    qsizetype i = opener.indexOf(u'!');
    if (i < 0) return -1;
    const QStringView digits = opener.mid(i + 1);
    if (digits.isEmpty()) return -1;
    bool ok = false;
    const int v = digits.toInt(&ok);
    return ok ? v : -1;
}

// One finding of a statement, before the statement's end says whether it fails.
struct TFinding {
    TCheckKind Kind;
    TCheckSeverity Severity;
    QString Name;
    bool Mended;
    QString Suggestion;
};

// The scan: the MySQL lexer's lexemes, cut into statements by the delimiter in force (as the
// script processor cuts them), each statement's clauses read against the facts.
class TScan {
public:
    TScan(TParser& lexer, const TServerFacts& facts, const TRestoreMends& mends)
        : FLexer(lexer), FFacts(facts), FMends(mends), FSqlMode(facts.SqlMode) {
        lexer.FOmitBlank = false;
        lexer.FOmitComment = false;
        lexer.FUppered = false;
        lexer.FQuotedString = true;
        lexer.FAdvancedStringParsing = true;
    }

    TCheckReport Run() {
        QStringView text;
        for (;;) {
            if (FDataMode) {
                // The rows of an INSERT: nothing in them is looked at but the end of the
                // statement, so they go past at the lexer's own speed.
                const int code = FLexer.GetNextCode();
                if (code == lxSemicolon) {
                    EndStatement();
                    continue;
                }
                if (code == lexEnd) {
                    EndStatement();
                    break;
                }
                if (code == lexComment) {
                    // Read again with its text, the usual way.
                    FLexer.Back();
                    FDataMode = false;
                }
                continue;
            }
            const int code = FLexer.GetNextView(text);
            if (code == lexEnd) {
                EndStatement();
                break;
            }
            Take(code, text);
        }
        return std::move(FReport);
    }

private:
    void Take(int code, QStringView text) {
        if (code == lexBlank) {
            FTail.clear();
            if (FDelimiterCommand == 2) {
                // The value of a DELIMITER command ends at a blank.
                if (!FNewDelimiter.isEmpty()) {
                    FDelimiter = FNewDelimiter;
                    FSemicolon = FDelimiter == u";";
                    EndStatement(true);
                } else if (text.contains(u'\n') || text.contains(u'\r')) {
                    EndStatement(true);
                }
                return;
            }
            FBlankHadLineEnd = text.contains(u'\n') || text.contains(u'\r');
            if (FSlashPending && FBlankHadLineEnd) {
                FSlashPending = false;
                EndStatement();
            }
            FSlashPending = false;
            return;
        }
        if (code == lexComment) {
            FTail.clear();
            const TCommentKind kind = FLexer.CommentKind();
            if (kind == cmCodeOpen) Opener(text);
            else if (kind == cmCodeClose) FSkipping = false;
            return;
        }
        if (FDelimiterCommand >= 1) {
            FDelimiterCommand = 2;
            FNewDelimiter += text;
            return;
        }
        // The delimiter, alone, glued to a word ("END$$") or made of several lexemes (";;").
        const bool plain = code != lexString && !(code == lexIdent && text.startsWith(u'`'));
        if (plain) {
            if (FSemicolon && !FOpenBody) {
                if (code == lxSemicolon) {
                    EndStatement();
                    return;
                }
            } else if (FOpenBody) {
                // A routine header under ";": its body runs to a "/" alone on its line.
                if (text == u"/" && (FBlankHadLineEnd || !FStarted)) FSlashPending = true;
            } else if (FDelimiter.size() > 0) {
                const QString joined = FTail + text.toString();
                const qsizetype at = joined.indexOf(FDelimiter);
                if (at >= 0) {
                    const QString rest = joined.mid(at + FDelimiter.size());
                    const QString before = joined.left(at).mid(FTail.size());
                    if (!before.isEmpty()) Word(lexIdent, before);
                    EndStatement();
                    if (!rest.isEmpty()) Word(lexIdent, rest);
                    return;
                }
                FTail = joined.right(FDelimiter.size() - 1);
            }
        } else {
            FTail.clear();
        }
        FBlankHadLineEnd = false;
        Word(code, text);
    }

    // A lexeme of the statement that is neither a blank nor a comment.
    void Word(int code, QStringView text) {
        if (!FStarted) {
            FStarted = true;
            FLine = FLexer.PrevLine() + 1;
            if (code == lxDELIMITER) {
                FDelimiterCommand = 1;
                return;
            }
        }
        if (FHead.size() < 24) {
            FHead.push_back(text.toString());
            FHeadCodes.push_back(code);
            if (FHead.size() == 2 && FHeadCodes[0] == lxCREATE && FDelimiter == u";" &&
                (code == lxFUNCTION || code == lxPROCEDURE || code == lxTRIGGER))
                FOpenBody = true;
            if (FHeadCodes[0] == lxCREATE && Is(text, u"VIEW")) FView = true;
        }
        if ((FHeadCodes[0] == lxINSERT || FHeadCodes[0] == lxREPLACE) && code == lexIdent &&
            (Is(text, u"VALUES") || Is(text, u"VALUE")) && FSemicolon && !FOpenBody)
            FDataMode = true;
        if (FView && !FFailedTables.isEmpty() && code == lexIdent) {
            const QString name = UnquotedValue(code, text).toLower();
            if (FFailedTables.contains(name)) FViewReads = name;
        }
        if (FSkipping) return;

        FPrev2 = FPrev1;
        FPrev1 = FCurr;
        FCurr = text == u"@" ? pAt : text == u"," ? pComma : code == lxSET ? pSet : pOther;
        const TValueRole role = FReader.Take(code, text);
        switch (role) {
        case TValueRole::Collation: Collation(UnquotedValue(code, text)); break;
        case TValueRole::Charset: Charset(UnquotedValue(code, text)); break;
        case TValueRole::Engine: Engine(UnquotedValue(code, text)); break;
        case TValueRole::DefinerUser: FDefinerUser = UnquotedValue(code, text); FDefinerHost = QStringLiteral("%"); FDefinerOpen = true; break;
        case TValueRole::DefinerHost: FDefinerHost = UnquotedValue(code, text); break;
        case TValueRole::DefinerKeyword:
        case TValueRole::DefinerCurrent:
        case TValueRole::None:
            break;
        }
        if (FDefinerOpen && role != TValueRole::DefinerUser && role != TValueRole::DefinerHost && text != u"@") Definer();
        if (FHeadCodes.front() == lxSET) SetWord(code, text);
    }

    // What a SET statement does: GLOBAL variables, and the sql_mode that decides whether an
    // unknown engine is refused or replaced.
    void SetWord(int code, QStringView text) {
        if (FSqlModeState == 2) {
            FSqlModeState = 0;
            FSqlMode = code == lexString ? UnquotedValue(code, text) : FFacts.SqlMode;
            // MySQL 8 has no NO_AUTO_CREATE_USER and refuses a sql_mode that names it.
            if (!FFacts.MariaDB && FFacts.Version >= 80000 && FSqlMode.contains(u"NO_AUTO_CREATE_USER", Qt::CaseInsensitive))
                Add({TCheckKind::UnknownSqlMode, TCheckSeverity::Fails, QStringLiteral("NO_AUTO_CREATE_USER"), false, {}});
        } else if (FSqlModeState == 1) {
            FSqlModeState = text == u"=" ? 2 : 0;
        }
        if (code == lexIdent && Is(text, u"sql_mode")) FSqlModeState = 1;
        if (FGlobalPending) {
            FGlobalPending = false;
            if (text == u".") {
                FGlobalPending = true;
                return;
            }
            if (!FFacts.MaySetGlobal)
                Add({TCheckKind::SetGlobal, TCheckSeverity::Fails, UnquotedValue(code, text).toLower(), false, {}});
        }
        if (code == lexIdent && (Is(text, u"GLOBAL") || Is(text, u"PERSIST") || Is(text, u"PERSIST_ONLY")) &&
            ((FPrev1 == pAt && FPrev2 == pAt) || FPrev1 == pComma || FPrev1 == pSet))
            FGlobalPending = true;
    }

    void Collation(const QString& name) {
        const QString normal = NormalCollationName(name);
        if (FFacts.Collations.contains(normal)) return;
        const QString to = FMends.MapCollation(normal);
        const bool mended = !to.isEmpty() && FFacts.Collations.contains(NormalCollationName(to));
        const QString safe = SafeCollationFor(normal, FFacts.Collations);
        Add({TCheckKind::UnknownCollation, TCheckSeverity::Fails, normal, mended,
             safe.isEmpty() ? QString() : QStringLiteral("--map-collation %1=%2").arg(normal, safe)});
    }

    void Charset(const QString& name) {
        const QString normal = NormalCharsetName(name);
        if (FFacts.Charsets.contains(normal)) return;
        Add({TCheckKind::UnknownCharset, TCheckSeverity::Fails, normal, false, {}});
    }

    void Engine(const QString& name) {
        const QString lower = name.toLower();
        if (FFacts.Engines.contains(lower)) return;
        const bool mended = !FMends.EngineFallback.isEmpty() && FFacts.Engines.contains(FMends.EngineFallback.toLower());
        // Without NO_ENGINE_SUBSTITUTION the server makes the table with its default engine.
        const bool refused = FSqlMode.contains(u"NO_ENGINE_SUBSTITUTION", Qt::CaseInsensitive);
        Add({TCheckKind::UnavailableEngine, refused ? TCheckSeverity::Fails : TCheckSeverity::Broken, name, mended,
             QStringLiteral("--engine-fallback %1").arg(FFacts.DefaultEngine.isEmpty() ? QStringLiteral("InnoDB") : FFacts.DefaultEngine)});
    }

    void Definer() {
        FDefinerOpen = false;
        const QString account = QStringLiteral("'%1'@'%2'").arg(FDefinerUser, FDefinerHost).toLower();
        const bool mended = FMends.Definer != TDefinerMend::Keep;
        const QString display = dac::QuoteIdentifier(FDefinerUser) + u'@' + dac::QuoteIdentifier(FDefinerHost);
        const bool current = account == FFacts.CurrentAccount;
        if (!current && !FFacts.MaySetDefiner)
            Add({TCheckKind::DefinerPrivilege, TCheckSeverity::Fails, display, mended, QStringLiteral("--definer current")});
        if (FFacts.AccountsKnown && !FFacts.Accounts.contains(account))
            Add({TCheckKind::MissingDefiner, TCheckSeverity::Broken, display, mended, QStringLiteral("--definer current")});
    }

    void Opener(QStringView opener) {
        if (opener.startsWith(u"/*M!999999")) {
            // mariadb-dump's first line: a command to its own client, a comment to any server.
            // MySQL's client refuses it; this restore skips it, as the mariadb client does.
            FSkipping = true;
            if (FFacts.MariaDB) return;
            Item({TCheckKind::SandboxLine, TCheckSeverity::Note, QStringLiteral("/*M!999999\\-"), false, {}}, FLexer.PrevLine() + 1);
            FSkipping = true;
            return;
        }
        if (RunsExecutableComment(opener, FFacts)) return;
        FSkipping = true;
        Item({TCheckKind::SkippedComment, TCheckSeverity::Note, opener.toString(), false, {}}, FLexer.PrevLine() + 1);
    }

    void Add(TFinding f) {
        for (const TFinding& g : FFindings)
            if (g.Kind == f.Kind && g.Name == f.Name) return;
        FFindings.push_back(std::move(f));
    }

    TCheckItem& Item(const TFinding& f, qint64 line) {
        const QString key = QString::number(int(f.Kind)) + u':' + f.Name;
        auto it = FIndex.constFind(key);
        if (it == FIndex.cend()) {
            it = FIndex.insert(key, FReport.Items.size());
            TCheckItem item;
            item.Kind = f.Kind;
            item.Severity = f.Severity;
            item.Name = f.Name;
            item.FirstLine = line;
            item.Suggestion = f.Suggestion;
            FReport.Items.push_back(item);
        }
        TCheckItem& item = FReport.Items[*it];
        if (f.Severity > item.Severity) item.Severity = f.Severity;
        ++item.Count;
        if (f.Mended) ++item.Mended;
        return item;
    }

    // The table a statement of a table section acts on, from its first words: INSERT, REPLACE,
    // LOCK TABLES, ALTER TABLE, CREATE TABLE.
    QString Target(bool& create) const {
        create = false;
        if (FHead.empty()) return QString();
        size_t i = 1;
        auto skip = [&](std::initializer_list<const char16_t*> words) {
            while (i < FHead.size()) {
                bool any = false;
                for (const char16_t* w : words) any = any || Is(FHead[i], w);
                if (!any) break;
                ++i;
            }
        };
        const int first = FHeadCodes[0];
        if (first == lxINSERT || first == lxREPLACE) {
            skip({u"LOW_PRIORITY", u"DELAYED", u"HIGH_PRIORITY", u"IGNORE", u"INTO"});
        } else if (first == lxLOCK) {
            skip({u"TABLES", u"TABLE"});
        } else if (first == lexIdent && Is(FHead[0], u"ALTER") && FHead.size() > 1 && Is(FHead[1], u"TABLE")) {
            i = 2;
        } else if (first == lxCREATE) {
            skip({u"OR", u"REPLACE", u"TEMPORARY"});
            if (i >= FHead.size() || !Is(FHead[i], u"TABLE")) return QString();
            ++i;
            skip({u"IF", u"NOT", u"EXISTS"});
            create = true;
        } else {
            return QString();
        }
        if (i >= FHead.size()) return QString();
        if (i + 2 < FHead.size() && FHead[i + 1] == u".") i += 2;
        return UnquotedValue(FHead[i].startsWith(u'`') ? lexIdent : lexString, FHead[i]).toLower();
    }

    void EndStatement(bool command = false) {
        if (FDefinerOpen) Definer();
        if (FStarted && !command && FDelimiterCommand == 0) {
            ++FReport.Statements;
            bool fails = false;
            for (const TFinding& f : FFindings) {
                Item(f, FLine);
                if (f.Severity == TCheckSeverity::Fails && !f.Mended) fails = true;
            }
            bool create = false;
            const QString table = Target(create);
            if (!fails && !table.isEmpty() && !create && FFailedTables.contains(table)) {
                Item({TCheckKind::DependentFailure, TCheckSeverity::Fails, table, false, {}}, FLine);
                fails = true;
            }
            if (!fails && !FViewReads.isEmpty()) {
                Item({TCheckKind::DependentFailure, TCheckSeverity::Fails, FViewReads, false, {}}, FLine);
                fails = true;
            }
            if (create) {
                if (fails) FFailedTables.insert(table);
                else FFailedTables.remove(table);
            }
            if (fails) {
                ++FReport.FailingStatements;
                if (FReport.FailingLines.size() < TCheckReport::MaxFailingLines) FReport.FailingLines.push_back(FLine);
            }
        }
        FFindings.clear();
        FDataMode = false;
        FHead.clear();
        FHeadCodes.clear();
        FStarted = false;
        FOpenBody = false;
        FView = false;
        FViewReads.clear();
        FDelimiterCommand = 0;
        FNewDelimiter.clear();
        FTail.clear();
        FSlashPending = false;
        FSkipping = FLexer.InCodeComment() && FSkipping;
        FReader.Reset();
        FDefinerOpen = false;
        FSqlModeState = 0;
        FGlobalPending = false;
        FPrev1 = FPrev2 = FCurr = pOther;
    }

    TParser& FLexer;
    const TServerFacts& FFacts;
    const TRestoreMends& FMends;
    TCheckReport FReport;
    QHash<QString, size_t> FIndex;
    QString FSqlMode;
    QSet<QString> FFailedTables;

    QString FDelimiter = QStringLiteral(";");
    bool FSemicolon = true;  // the delimiter is ";"
    bool FDataMode = false;  // in the rows of an INSERT
    QString FTail;
    int FDelimiterCommand = 0;  // 1: DELIMITER read, 2: reading its value
    QString FNewDelimiter;
    bool FOpenBody = false;
    bool FSlashPending = false;
    bool FBlankHadLineEnd = true;
    bool FSkipping = false;  // inside an executable comment the target skips

    bool FStarted = false;
    qint64 FLine = 0;
    std::vector<QString> FHead;
    std::vector<int> FHeadCodes;
    bool FView = false;
    QString FViewReads;
    std::vector<TFinding> FFindings;
    TClauseReader FReader;
    // What the last lexemes were, as far as SET GLOBAL goes.
    enum TPrev { pOther, pAt, pComma, pSet };
    TPrev FPrev1 = pOther, FPrev2 = pOther, FCurr = pOther;
    bool FDefinerOpen = false;
    QString FDefinerUser, FDefinerHost;
    int FSqlModeState = 0;
    bool FGlobalPending = false;
};

}  // namespace

bool RunsExecutableComment(QStringView opener, const TServerFacts& facts) {
    const bool maria = opener.startsWith(u"/*M!");
    const int version = OpenerVersion(opener);
    if (!facts.MariaDB) return !maria && version <= facts.Version;
    if (maria) return version <= facts.Version;
    // MariaDB skips what MySQL 5.7 and 8 put under their own versions.
    return version <= facts.Version && (version < 50700 || version > 99999);
}

bool TCheckReport::WouldFail() const {
    for (const TCheckItem& i : Items)
        if (i.Severity != TCheckSeverity::Note && i.Mended < i.Count) return true;
    return false;
}

const TCheckItem* TCheckReport::Find(TCheckKind kind, const QString& name) const {
    for (const TCheckItem& i : Items)
        if (i.Kind == kind && i.Name == name) return &i;
    return nullptr;
}

TCheckReport CheckScript(QIODevice* stream, const TServerFacts& facts, const TRestoreMends& mends, TTextEncoding encoding) {
    const qint64 start = stream->isSequential() ? 0 : stream->pos();
    TMyParser lexer(stream, encoding);
    TCheckReport report = TScan(lexer, facts, mends).Run();
    report.Bytes = stream->isSequential() ? 0 : stream->pos() - start;
    return report;
}

TCheckReport CheckScript(const QString& text, const TServerFacts& facts, const TRestoreMends& mends) {
    TMyParser lexer(text);
    TCheckReport report = TScan(lexer, facts, mends).Run();
    report.Bytes = text.size();
    return report;
}

TRestoreMends OfferedMends(const TCheckReport& report, const TServerFacts& facts) {
    TRestoreMends mends;
    mends.KnownEngines = facts.Engines;
    for (const TCheckItem& i : report.Items) {
        switch (i.Kind) {
        case TCheckKind::UnknownCollation: {
            const QString to = SafeCollationFor(i.Name, facts.Collations);
            if (!to.isEmpty()) mends.Collations.emplace_back(i.Name, to);
            break;
        }
        case TCheckKind::MissingDefiner:
        case TCheckKind::DefinerPrivilege: mends.Definer = TDefinerMend::Current; break;
        case TCheckKind::UnavailableEngine:
            if (!facts.DefaultEngine.isEmpty()) mends.EngineFallback = facts.DefaultEngine;
            break;
        default: break;
        }
    }
    return mends;
}

QString CheckKindText(TCheckKind kind) {
    switch (kind) {
    case TCheckKind::UnknownCollation: return QStringLiteral("unknown collation");
    case TCheckKind::UnknownCharset: return QStringLiteral("unknown character set");
    case TCheckKind::MissingDefiner: return QStringLiteral("DEFINER account does not exist");
    case TCheckKind::DefinerPrivilege: return QStringLiteral("DEFINER of another account needs SUPER or SET USER");
    case TCheckKind::UnavailableEngine: return QStringLiteral("engine not available");
    case TCheckKind::SetGlobal: return QStringLiteral("SET GLOBAL needs SUPER or SYSTEM_VARIABLES_ADMIN");
    case TCheckKind::SkippedComment: return QStringLiteral("executable comment the server skips");
    case TCheckKind::SandboxLine: return QStringLiteral("sandbox line, skipped as the mariadb client does");
    case TCheckKind::DependentFailure: return QStringLiteral("table whose CREATE TABLE fails");
    case TCheckKind::UnknownSqlMode: return QStringLiteral("sql_mode the server does not have");
    }
    return QString();
}

QString FormatCheckReport(const TCheckReport& r) {
    QString out;
    auto severity = [](const TCheckItem& i) {
        if (i.Mended == i.Count && i.Severity != TCheckSeverity::Note) return QStringLiteral("mended");
        switch (i.Severity) {
        case TCheckSeverity::Fails: return QStringLiteral("fails");
        case TCheckSeverity::Broken: return QStringLiteral("broken");
        case TCheckSeverity::Note: break;
        }
        return QStringLiteral("note");
    };
    for (const TCheckItem& i : r.Items) {
        out += QStringLiteral("%1: %2 %3: %4 %5, first at line %6")
                   .arg(severity(i), CheckKindText(i.Kind), i.Name)
                   .arg(i.Count)
                   .arg(i.Kind == TCheckKind::SkippedComment || i.Kind == TCheckKind::SandboxLine
                            ? QLatin1String(i.Count == 1 ? "comment" : "comments")
                            : QLatin1String(i.Count == 1 ? "statement" : "statements"))
                   .arg(i.FirstLine);
        if (i.Mended > 0 && i.Mended < i.Count) out += QStringLiteral(", %1 mended").arg(i.Mended);
        if (!i.Suggestion.isEmpty() && i.Mended < i.Count) out += QStringLiteral("; mend with %1").arg(i.Suggestion);
        out += u'\n';
    }
    out += QStringLiteral("%1 statements checked, %2 would fail\n").arg(r.Statements).arg(r.FailingStatements);
    return out;
}

TServerFacts ReadServerFacts(dac::TCustomMyConnection& c) {
    TServerFacts f;
    const dac::TTextResult about =
        dac::ReadText(c, QStringLiteral("SELECT VERSION() AS v, CURRENT_USER() AS u, @@SESSION.sql_mode AS m"));
    const QString version = about.Value(0, QStringLiteral("v")).value_or(QString());
    f.MariaDB = version.contains(u"MariaDB", Qt::CaseInsensitive);
    const QStringList parts = version.section(u'-', 0, 0).split(u'.');
    auto part = [&](int i) { return i < parts.size() ? parts[i].toInt() : 0; };
    f.Version = part(0) * 10000 + part(1) * 100 + part(2);
    f.SqlMode = about.Value(0, QStringLiteral("m")).value_or(QString());
    const QString current = about.Value(0, QStringLiteral("u")).value_or(QString());
    const qsizetype at = current.lastIndexOf(u'@');
    f.CurrentAccount = QStringLiteral("'%1'@'%2'").arg(current.left(at), current.mid(at + 1)).toLower();

    auto column = [&](const QString& sql, QSet<QString>& into) {
        const dac::TTextResult r = dac::ReadText(c, sql);
        for (const auto& row : r.Rows)
            if (!row.empty() && row[0]) into.insert(row[0]->toLower());
    };
    column(QStringLiteral("SELECT COLLATION_NAME FROM information_schema.COLLATIONS"), f.Collations);
    // MariaDB 10.10 and later list a collation of several character sets once
    // (uca1400_ai_ci); the full names are beside the character sets.
    if (f.MariaDB && f.Version >= 101000)
        column(QStringLiteral("SELECT FULL_COLLATION_NAME FROM information_schema.COLLATION_CHARACTER_SET_APPLICABILITY"),
               f.Collations);
    column(QStringLiteral("SELECT CHARACTER_SET_NAME FROM information_schema.CHARACTER_SETS"), f.Charsets);
    const dac::TTextResult engines =
        dac::ReadText(c, QStringLiteral("SELECT ENGINE, SUPPORT FROM information_schema.ENGINES"));
    for (const auto& row : engines.Rows) {
        if (row.size() < 2 || !row[0] || !row[1]) continue;
        if (*row[1] == u"DEFAULT") f.DefaultEngine = *row[0];
        if (*row[1] == u"YES" || *row[1] == u"DEFAULT") f.Engines.insert(row[0]->toLower());
    }
    // The current account's global privileges, as the server grants them to it.
    const dac::TTextResult privileges =
        dac::ReadText(c, QStringLiteral("SELECT PRIVILEGE_TYPE FROM information_schema.USER_PRIVILEGES"));
    for (const auto& row : privileges.Rows) {
        if (row.empty() || !row[0]) continue;
        const QString p = row[0]->toUpper();
        if (p == u"SUPER" || p == u"SET USER" || p == u"SET_USER_ID") f.MaySetDefiner = true;
        if (p == u"SUPER" || p == u"SYSTEM_VARIABLES_ADMIN") f.MaySetGlobal = true;
    }
    // The accounts, when this account may read them; without, definers are not checked.
    try {
        const dac::TTextResult users = dac::ReadText(c, QStringLiteral("SELECT User, Host FROM mysql.user"));
        for (const auto& row : users.Rows)
            if (row.size() >= 2 && row[0] && row[1])
                f.Accounts.insert(QStringLiteral("'%1'@'%2'").arg(*row[0], *row[1]).toLower());
        f.AccountsKnown = true;
    } catch (const EDatabaseError&) {
        // Refused: the report then says nothing about missing definers.
    }
    return f;
}

}  // namespace calvoro::dump
