#include "TessrinUnit.h"

#include "AboutUnit.h"
#include "DataUnit.h"
#include "Pictures.h"
#include "SplashScrUnit.h"
#include "contactform.h"
#include "SynEdit.h"
#include "SynHighlighterMySQL.h"
#include "VorneskUtils.h"
#include "admin/ServerTab.h"
#include "editor/QueryHistoryStore.h"
#include "editor/completion/CompletionLoader.h"
#include "sessions/SessionBand.h"
#include "toolkit.h"
#include "common/AppTitle.h"
#include "common/CodePage.h"
#include "common/Exceptions.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyObjectStatements.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "dataaccess/mysql/ReadOnlySession.h"
#include "dump/MyDump.h"
#include "script/MyScript.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>

namespace calvoro::app {

TTessrinForm::TTessrinForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("TessrinForm"));
    setWindowTitle(QStringLiteral("Tessrin"));
    setMinimumSize(950, 755);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* bar = new QWidget(central);
    CreateTopBar(bar);
    layout->addWidget(bar);
    layout->addWidget(SessionBand = new TSessionBand(central));

    TntPageControl1 = Make<QTabWidget>("TntPageControl1", central);
    TntTabSheet1 = Make<QWidget>("TntTabSheet1");
    TntTabSheet2 = Make<QWidget>("TntTabSheet2");
    TntTabSheet3 = Make<QWidget>("TntTabSheet3");
    TntTabSheet4 = Make<QWidget>("TntTabSheet4");
    TntTabSheet5 = Make<QWidget>("TntTabSheet5");
    TntPageControl1->addTab(TntTabSheet1, QStringLiteral("  Database  "));
    TntPageControl1->addTab(TntTabSheet2, QStringLiteral("  Backup/Restore  "));
    TntPageControl1->addTab(TntTabSheet3, QStringLiteral("  Execute a script  "));
    TntPageControl1->addTab(TntTabSheet4, QStringLiteral("  View Data  "));
    TntPageControl1->addTab(TntTabSheet5, QStringLiteral("  Custom query  "));
    TntPageControl1->addTab(ServerTab = new TServerTab, QStringLiteral("  Server  "));
    CreateDatabaseTab();
    CreateBackupTab();
    CreateScriptTab();
    CreateViewDataTab();
    CreateCustomQueryTab();
    layout->addWidget(TntPageControl1, 1);
    setCentralWidget(central);

    FormCreate();
}

TTessrinForm::~TTessrinForm() {
    if (FStopper.joinable()) FStopper.join();
    KeepQueryText();
}

void TTessrinForm::SetData(TData* data) {
    FData = data;
    for (TSynEdit* editor : {mmoExecScript, mmoCustomQuery}) editor->SetHighlighter(data ? data->SynMySQL.get() : nullptr);
    ServerTab->SetData(data);
    if (data) for (dac::TMyQuery* grid : {data->ToolsQuery.get(), data->ToolsCustomQuery.get()}) dac::RefuseRowChangesWhenReadOnly(*grid);
}

void TTessrinForm::SetSideWindows(TSplashScrForm* splash, TAboutForm* about, Tcontactmessage* contact) {
    FSplash = splash;
    FAbout = about;
    FContact = contact;
}

void TTessrinForm::CreateTopBar(QWidget* bar) {
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    TntLabel2 = Make<QLabel>("TntLabel2", QStringLiteral("MySQL database:"), bar);
    cbxDataBases = Make<QComboBox>("cbxDataBases", bar);
    cbxDataBases->setMinimumWidth(220);
    cbxDataBases->setEnabled(false);

    spbtnConnect = Make<QToolButton>("spbtnConnect", bar);
    spbtnConnect->setToolTip(QStringLiteral("Connect to selected database"));
    spbtnConnect->setAccessibleName(QStringLiteral("Connect to selected database"));
    spbtnConnect->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    spbtnConnect->setEnabled(false);
    spbtnReloadDBobjects = Make<QToolButton>("spbtnReloadDBobjects", bar);
    spbtnReloadDBobjects->setToolTip(QStringLiteral("Reload DB objects"));
    spbtnReloadDBobjects->setAccessibleName(QStringLiteral("Reload database objects"));
    spbtnReloadDBobjects->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    spbtnReloadDBobjects->setEnabled(false);

    spbtnAbout = Make<QPushButton>("spbtnAbout", QStringLiteral("About"), bar);
    spbtnContactUs = Make<QPushButton>("spbtnContactUs", QStringLiteral("Contact Us"), bar);
    Image1 = Make<QLabel>("Image1", bar);
    Image1->setPixmap(MakerLogo());
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);
    spbtnExit = Make<QPushButton>("spbtnExit", QStringLiteral("Exit"), bar);
    connect(spbtnExit, &QPushButton::clicked, this, &TTessrinForm::spbtnExitClick);
    connect(spbtnAbout, &QPushButton::clicked, this, &TTessrinForm::spbtnAboutClick);
    connect(spbtnContactUs, &QPushButton::clicked, this, &TTessrinForm::spbtnContactUsClick);

    row->addWidget(TntLabel2);
    row->addWidget(cbxDataBases);
    row->addWidget(spbtnConnect);
    row->addWidget(spbtnReloadDBobjects);
    row->addStretch(1);
    row->addWidget(spbtnAbout);
    row->addWidget(spbtnContactUs);
    row->addWidget(Image1);
    row->addWidget(spbtnExit);
    TntLabel2->setBuddy(cbxDataBases);

    connect(cbxDataBases, &QComboBox::currentIndexChanged, this, Guarded([this] { cbxDataBasesChange(); }));
    connect(spbtnConnect, &QToolButton::clicked, this, Guarded([this] { spbtnConnectClick(); }));
    connect(spbtnReloadDBobjects, &QToolButton::clicked, this, Guarded([this] { spbtnReloadDBobjectsClick(); }));
}

