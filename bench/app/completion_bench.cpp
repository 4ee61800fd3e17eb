// completion_bench --host H --port P --user U --password W --query DB [--setup TABLES]
//
// The main window as the program makes it (offscreen unless QT_QPA_PLATFORM says otherwise),
// connected to DB. --setup first makes DB anew with TABLES tables t0 … of four columns each.
// Measures the completion of the Custom query editor and prints
// "tables=<n> listed=<n> load_seconds=<s> first_key_after_reload_ms=<ms>
// typing_while_loading_max_ms=<ms> open_ms=<ms> narrow_ms=<ms> member_ms=<ms> peak_rss_kb=<k>":
//   load: from the reload until every table's columns are in the catalog (off the window's thread);
//   first_key_after_reload: the first key typed after the reload button, which also waits for
//   the window to repaint the lists the reload filled;
//   typing_while_loading: the slowest of the other keys typed into the editor meanwhile;
//   open: Ctrl+Space after "SELECT * FROM " until the list of every table is shown;
//   narrow: the median of the keys "t", "1", "2" typed then, each until the narrowed list shows;
//   member: "." after an alias until its columns are listed.
// Each figure is the median of five rounds unless said otherwise.

#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SplashScrUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "app/editor/completion/CompletionLoader.h"
#include "app/editor/completion/EditorCompletion.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/BenchMeasure.h"
#include "support/BenchOptions.h"

#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace calvoro;
using namespace calvoro::app;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds from a key to the list as it then shows (events processed, the popup painted).
double Key(TSynEdit& editor, TEditorCompletion& completion, int key, Qt::KeyboardModifiers mods, const QString& text) {
    const auto start = Clock::now();
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QCoreApplication::sendEvent(&editor, &press);
    QCoreApplication::processEvents();
    if (completion.IsOpen()) completion.Popup()->repaint();
    return Since(start) * 1000;
}

void Setup(const TBenchOptions& o, const QString& database, long tables) {
    dac::TMyConnection c;
    c.SetServer(QString::fromStdString(o.Host));
    c.SetPort(int(o.Port));
    c.SetUsername(QString::fromStdString(o.User));
    c.SetPassword(QString::fromStdString(o.Password));
    c.SetLoginPrompt(false);
    c.SSLOptions().Mode = protocol::smDisabled;
    c.Connect();
    const QString db = dac::QuoteIdentifier(database);
    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS ") + db);
    c.ExecSQL(QStringLiteral("CREATE DATABASE ") + db);
    for (long i = 0; i < tables; ++i)
        c.ExecSQL(QStringLiteral("CREATE TABLE %1.t%2 (id INT PRIMARY KEY, customer_id INT, name VARCHAR(40), "
                                 "created DATETIME) ENGINE=MyISAM")
                      .arg(db)
                      .arg(i));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    try {
        const TBenchOptions o = ParseBenchOptions(argc, argv);
        const QString database = QString::fromStdString(o.Query);
        if (o.User.empty() || database.isEmpty() || o.Peer || o.Prepared) {
            std::fprintf(stderr, "usage: completion_bench --host H --port P --user U --password W --query DB "
                                 "[--setup TABLES]\n");
            return 2;
        }
        if (o.SetupRows > 0) Setup(o, database, o.SetupRows);
        CalvoroApplication app(argc, argv);
        ShowSplashAtStart() = false;
        auto program = CreateProgram();
        TTessrinForm& form = *program->MainForm;
        dac::TMyConnection& c = *program->Data->ToolsConnection;
        c.SetServer(QString::fromStdString(o.Host));
        c.SetPort(int(o.Port));
        c.SetUsername(QString::fromStdString(o.User));
        c.SetPassword(QString::fromStdString(o.Password));
        c.SetLoginPrompt(false);
        c.SSLOptions().Mode = protocol::smDisabled;
        c.SetDatabase(database);
        form.show();
        form.resize(950, 755);
        form.btnConnectToServerClick();
        if (!program->Data->ToolsConnected()) throw std::runtime_error("not connected");
        form.TntPageControl1->setCurrentWidget(form.TntTabSheet5);
        TSynEdit& editor = *form.mmoCustomQuery;
        TEditorCompletion& completion = *form.QueryCompletion;
        TCompletionLoader& loader = *form.CompletionLoader;
        editor.setFocus();

        auto loaded = [&] {
            const TDatabaseCatalog* d = loader.Catalog().Database({});
            return d && d->ColumnsLoaded() && !loader.Loading({});
        };
        std::vector<double> loads, open, narrow, member;
        std::vector<double> firstKey;
        double typingMax = 0;
        int shown = 0;
        for (int round = 0; round < 5; ++round) {
            // The reload button, then typing while the names come.
            const auto start = Clock::now();
            form.spbtnReloadDBobjects->click();
            editor.SetText(QString());
            for (int i = 0; !loaded(); ++i) {
                if (const QString failure = loader.Failure(database); !failure.isEmpty())
                    throw std::runtime_error("the names could not be read: " + failure.toStdString());
                const QChar ch = QStringLiteral("SELECT x FROM y WHERE z = 1 ")[i % 28];
                const double ms = Key(editor, completion, ch.toUpper().unicode(), Qt::NoModifier, ch);
                // The first key also pays for the repaint of the lists the reload filled.
                if (i == 0) firstKey.push_back(ms);
                else typingMax = std::max(typingMax, ms);
            }
            loads.push_back(Since(start));
            std::fprintf(stderr, "round %d: loaded in %.3f s\n", round + 1, loads.back());

            editor.SetText(QStringLiteral("SELECT * FROM "));
            editor.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
            open.push_back(Key(editor, completion, Qt::Key_Space, Qt::ControlModifier, QStringLiteral(" ")));
            shown = int(completion.Candidates().size());
            if (!completion.IsOpen() || size_t(shown) < loader.Catalog().Database({})->Tables().size())
                throw std::runtime_error("the list does not show every table");
            for (const char* k : {"t", "1", "2"})
                narrow.push_back(Key(editor, completion, QChar::fromLatin1(k[0]).toUpper().unicode(), Qt::NoModifier,
                                     QString::fromLatin1(k)));
            if (completion.Candidates().empty()) throw std::runtime_error("no table t12…");
            completion.Close();

            editor.SetText(QStringLiteral("SELECT a FROM t17 a"));
            editor.SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 8l);
            member.push_back(Key(editor, completion, Qt::Key_Period, Qt::NoModifier, QStringLiteral(".")));
            if (completion.Candidates().size() != 4) throw std::runtime_error("the alias's columns are not listed");
            completion.Close();
        }
        std::printf("tables=%zu listed=%d load_seconds=%.3f first_key_after_reload_ms=%.1f typing_while_loading_max_ms=%.1f "
                    "open_ms=%.1f "
                    "narrow_ms=%.1f member_ms=%.1f peak_rss_kb=%ld\n",
                    loader.Catalog().Database({})->Tables().size(), shown, Median(loads), Median(firstKey), typingMax, Median(open),
                    Median(narrow), Median(member), PeakRssKb());
        program->Data.reset();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "completion_bench: %s\n", e.what());
        return 1;
    }
}