void TTessrinForm::CreateDatabaseTab() {
    auto* page = new QVBoxLayout(TntTabSheet1);
    btnConnectToServer = Make<QPushButton>("btnConnectToServer",
                                           QStringLiteral("Connect to MySQL server"), TntTabSheet1);
    btnConnectToServer->setMinimumHeight(40);
    page->addWidget(btnConnectToServer);

    TntGroupBox1 = Make<QGroupBox>("TntGroupBox1", QStringLiteral("Create Database"), TntTabSheet1);
    auto* group = new QVBoxLayout(TntGroupBox1);
    auto* nameRow = new QHBoxLayout;
    TntLabel5 = Make<QLabel>("TntLabel5", QStringLiteral("Enter database name:"), TntGroupBox1);
    TntEdit1 = Make<QLineEdit>("TntEdit1", TntGroupBox1);
    TntBitBtn2 = Make<QPushButton>("TntBitBtn2", QStringLiteral("Create Database"), TntGroupBox1);
    TntBitBtn2->setEnabled(false);
    nameRow->addWidget(TntLabel5);
    nameRow->addWidget(TntEdit1, 1);
    nameRow->addWidget(TntBitBtn2);
    TntLabel5->setBuddy(TntEdit1);
    connect(btnConnectToServer, &QPushButton::clicked, this, Guarded([this] { btnConnectToServerClick(); }));
    connect(TntBitBtn2, &QPushButton::clicked, this, Guarded([this] { TntBitBtn2Click(); }));
    group->addLayout(nameRow);
    TntLabel6 = Make<QLabel>("TntLabel6", QStringLiteral("NOTE: You have to be connected to a server first"),
                             TntGroupBox1);
    TntLabel17 = Make<QLabel>("TntLabel17", QStringLiteral("Warning:"), TntGroupBox1);
    TntLabel17->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    TntLabel18 = Make<QLabel>("TntLabel18",
                              QStringLiteral("This operations cannot be Undone and it can cause data lost"),
                              TntGroupBox1);
    TntLabel19 = Make<QLabel>("TntLabel19", QStringLiteral("You have to know well what are you doing"),
                              TntGroupBox1);
    group->addWidget(TntLabel6);
    group->addWidget(TntLabel17);
    group->addWidget(TntLabel18);
    group->addWidget(TntLabel19);
    page->addWidget(TntGroupBox1);
    page->addStretch(1);
}

void TTessrinForm::CreateBackupTab() {
    auto* page = new QVBoxLayout(TntTabSheet2);
    auto* columns = new QHBoxLayout;

    auto* objects = Make<QGroupBox>("TntGroupBox2", QStringLiteral("Select tables to backup"), TntTabSheet2);
    auto* inObjects = new QVBoxLayout(objects);
    TntLabel23 = Make<QLabel>("TntLabel23", QStringLiteral("If no table is selected all database will be backedup"),
                              objects);
    lbxObjectsToBackup = Make<QListWidget>("lbxObjectsToBackup", objects);
    lbxObjectsToBackup->setSelectionMode(QAbstractItemView::MultiSelection);
    lbxObjectsToBackup->setAccessibleName(objects->title());
    auto* selectRow = new QHBoxLayout;
    TntBitBtn3 = Make<QPushButton>("TntBitBtn3", QStringLiteral("Select All"), objects);
    TntBitBtn4 = Make<QPushButton>("TntBitBtn4", QStringLiteral("Deselect All"), objects);
    selectRow->addWidget(TntBitBtn3);
    selectRow->addWidget(TntBitBtn4);
    selectRow->addStretch(1);
    inObjects->addWidget(TntLabel23);
    inObjects->addWidget(lbxObjectsToBackup, 1);
    inObjects->addLayout(selectRow);
    columns->addWidget(objects, 1);

    auto* right = new QVBoxLayout;
    auto* options = Make<QGroupBox>("TntGroupBox3", QStringLiteral("Backup options"), TntTabSheet2);
    auto* inOptions = new QVBoxLayout(options);
    auto box = [&](QCheckBox*& check, const char* name, const char* caption, bool checked) {
        check = Make<QCheckBox>(name, QString::fromLatin1(caption), options);
        check->setChecked(checked);
        inOptions->addWidget(check);
    };
    box(cbDB, "cbDB", "Backup database", false);
    box(cbStruct, "cbStruct", "Backup tables structure", true);
    box(cbData, "cbData", "Backup tables data", true);
    box(cbViews, "cbViews", "Backup views", false);
    box(cbProcedures, "cbProcedures", "Backup stored procedures", false);
    box(cbTriggers, "cbTriggers", "Backup triggers", false);
    DumpChoices.AddBackupChoices(options, inOptions);
    right->addWidget(options);

    auto* backup = Make<QGroupBox>("TntGroupBox4", QStringLiteral("Backup"), TntTabSheet2);
    auto* inBackup = new QVBoxLayout(backup);
    TntSpeedButton1 = Make<QPushButton>("TntSpeedButton1", QStringLiteral("Backup"), backup);
    TntSpeedButton1->setToolTip(QStringLiteral("Backups data to a specified file"));
    TntSpeedButton1->setMinimumHeight(40);
    inBackup->addWidget(TntSpeedButton1);
    right->addWidget(backup);

    auto* restore = Make<QGroupBox>("TntGroupBox10", QStringLiteral("Restore"), TntTabSheet2);
    auto* inRestore = new QVBoxLayout(restore);
    TntLabel7 = Make<QLabel>("TntLabel7", QStringLiteral("Restores data from an SQL file you will be prompted for"),
                             restore);
    TntLabel7->setWordWrap(true);
    TntLabel8 = Make<QLabel>("TntLabel8", QStringLiteral("Warning:"), restore);
    TntLabel8->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    TntLabel9 = Make<QLabel>("TntLabel9", QStringLiteral("This operations cannot be Undone and it can cause data lost"),
                             restore);
    TntLabel9->setWordWrap(true);
    TntLabel10 = Make<QLabel>("TntLabel10", QStringLiteral("You have to know well what are you doing"), restore);
    TntSpeedButton2 = Make<QPushButton>("TntSpeedButton2", QStringLiteral("Restore"), restore);
    TntSpeedButton2->setToolTip(QStringLiteral("Restores data from a specified file"));
    TntSpeedButton2->setMinimumHeight(40);
    for (QWidget* w : std::initializer_list<QWidget*>{TntLabel7, TntLabel8, TntLabel9, TntLabel10, TntSpeedButton2})
        inRestore->addWidget(w);
    DumpChoices.AddRestoreChoices(restore, inRestore);
    right->addWidget(restore);
    right->addStretch(1);
    auto* rightWidget = new QWidget(TntTabSheet2);
    rightWidget->setLayout(right);
    rightWidget->setFixedWidth(320);
    columns->addWidget(rightWidget);
    page->addLayout(columns, 1);

    auto* bottom = new QHBoxLayout;
    ProgressBar1 = Make<QProgressBar>("ProgressBar1", TntTabSheet2);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setVisible(false);
    btnStopDump = Make<QPushButton>("btnStopDump", QStringLiteral("Stop"), TntTabSheet2);
    btnStopDump->setToolTip(QStringLiteral("Stops the backup or restore"));
    btnStopDump->setVisible(false);
    bottom->addWidget(ProgressBar1, 1);
    bottom->addWidget(btnStopDump);
    page->addLayout(bottom);

    connect(TntBitBtn3, &QPushButton::clicked, this, Guarded([this] { TntBitBtn3Click(); }));
    connect(TntBitBtn4, &QPushButton::clicked, this, Guarded([this] { TntBitBtn4Click(); }));
    connect(TntSpeedButton1, &QPushButton::clicked, this, Guarded([this] { TntSpeedButton1Click(); }));
    connect(TntSpeedButton2, &QPushButton::clicked, this, Guarded([this] { TntSpeedButton2Click(); }));
    connect(btnStopDump, &QPushButton::clicked, this, [this] {
        // On a thread of its own: stopping waits for the running statement, which may itself
        // be waiting for this thread (a question about a failed statement).
        if (FRunningDump && !FStopper.joinable()) {
            FRunningDump->RequestStop();
            FStopper = std::thread([dump = FRunningDump] { dump->BreakExec(); });
        }
    });
}

void TTessrinForm::CreateScriptTab() {
    auto* page = new QVBoxLayout(TntTabSheet3);
    auto* top = new QHBoxLayout;
    TntBitBtn5 = Make<QPushButton>("TntBitBtn5", QStringLiteral("Load the script to be executed"), TntTabSheet3);
    TntBitBtn5->setToolTip(QStringLiteral("Loads the script to be executed"));
    auto* notes = new QVBoxLayout;
    TntLabel11 = Make<QLabel>("TntLabel11",
                              QStringLiteral("NOTE: If the script is too big (50-100Mb and more) it will cause long "
                                             "time to load and even application crash"),
                              TntTabSheet3);
    TntLabel12 = Make<QLabel>("TntLabel12", QStringLiteral("It is advised to use Restore function instead"),
                              TntTabSheet3);
    notes->addWidget(TntLabel11);
    notes->addWidget(TntLabel12);
    top->addWidget(TntBitBtn5);
    top->addLayout(notes, 1);
    page->addLayout(top);

    auto* split = new QSplitter(Qt::Horizontal, TntTabSheet3);
    mmoExecScript = Make<TSynEdit>("mmoExecScript", split);
    mmoExecScript->setAccessibleName(QStringLiteral("Script"));
    auto* result = Make<QGroupBox>("TntGroupBox5", QStringLiteral("Result"), split);
    auto* inResult = new QVBoxLayout(result);
    TntMemo2 = Make<QPlainTextEdit>("TntMemo2", result);
    TntMemo2->setAccessibleName(result->title());
    TntMemo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TntMemo2->setReadOnly(true);
    inResult->addWidget(TntMemo2);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    page->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    auto* warnings = new QVBoxLayout;
    TntLabel13 = Make<QLabel>("TntLabel13", QStringLiteral("Warning:"), TntTabSheet3);
    TntLabel13->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    TntLabel14 = Make<QLabel>("TntLabel14", QStringLiteral("This operations cannot be Undone "), TntTabSheet3);
    TntLabel20 = Make<QLabel>("TntLabel20", QStringLiteral("and it can cause data lost"), TntTabSheet3);
    TntLabel15 = Make<QLabel>("TntLabel15", QStringLiteral("You have to know well what are you doing"), TntTabSheet3);
    auto* warningLine = new QHBoxLayout;
    warningLine->addWidget(TntLabel13);
    warningLine->addWidget(TntLabel14);
    warningLine->addWidget(TntLabel20);
    warningLine->addStretch(1);
    warnings->addLayout(warningLine);
    warnings->addWidget(TntLabel15);
    bottom->addLayout(warnings, 1);
    btnStopScript = Make<QPushButton>("btnStopScript", QStringLiteral("Stop"), TntTabSheet3);
    btnStopScript->setToolTip(QStringLiteral("Stops the script after the running statement"));
    btnStopScript->setVisible(false);
    btnExecuteScript = Make<QPushButton>("btnExecuteScript", QStringLiteral("Execute"), TntTabSheet3);
    btnExecuteScript->setToolTip(QStringLiteral("Executes the script in the left memo"));
    btnExecuteScript->setMinimumSize(120, 40);
    btnExecuteScript->setEnabled(false);
    bottom->addWidget(btnStopScript);
    bottom->addWidget(btnExecuteScript);
    page->addLayout(bottom);

    connect(TntBitBtn5, &QPushButton::clicked, this, Guarded([this] { TntBitBtn5Click(); }));
    connect(btnExecuteScript, &QPushButton::clicked, this, Guarded([this] { btnExecuteScriptClick(); }));
    connect(btnStopScript, &QPushButton::clicked, this, [this] {
        FScriptStopped = true;
        if (FData) FData->ToolsScript->BreakExec();
    });
}

void TTessrinForm::CreateCustomQueryTab() {
    auto* page = new QHBoxLayout(TntTabSheet5);
    // Left: the object lists.
    auto* lists = new QVBoxLayout;
    auto addList = [&](QListWidget*& list, const char* name, const char* groupName, const char* title) {
        auto* group = Make<QGroupBox>(groupName, QString::fromLatin1(title), TntTabSheet5);
        auto* inGroup = new QVBoxLayout(group);
        list = Make<QListWidget>(name, group);
        list->setAccessibleName(group->title());
        list->setDragEnabled(true);
        inGroup->addWidget(list);
        lists->addWidget(group, 1);
    };
    addList(lbxTables, "lbxTables", "TntGroupBox6", "Tables");
    addList(lbxViews, "lbxViews", "TntGroupBox7", "Views");
    addList(lbxFields, "lbxFields", "TntGroupBox8", "Fields");
    auto* left = new QWidget(TntTabSheet5);
    left->setLayout(lists);
    left->setMaximumWidth(240);

    // Right: the toolbar, the Query and Result tabs and the message memo.
    auto* right = new QWidget(TntTabSheet5);
    auto* column = new QVBoxLayout(right);
    column->setContentsMargins(0, 0, 0, 0);
    auto* toolbar = new QHBoxLayout;
    auto addButton = [&](QPushButton*& button, const char* name, const char* caption, const char* hint) {
        button = Make<QPushButton>(name, QString::fromLatin1(caption), right);
        if (hint) button->setToolTip(QString::fromLatin1(hint));
        button->setEnabled(false);
        toolbar->addWidget(button);
    };
    addButton(btnExecute, "btnExecute", "Execute", "CTRL+ENTER or F9 for execute query");
    addButton(btnUndo, "btnUndo", "Undo", "Undo (CTRL+Z)");
    addButton(btnRedo, "btnRedo", "Redo", "Redo (CTRL+Y)");
    addButton(btnClear, "btnClear", "Clear", "Clear editor");
    addButton(btnViewAllQueries, "btnViewAllQueries", "View all queries", nullptr);
    addButton(btnPrev, "btnPrev", "Previous", nullptr);
    addButton(btnNext, "btnNext", "Next", nullptr);
    btnStopQuery = Make<QPushButton>("btnStopQuery", QStringLiteral("Stop"), right);
    btnStopQuery->setToolTip(QStringLiteral("Stops the running query (Esc)"));
    btnStopQuery->setVisible(false);
    toolbar->addWidget(btnStopQuery);
    toolbar->addStretch(1);
    column->addLayout(toolbar);

    auto* split = new QSplitter(Qt::Vertical, right);
    TntPageControl2 = Make<QTabWidget>("TntPageControl2", split);
    TntTabSheetQuery = Make<QWidget>("TntTabSheetQuery");
    TntTabSheetResult = Make<QWidget>("TntTabSheetResult");
    TntPageControl2->addTab(TntTabSheetQuery, QStringLiteral("  Query  "));
    TntPageControl2->addTab(TntTabSheetResult, QStringLiteral("  Result  "));
    TntPageControl2->setTabVisible(1, false);
    auto* queryPage = new QVBoxLayout(TntTabSheetQuery);
    auto* queryGroup = Make<QGroupBox>("TntGroupBox9",
                                       QStringLiteral("Enter the query here   (CTRL+ENTER or F9 for execute query) "),
                                       TntTabSheetQuery);
    auto* inQuery = new QVBoxLayout(queryGroup);
    mmoCustomQuery = Make<TSynEdit>("mmoCustomQuery", queryGroup);
    mmoCustomQuery->setAccessibleName(QStringLiteral("Query"));
    inQuery->addWidget(mmoCustomQuery);
    queryPage->addWidget(queryGroup);
    auto* resultPage = new QVBoxLayout(TntTabSheetResult);
    auto* edits = new QHBoxLayout;
    TntEdit2 = Make<QLineEdit>("TntEdit2", QStringLiteral("Column"), TntTabSheetResult);
    TntEdit2->setAccessibleName(QStringLiteral("Column"));
    TntEdit3 = Make<QLineEdit>("TntEdit3", QStringLiteral("Value"), TntTabSheetResult);
    TntEdit3->setAccessibleName(QStringLiteral("Value"));
    edits->addWidget(TntEdit2);
    edits->addWidget(TntEdit3);
    edits->addStretch(1);
    resultPage->addLayout(edits);
    resultPage->addStretch(1);
    TntMemo4 = Make<QPlainTextEdit>("TntMemo4", split);
    TntMemo4->setAccessibleName(QStringLiteral("Messages"));
    TntMemo4->setReadOnly(true);
    split->setStretchFactor(0, 1);
    split->setSizes({500, 100});
    column->addWidget(split, 1);

    page->addWidget(left);
    page->addWidget(right, 1);
    WireCustomQueryTab();
}

void TTessrinForm::FormCreate() {
    setWindowState(windowState() | Qt::WindowMaximized);
    TntPageControl1->setCurrentWidget(TntTabSheet1);
}

void TTessrinForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

void TTessrinForm::FormShow() {
    AppIdentity& id = Identity();
    const QByteArray site = MakerSiteUrl().toLatin1();
    id.AppName = "MySQL Calvoro";
    id.AppCode = "freeware";
    id.AppVersion = QStringLiteral("1.1.35");
    id.UpdaterUrl = site + "/downloads/calvoro/" + UpdaterFileName;
    id.InfoUrl = site + "/downloads/calvoro/calvoro.txt?ts=<timestamp>";
    id.VersionUrl = site + "/downloads/calvoro/version.txt?ts=<timestamp>";
    id.ContactInfoUrl = site + "/downloads/calvoro/contactus.txt?ts=";
    id.RemoteVersion.clear();

    RemoveUpdaterLeftover();

    setWindowTitle(QString::fromLatin1(id.AppName) + QStringLiteral(" v.") + id.AppVersion);
    // Modal over the window, once the window itself is on the screen.
    if (FSplash && ShowSplashAtStart()) QTimer::singleShot(0, FSplash, [splash = FSplash] { splash->exec(); });
}

void TTessrinForm::spbtnAboutClick() {
    if (FAbout) FAbout->exec();
}

void TTessrinForm::spbtnContactUsClick() {
    if (FContact) FContact->exec();
}

void TTessrinForm::btnConnectToServerClick() {
    if (FData->Busy()) return;
    dac::TMyConnection& connection = *FData->ToolsConnection;
    TntEdit1->clear();
    if (connection.GetConnected()) connection.Disconnect();
    {
        // The dialog is asked for again next time, also when this connect fails.
        ScopeExit prompt([&] { connection.SetLoginPrompt(true); });
        connection.Connect();
    }
    if (!connection.GetConnected()) return;
    ShowConnectedSession(true);
}

void TTessrinForm::ShowConnectedSession(bool clearWork) {
    dac::TMyConnection& connection = *FData->ToolsConnection;
    for (QWidget* tab : {TntTabSheet2, TntTabSheet3, TntTabSheet4, TntTabSheet5, static_cast<QWidget*>(ServerTab)})
        TntPageControl1->setTabVisible(TntPageControl1->indexOf(tab), true);
    ServerTab->SessionStarted();

    QStringList names;
    connection.GetDatabaseNames(names);
    {
        const QSignalBlocker quiet(cbxDataBases);
        cbxDataBases->clear();
        cbxDataBases->addItems(names);
        int selected = -1;
        for (int i = 0; i < names.size() && selected < 0; ++i)
            if (!connection.Database().isEmpty() && names[i].compare(connection.Database(), Qt::CaseInsensitive) == 0)
                selected = i;
        cbxDataBases->setCurrentIndex(selected);
    }
    cbxDataBases->setEnabled(true);
    TntBitBtn2->setEnabled(true);
    // The View Data grid is empty in a new session: so are its figures until a table is chosen.
    lblRecordsFetched->setText(QStringLiteral("Records fetched:"));
    Label2->setText(QStringLiteral("Number of records"));

    if (clearWork) {
        mmoExecScript->Clear();
        TntMemo2->clear();
        mmoCustomQuery->SetText(TakeKeptQueryText());
        TntMemo4->clear();
        lbxFields->clear();
        SelectedTable.clear();
        TntEdit2->setText(QStringLiteral("Column"));
        TntEdit3->setText(QStringLiteral("Value"));
        TntPageControl2->setTabVisible(TntPageControl2->indexOf(TntTabSheetResult), false);
    }
    GetDBDetails();
    FData->CurrentDB = cbxDataBases->currentText();
    spbtnReloadDBobjects->setEnabled(true);
    spbtnConnect->setEnabled(false);
    const AppIdentity& id = Identity();
    // An encrypted session says so after the brackets, with its TLS version.
    const QString tls = connection.SslCipher().section(QStringLiteral(", "), 0, 0);
    setWindowTitle(QStringLiteral("%1 - [%2 on %3 (%4)]")
                       .arg(QString::fromLatin1(id.AppName) + QStringLiteral(" v.") + id.AppVersion,
                            connection.Database(), connection.Server(), connection.Username()) +
                   (tls.isEmpty() ? QString() : QStringLiteral(" - ") + tls) + ShowSessionLook(*SessionBand, *FData));
}

void TTessrinForm::cbxDataBasesChange() {
    const bool other = cbxDataBases->currentText() != FData->CurrentDB;
    spbtnConnect->setEnabled(other);
    spbtnReloadDBobjects->setEnabled(!other);
}

void TTessrinForm::spbtnConnectClick() {
    if (FData->Busy()) return;
    dac::TMyConnection& connection = *FData->ToolsConnection;
    connection.Disconnect();
    connection.SetLoginPrompt(false);
    connection.SetDatabase(cbxDataBases->currentText());
    btnConnectToServerClick();
}

void TTessrinForm::spbtnReloadDBobjectsClick() {
    if (FData->Busy()) return;
    GetDBDetails();
}

void TTessrinForm::GetDBDetails() {
    dac::TMyConnection& connection = *FData->ToolsConnection;
    // The completion's names are read anew on a connection of their own.
    if (CompletionLoader) CompletionLoader->Reload(connection);
    if (connection.Database().isEmpty()) return;
    try {
        QStringList tables, views, procedures;
        FData->GetTables(tables);
        FData->GetViews(views);
        connection.GetStoredProcNames(procedures, false);

        TSynMySQL& highlighter = *FData->SynMySQL;
        highlighter.ClearTableNames();
        const QStringList names = tables + views + procedures;
        for (const QString& name : names) highlighter.AddTableName(name);
        for (const QString& name : names) highlighter.AddTableName(QuoteName(name, true));

        const QStringList objects = tables + views;
        lbxObjectsToBackup->clear();
        lbxObjectsToBackup->addItems(objects);
        cbxTablesViews->clear();
        cbxTablesViews->addItems(objects);
        lbxTables->clear();
        lbxTables->addItems(tables);
        lbxViews->clear();
        lbxViews->addItems(views);
    } catch (const std::exception&) {
        // A reload is a convenience: when the server cannot list the objects, the lists keep
        // what they showed, and whatever failed shows up when the user works with it.
    }
}

void TTessrinForm::TntBitBtn2Click() {
    if (FData->Busy()) return;
    dac::TMyConnection& connection = *FData->ToolsConnection;
    if (!connection.GetConnected() || TntEdit1->text().isEmpty()) return;
    dac::CheckWritable(connection, QStringLiteral("Create Database"));
    // The name as typed, or in backticks.
    const QString name = dac::ParseIdentifier(TntEdit1->text());
    if (!Confirm(QStringLiteral("Are you sure you want to create '%1' database?").arg(name))) return;
    // The server says which database the name would drop: with lower_case_table_names set it
    // takes Shop for shop.
    const QStringList existing = dac::ExistingDatabases(connection, name);
    if (!existing.isEmpty()) {
        const QString& found = existing.front();
        const QString what = found == name ? QStringLiteral("The database '%1' already exists.").arg(name)
                                           : QStringLiteral("The server takes '%1' for the existing database '%2'.")
                                                 .arg(name, found);
        if (!Confirm(what + QStringLiteral(" It will be dropped with all its data and created empty. Do you want to "
                                           "drop it?")))
            return;
    }
    FData->ToolsCommand->SQL().SetText(dac::RecreateDatabaseStatement(name));
    FData->ToolsCommand->Execute();
    connection.Disconnect();
    connection.SetLoginPrompt(false);
    connection.SetDatabase(name);
    {
        ScopeExit prompt([&] { connection.SetLoginPrompt(true); });
        connection.Connect();
    }
    if (!connection.GetConnected()) return;
    // The window follows the session into the new database.
    ShowConnectedSession(false);
    ShowMessage(QStringLiteral("Database created successfully"));
}

namespace {

// The connection of one backup or restore: the tools connection's login and transport, 8-bit, speaking
// utf8mb4 so that every byte of every value passes unchanged.
std::unique_ptr<dac::TMyConnection> DumpConnection(const dac::TMyConnection& tools) {
    auto c = std::make_unique<dac::TMyConnection>();
    c->SetLoginPrompt(false);
    c->MyOptions().SetUseUnicode(false);
    c->MyOptions().SetCharset(QStringLiteral("utf8mb4"));
    c->SetServer(tools.Server());
    c->SetPort(tools.Port());
    c->MyOptions().SetUnixSocket(tools.MyOptions().UnixSocket());
    c->SetConnectionTimeout(tools.ConnectionTimeout());
    c->SetUsername(tools.Username());
    c->SetPassword(tools.Password());
    c->SetDatabase(tools.Database());
    c->SSLOptions() = tools.SSLOptions();
    c->MyOptions().SetReadOnly(tools.MyOptions().ReadOnly());
    return c;
}

}  // namespace

QString TTessrinForm::AskFile(bool save, const TFileDialogSettings& settings) {
    if (ChooseFile) return ChooseFile(save, settings.DefaultExt, settings.Filter);
    QFileDialog dialog(this);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(settings.DefaultExt);
    dialog.setNameFilter(settings.Filter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

TTessrinForm::TRestoreErrorAnswer TTessrinForm::AskAboutRestoreError(const QString& message) {
    if (AskRestoreError) return AskRestoreError(message);
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message), QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("RestoreErrorBox"));
    box.setInformativeText(QStringLiteral("Continue with the next statement?"));
    QPushButton* go = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    QPushButton* all = box.addButton(QStringLiteral("Continue without asking"), QMessageBox::AcceptRole);
    QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::RejectRole);
    box.setDefaultButton(go);
    box.setEscapeButton(stop);
    box.exec();
    if (box.clickedButton() == all) return reContinueAll;
    return box.clickedButton() == go ? reContinue : reStop;
}

void TTessrinForm::ShowDumpProgress(dump::TDADump* dump) {
    // The work has ended (or not begun): a stop under way has nothing left to wait for.
    if (FStopper.joinable()) FStopper.join();
    FRunningDump = dump;
    if (dump) {
        FData->ResetProgress();
        ProgressBar1->setValue(0);
    }
    ProgressBar1->setVisible(dump != nullptr);
    btnStopDump->setVisible(dump != nullptr);
}

void TTessrinForm::TntSpeedButton1Click() {
    if (FData->Busy()) return;
    const QString file = AskFile(true, FData->SaveDialog);
    if (file.isEmpty()) return;
    // Busy until the work ends; the closing message no longer holds anything up.
    std::optional<TData::TBusy> busy(std::in_place, *FData);
    auto connection = DumpConnection(*FData->ToolsConnection);
    connection->Connect();
    dump::TMyDump dump;
    dump.SetConnection(connection.get());
    dump.Options().QuoteNames = true;
    dump.Options().StatementSize = DumpChoices.StatementSize();
    dump.OnBackupProgress = [this](dump::TDADump* sender, const QString& name, int num, int count, int percent) {
        FData->ToolsDumpBackupProgress(sender, name, num, count, percent);
    };
    // The names as the server listed them.
    std::vector<dac::TObjectName> tables;
    for (int i = 0; i < lbxObjectsToBackup->count(); ++i)
        if (lbxObjectsToBackup->item(i)->isSelected())
            tables.push_back({QString(), lbxObjectsToBackup->item(i)->text()});
    dump.SetTables(std::move(tables));
    dump::TMyDumpObjects objects;
    const std::pair<QCheckBox*, dump::TMyDumpObject> boxes[] = {
        {cbDB, dump::doDatabase},   {cbStruct, dump::doTables},         {cbViews, dump::doViews},
        {cbData, dump::doData},     {cbProcedures, dump::doStoredProcs}, {cbTriggers, dump::doTriggers},
    };
    for (auto [box, kind] : boxes)
        if (box->isChecked()) objects.Include(kind);
    dump.SetObjects(objects);
    ShowDumpProgress(&dump);
    ScopeExit hide([&] { ShowDumpProgress(nullptr); });
    try {
        RunInBackground([&] { dump.BackupToFile(file); });
    } catch (const EAbort&) {
        // Stopped: the file was not written (a backup replaces it only when complete).
        if (!dump.StopRequested()) throw;
        hide.Dismiss();
        ShowDumpProgress(nullptr);
        busy.reset();
        ShowMessage(QStringLiteral("Backup to %1 file stopped; the file was not written").arg(file));
        return;
    }
    hide.Dismiss();
    ShowDumpProgress(nullptr);
    busy.reset();
    ShowMessage(QStringLiteral("Backup to %1 file completed successfully").arg(file));
}

void TTessrinForm::TntSpeedButton2Click() {
    if (FData->Busy()) return;
    dac::CheckWritable(*FData->ToolsConnection, QStringLiteral("Restore"));
    const QString file = AskFile(false, FData->ToolsOpenDialog);
    if (file.isEmpty()) return;
    std::optional<TData::TBusy> busy(std::in_place, *FData);
    auto connection = DumpConnection(*FData->ToolsConnection);
    connection->Connect();
    dump::TMyDump& dump = *FData->ToolsDump;
    dump.SetConnection(connection.get());
    // The rows' connections log in as this one does; they are made on the restore's thread.
    std::shared_ptr<const dac::TMyConnection> login = DumpConnection(*FData->ToolsConnection);
    dump.SetRestoreConnections(DumpChoices.RestoreConnections(),
                               [login]() -> std::unique_ptr<dac::TCustomMyConnection> { return DumpConnection(*login); });
    // The user may stop at any failure: nothing after the failing statement's table starts.
    dump.SetRestoreStopsAtFailure(true);
    ScopeExit release([&] {
        ShowDumpProgress(nullptr);
        dump.SetRestoreConnections(1);
        dump.SetConnection(nullptr);
        connection->Disconnect();
    });
    bool askAgain = true;
    bool aborted = false;
    // Failures come here from every connection, by their place in the file.
    dump.OnRestoreError = [&](dump::TDADump*, const script::TStatementPlace&, const std::exception& e, const QString&,
                              script::TErrorAction& action) {
        action = script::eaContinue;
        if (!askAgain) return;
        const QString message = ErrorMessageOf(e);
        TRestoreErrorAnswer answer = reStop;
        CallOnGui([&] { answer = AskAboutRestoreError(message); });
        if (answer == reContinueAll) askAgain = false;
        if (answer == reStop) {
            action = script::eaAbort;
            aborted = true;
        }
    };
    ScopeExit noHandler([&] { dump.OnRestoreError = nullptr; });
    // The script read against the server first, off the window's thread; what it finds is
    // shown, and the user decides.
    dump::TServerFacts facts;
    dump::TCheckReport report;
    RunInBackground([&] {
        facts = dump::ReadServerFacts(*connection);
        QFile script(file);
        if (!script.open(QIODevice::ReadOnly))
            throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(file, script.errorString()));
        report = dump::CheckScript(&script, facts);
    });
    dump::TRestoreMends mends;
    dump::TMendCounts mended;
    if (!report.Empty()) {
        const dump::TRestoreMends offered = dump::OfferedMends(report, facts);
        TRestoreCheckChoice choice = TRestoreCheckChoice::Cancel;
        if (AskRestoreCheck) {
            choice = AskRestoreCheck(file, report, offered);
        } else {
            TRestoreCheckDialog dialog(file, report, offered, this);
            dialog.exec();
            choice = dialog.Choice();
        }
        if (choice == TRestoreCheckChoice::Cancel) return;
        if (choice == TRestoreCheckChoice::MendAndRestore) mends = offered;
    }
    ScopeExit noRewrite([&] { dump.RestoreRewrite = nullptr; });
    if (mends.Any()) dump.RestoreRewrite = [&](QString& sql) { sql = dump::MendStatement(sql, mends, mended); };
    dump.PrepareStop();
    ShowDumpProgress(&dump);
    RunInBackground([&] { dump.RestoreFromFile(file); });
    const qint64 failed = dump.FailedStatements();
    const qint64 done = dump.RestoredStatements();
    QString message;
    if (dump.StopRequested() || aborted)
        message = QStringLiteral("Restore from %1 file stopped after %2 statements, %3 of them failed")
                      .arg(file).arg(done).arg(failed);
    else if (failed > 0)
        message = QStringLiteral("Restore from %1 file completed: %2 of %3 statements failed").arg(file).arg(failed).arg(done);
    else
        message = QStringLiteral("Restore from %1 file completed successfully").arg(file);
    if (mends.Any()) message += QStringLiteral(" (%1)").arg(dump::MendSummary(mended));
    ShowDumpProgress(nullptr);
    busy.reset();
    ShowMessage(message);
}

void TTessrinForm::TntBitBtn3Click() {
    for (int i = 0; i < lbxObjectsToBackup->count(); ++i) lbxObjectsToBackup->item(i)->setSelected(true);
}

void TTessrinForm::TntBitBtn4Click() { lbxObjectsToBackup->clearSelection(); }

void TTessrinForm::TntBitBtn5Click() {
    const QString file = AskFile(false, FData->ToolsOpenDialog);
    if (file.isEmpty()) return;
    TntMemo2->clear();
    mmoExecScript->LoadFromFile(file);
}

void TTessrinForm::btnExecuteScriptClick() {
    if (FData->Busy()) return;
    dac::CheckWritable(*FData->ToolsConnection, QStringLiteral("Execute a script"));
    if (!Confirm(QStringLiteral("Are you sure you want to execute the script in the memo?"))) return;
    TData::TBusy busy(*FData);
    TntMemo2->clear();
    TntMemo2->appendPlainText(QStringLiteral("-- Script execution started --"));
    QCoreApplication::processEvents();
    dac::TMyConnection& connection = *FData->ToolsConnection;
    // The script's bytes: those of the file it was loaded from, text typed as UTF-8.
    const QString text = mmoExecScript->Text();
    QByteArray bytes = mmoExecScript->LoadedAsUtf8() ? text.toUtf8() : UnicodeToAnsi(text);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    DisableUnicode(connection);
    ScopeExit unicode([&] { EnableUnicode(connection); });
    script::TMyScript& script = *FData->ToolsScript;
    int statements = 0;
    script.AfterExecute = [&](script::TDAScript*, const QString&) { ++statements; };
    ScopeExit noHandler([&] { script.AfterExecute = nullptr; });
    FScriptStopped = false;
    btnStopScript->setVisible(true);
    ScopeExit hideStop([&] { btnStopScript->setVisible(false); });
    bool stopped = false;
    try {
        RunInBackground([&] { script.ExecuteStream(&buffer); });
    } catch (const EAbort&) {
        stopped = true;  // BreakExec ended the running statement
    }
    unicode.Dismiss();
    EnableUnicode(connection);
    TntMemo2->appendPlainText(QString());
    if (stopped || FScriptStopped)
        TntMemo2->appendPlainText(QStringLiteral("-- Script execution stopped after %1 statements --").arg(statements));
    else
        TntMemo2->appendPlainText(QStringLiteral("-- Script execution finished --"));
}

void TTessrinForm::UpdateIdleStates() {
    const bool busy = FData && FData->Busy();
    const bool connected = !busy && FData && FData->ToolsConnected();
    btnConnectToServer->setEnabled(!busy);
    if (busy) {
        cbxDataBases->setEnabled(false);
        TntBitBtn2->setEnabled(false);
    } else if (connected) {
        cbxDataBases->setEnabled(true);
        TntBitBtn2->setEnabled(true);
    }
    btnExecuteScript->setEnabled(!busy && !mmoExecScript->Text().isEmpty());
    btnExecute->setEnabled(!busy && !mmoCustomQuery->Text().isEmpty());
    btnUndo->setEnabled(mmoCustomQuery->UndoCount() > 0);
    btnRedo->setEnabled(mmoCustomQuery->RedoCount() > 0);
    // Blanks and control characters at both ends do not count.
    const QString text = mmoCustomQuery->Text();
    qsizetype from = 0, to = text.size();
    while (from < to && text[from].unicode() <= u' ') ++from;
    while (to > from && text[to - 1].unicode() <= u' ') --to;
    btnClear->setEnabled(to > from);
    const bool history = !QueryLogList.isEmpty();
    btnViewAllQueries->setEnabled(history);
    btnPrev->setEnabled(history);
    btnNext->setEnabled(history);
}

void TTessrinForm::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void TTessrinForm::ShowDisconnectedState() {
    for (QWidget* tab : {TntTabSheet2, TntTabSheet3, TntTabSheet4, TntTabSheet5, static_cast<QWidget*>(ServerTab)})
        TntPageControl1->setTabVisible(TntPageControl1->indexOf(tab), false);
    ServerTab->SessionEnded();
    SessionBand->ShowNoSession();
    cbxDataBases->setCurrentIndex(-1);
    cbxDataBases->setEnabled(false);
    TntBitBtn2->setEnabled(false);
}

bool TTessrinForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        Image1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TTessrinForm::Image1Click() {
    if (!MakerSiteUrl().isEmpty()) QDesktopServices::openUrl(QUrl(MakerSiteUrl()));
}

void TTessrinForm::spbtnExitClick() { QApplication::closeAllWindows(); }

}  // namespace calvoro::app
