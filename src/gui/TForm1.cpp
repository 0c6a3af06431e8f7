#include "TForm1.h"

#include "AddressInput.h"
#include "AppIcon.h"
#include "AppMessages.h"
#include "AppSettings.h"
#include "DisplayAddress.h"
#include "DownloadCommand.h"
#include "DownloadFolderRule.h"
#include "EditActions.h"
#include "FileDialogs.h"
#include "InputBoxImport.h"
#include "LocalFileName.h"
#include "OuterGeometry.h"
#include "ResultExport.h"
#include "ResultListContextMenu.h"
#include "ResultListDelegate.h"
#include "TForm3.h"
#include "TWebBrowser.h"
#include "TextFileSave.h"
#include "Tkoukoku.h"
#include "WindowFont.h"
#include "tlinksys.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The window layout's sizes.
constexpr int BannerHeight = 150;
constexpr int InputBandHeight = 149;
constexpr int ListBandHeight = 145;
constexpr int PanelWidth = 83;
constexpr int LabelFontHeight = 15;
constexpr int SmallestLabelFontHeight = 8;
// A folder box leaves room for its "…" button.
constexpr int FolderBoxWidth = 52;

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(caption);
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, const QRect& place,
                    const QString& accessibleName) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setAccessibleName(accessibleName);
    edit->setGeometry(place);
    return edit;
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : TForm1(Options{}, parent) {}

TForm1::TForm1(const Options& options, QWidget* parent)
    : QMainWindow(parent)
    , m_options(options)
    , m_settings(options.settingsFile.isEmpty() ? std::make_unique<AppSettings>()
                                                : std::make_unique<AppSettings>(options.settingsFile)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ネピリカ"));
    setWindowIcon(AppIcon::icon());
    setFont(WindowFont::font());
    buildWindow();
    OuterGeometry::apply(this, QRect(316, 129, 805, 553));
    restoreSettings();
    FormCreate();
}

TForm1::~TForm1() {
    destroyHarvester();
}

void TForm1::buildWindow() {
    ActionList1 = new EditActions(this);
    Action1 = new QAction(QStringLiteral("Action1"), ActionList1);
    Action1->setObjectName(QStringLiteral("Action1"));
    addAction(Action1);

    // The hidden harvesting browser's profile is the one the harvester's pages share (and whose
    // cookies downloads send); the harvester connects itself to its pages.
    WB1 = new TWebBrowser(nullptr, this);
    WB1->setObjectName(QStringLiteral("WB1"));

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(ScrollBox1);

    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* bands = new QVBoxLayout(client);
    bands->setContentsMargins(0, 0, 0, 0);
    bands->setSpacing(0);

    const QUrl adListUrl = m_options.adListUrl.isEmpty() ? Tkoukoku::defaultListUrl() : m_options.adListUrl;
    Tkoukoku1 = new Tkoukoku(client, adListUrl);
    Tkoukoku1->setObjectName(QStringLiteral("Tkoukoku1"));
    Tkoukoku1->setAccessibleName(QStringLiteral("広告"));
    Tkoukoku1->setFixedHeight(BannerHeight);
    bands->addWidget(Tkoukoku1);

    buildInputBand();
    bands->addWidget(GroupBox3);

    m_pages.caption = LinkedPagesCaption;
    m_pages.side = ResultFilter::Side::LinkedPages;
    GroupBox1 = buildResultBand(m_pages, "GroupBox1", "ListBox1", "Panel2");
    ListBox1 = m_pages.view;
    Panel2 = GroupBox1->findChild<QWidget*>(QStringLiteral("Panel2"));
    Button2 = makeButton(Panel2, "Button2", QStringLiteral("テキスト表示"), QRect(6, 4, 75, 21));
    foruda1 = makeEdit(Panel2, "foruda1", QStringLiteral("Page"), QRect(8, 36, FolderBoxWidth, 20),
                       QStringLiteral("リンクしてるページの保存フォルダ名"));
    forudaButton1 = addFolderChooser(foruda1, "forudaButton1");
    Button7 = makeButton(Panel2, "Button7", QStringLiteral("ダウンロード"), QRect(6, 56, 75, 21));
    kensaku1 = makeEdit(Panel2, "kensaku1", QStringLiteral(".htm"), QRect(8, 81, 73, 20),
                        QStringLiteral("リンクしてるページの検索文字列"));
    Button8 = makeButton(Panel2, "Button8", QStringLiteral("検索"), QRect(8, 100, 49, 21));
    Button10 = makeButton(Panel2, "Button10", QStringLiteral("C"), QRect(58, 100, 23, 21));
    Button2->setAccessibleDescription(QStringLiteral("リンクしてるページをテキストで表示する"));
    Button7->setAccessibleDescription(QStringLiteral("リンクしてるページの選択した項目をダウンロードする"));
    Button8->setAccessibleDescription(QStringLiteral("リンクしてるページを検索文字列で絞り込む"));
    Button10->setAccessibleDescription(QStringLiteral("リンクしてるページの絞り込みを解除する"));
    bands->addWidget(GroupBox1, 1);

    m_files.caption = DataFilesCaption;
    m_files.side = ResultFilter::Side::DataFiles;
    GroupBox2 = buildResultBand(m_files, "GroupBox2", "ListBox2", "Panel3");
    ListBox2 = m_files.view;
    Panel3 = GroupBox2->findChild<QWidget*>(QStringLiteral("Panel3"));
    Button6 = makeButton(Panel3, "Button6", QStringLiteral("テキスト表示"), QRect(6, 4, 75, 21));
    foruda = makeEdit(Panel3, "foruda", QStringLiteral("DL"), QRect(8, 36, FolderBoxWidth, 20),
                      QStringLiteral("データファイルの保存フォルダ名"));
    forudaButton = addFolderChooser(foruda, "forudaButton");
    Button4 = makeButton(Panel3, "Button4", QStringLiteral("ダウンロード"), QRect(6, 56, 75, 21));
    kensaku2 = makeEdit(Panel3, "kensaku2", QStringLiteral(".jpg"), QRect(8, 84, 73, 20),
                        QStringLiteral("データファイルの検索文字列"));
    Button9 = makeButton(Panel3, "Button9", QStringLiteral("検索"), QRect(8, 104, 49, 21));
    Button11 = makeButton(Panel3, "Button11", QStringLiteral("C"), QRect(58, 104, 23, 21));
    Button6->setAccessibleDescription(QStringLiteral("データファイルをテキストで表示する"));
    Button4->setAccessibleDescription(QStringLiteral("データファイルの選択した項目をダウンロードする"));
    Button9->setAccessibleDescription(QStringLiteral("データファイルを検索文字列で絞り込む"));
    Button11->setAccessibleDescription(QStringLiteral("データファイルの絞り込みを解除する"));
    bands->addWidget(GroupBox2, 1);

    // Run by the analysis; never shown.
    Button3 = makeButton(client, "Button3", QStringLiteral("結果表示"), QRect(652, 0, 13, 13));
    Button3->setVisible(false);

    ScrollBox1->setWidget(client);

    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
    connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
    connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(kensaku1, &QLineEdit::returnPressed, this, &TForm1::Button8Click);
    connect(kensaku2, &QLineEdit::returnPressed, this, &TForm1::Button9Click);

    MemoImport = new InputBoxImport(Memo1);
    MemoImport->setObjectName(QStringLiteral("MemoImport"));
    ListMenu1 = new ResultListContextMenu(ListBox1, {[this] { Button7Click(); },
                                                     [this](const QStringList& a) {
                                                         MemoImport->replace(a);
                                                     }});
    ListMenu2 = new ResultListContextMenu(ListBox2, {[this] { Button4Click(); },
                                                     [this](const QStringList& a) {
                                                         MemoImport->replace(a);
                                                     }});

    const QString filterTip =
        QStringLiteral("絞り込み: この文字を含むアドレスだけを表示します（Enter で絞り込み）");
    for (QLineEdit* box : {kensaku1, kensaku2}) {
        box->setToolTip(filterTip);
        box->setPlaceholderText(QStringLiteral("絞り込み"));
    }
    for (QPushButton* button : {Button8, Button9})
        button->setToolTip(QStringLiteral("絞り込み"));
    for (QPushButton* button : {Button10, Button11})
        button->setToolTip(QStringLiteral("絞り込みを解除"));

    // The control with the keyboard focus is marked plainly, whatever the style draws by itself (set on
    // each control, so that menus and the banner keep the style's own look).
    const QString focusFrame = QStringLiteral("%1:focus { border: 2px solid palette(highlight); }");
    Memo1->setStyleSheet(focusFrame.arg(QStringLiteral("QPlainTextEdit")));
    for (QListView* list : {ListBox1, ListBox2})
        list->setStyleSheet(focusFrame.arg(QStringLiteral("QListView")));
    for (QLineEdit* box : {foruda1, foruda, kensaku1, kensaku2})
        box->setStyleSheet(focusFrame.arg(QStringLiteral("QLineEdit")));
    for (QPushButton* button : {Button5, Button2, forudaButton1, Button7, Button8, Button10, Button6,
                                forudaButton, Button4, Button9, Button11})
        button->setStyleSheet(QStringLiteral("QPushButton:focus { border: 2px solid palette(highlight); "
                                             "border-radius: 3px; background: palette(button); }"));

    buildMenus();
    setTabOrder();
    Memo1->setFocus();
}

void TForm1::buildMenus() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    File1 = MainMenu1->addMenu(QStringLiteral("ファイル(&F)"));
    File1->setObjectName(QStringLiteral("File1"));
    OpenAddresses1 = File1->addAction(QStringLiteral("アドレスを読み込む…(&O)"));
    OpenAddresses1->setObjectName(QStringLiteral("OpenAddresses1"));
    OpenAddresses1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(OpenAddresses1, &QAction::triggered, MemoImport, &InputBoxImport::chooseAndImport);
    SaveResults1 = File1->addAction(QStringLiteral("結果を保存…(&S)"));
    SaveResults1->setObjectName(QStringLiteral("SaveResults1"));
    SaveResults1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(SaveResults1, &QAction::triggered, this, &TForm1::saveResults);
    Recent1 = File1->addMenu(QStringLiteral("最近の入力(&R)"));
    Recent1->setObjectName(QStringLiteral("Recent1"));
    File1->addSeparator();
    Close1 = File1->addAction(QStringLiteral("閉じる(&X)"));
    Close1->setObjectName(QStringLiteral("Close1"));
    Close1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);

    Settings1 = MainMenu1->addMenu(QStringLiteral("設定(&S)"));
    Settings1->setObjectName(QStringLiteral("Settings1"));
    NoScripts1 = Settings1->addAction(QStringLiteral("スクリプトを実行しない(&J)"));
    NoScripts1->setObjectName(QStringLiteral("NoScripts1"));
    NoScripts1->setCheckable(true);
    connect(NoScripts1, &QAction::toggled, this, [this](bool on) {
        m_settings->setNoScripts(on);
        m_settings->sync();
    });

    // F10 opens the menu bar, as on other desktops.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    menuKey->setObjectName(QStringLiteral("MenuKey"));
    connect(menuKey, &QShortcut::activated, this, [this] {
        MainMenu1->setFocus(Qt::MenuBarFocusReason);
        MainMenu1->setActiveAction(File1->menuAction());
    });
}

void TForm1::buildInputBand() {
    GroupBox3 = new QGroupBox;
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setFixedHeight(InputBandHeight);
    auto* layout = new QHBoxLayout(GroupBox3);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);

    Memo1 = new QPlainTextEdit(GroupBox3);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("解析したいページのURL"));
    Memo1->setPlaceholderText(InputHint);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);
    layout->addWidget(Memo1, 1);

    Panel1 = new QWidget(GroupBox3);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedWidth(PanelWidth);
    layout->addWidget(Panel1);

    Button5 = makeButton(Panel1, "Button5", StartCaption, QRect(6, 4, 75, 21));
    // A double click is one press of the button, not a start followed at once by a cancel.
    Button5->installEventFilter(this);
    Label1 = new QLabel(DoneCaption, Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(WindowFont::font(LabelFontHeight));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(9, 36, PanelWidth - 9, 60);
}

QGroupBox* TForm1::buildResultBand(ResultList& list, const char* boxName, const char* listName,
                                   const char* panelName) {
    auto* box = new QGroupBox(list.caption);
    box->setObjectName(QString::fromLatin1(boxName));
    box->setMinimumHeight(ListBandHeight);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(2, 0, 2, 2);
    layout->setSpacing(0);

    list.box = box;
    list.model = new QStringListModel(this);
    list.view = new QListView(box);
    list.view->setObjectName(QString::fromLatin1(listName));
    list.view->setAccessibleName(list.caption);
    list.view->setModel(list.model);
    list.view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.view->setUniformItemSizes(true);
    list.delegate = new ResultListDelegate(list.view);
    list.view->setItemDelegate(list.delegate);
    // An entry's tooltip: how it was found, on which page, and the name it is saved under (the
    // entry itself shows the address as the address bar would, legacy bytes still encoded).
    list.delegate->setToolTips([this, &list](int row) {
        if (!m_harvester || row < 0 || row >= list.records.size())
            return QString();
        const tURLData& record = m_harvester->List.Items(list.records.at(row));
        return tr("見つけた所: %1\nページ: %2\n保存名: %3")
            .arg(record.Via.isEmpty() ? tr("不明") : record.Via, record.Source,
                 LocalFileName(record.URL, record.Charset));
    });
    list.view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(list.view, 1);

    auto* panel = new QWidget(box);
    panel->setObjectName(QString::fromLatin1(panelName));
    panel->setFixedWidth(PanelWidth);
    panel->setMinimumHeight(125);
    layout->addWidget(panel);
    return box;
}

QPushButton* TForm1::addFolderChooser(QLineEdit* box, const char* buttonName) {
    const QRect place = box->geometry();
    auto* button =
        makeButton(box->parentWidget(), buttonName, QStringLiteral("…"),
                   QRect(place.right() + 1, place.top(), PanelWidth - 2 - place.right() - 1, place.height()));
    button->setAccessibleName(QStringLiteral("保存先フォルダを選ぶ"));
    button->setToolTip(QStringLiteral("保存先フォルダを選ぶ"));
    box->setPlaceholderText(QStringLiteral("保存先フォルダ"));
    auto showFolder = [box] {
        const QString folder =
            QDir::toNativeSeparators(DownloadFolderRule::fromSystem().resolve(box->text()));
        box->setToolTip(QStringLiteral("保存先フォルダ: %1").arg(folder));
    };
    showFolder();
    connect(box, &QLineEdit::textChanged, box, showFolder);
    connect(button, &QPushButton::clicked, this, [this, box] { chooseFolder(box); });
    return button;
}

void TForm1::chooseFolder(QLineEdit* box) {
    const DownloadFolderRule rule = DownloadFolderRule::fromSystem();
    QString start = rule.resolve(box->text());
    // The nearest folder that exists already.
    while (!QFileInfo(start).isDir() && QFileInfo(start).absolutePath() != start)
        start = QFileInfo(start).absolutePath();
    QPointer<QLineEdit> target(box);
    FileDialogs::chooseFolder(this, QStringLiteral("保存先フォルダ"), start,
                              [target, rule](const QString& path) {
                                  if (!target)
                                      return;
                                  // Inside the base folder a name is kept as a name, so that a portable copy
                                  // stays portable.
                                  const QString base = rule.baseFolder();
                                  const QString chosen = QDir::cleanPath(path);
                                  if (chosen.startsWith(base + QLatin1Char('/')))
                                      target->setText(chosen.mid(base.size() + 1));
                                  else
                                      target->setText(chosen);
                              });
}

void TForm1::setTabOrder() {
    // As the controls stand on the screen: the input band, then each list band top to bottom.
    const QList<QWidget*> chain = {Memo1,         Button5, ListBox1, Button2,      foruda1,
                                   forudaButton1, Button7, kensaku1, Button8,      Button10,
                                   ListBox2,      Button6, foruda,   forudaButton, Button4,
                                   kensaku2,      Button9, Button11, Button3};
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
    QWidget::setTabOrder(Button3, Tkoukoku1);
}

void TForm1::setAddresses(const QStringList& addresses) {
    Memo1->setPlainText(addresses.join(QLatin1Char('\n')));
}

tlinksys* TForm1::harvester() const {
    return m_harvester;
}

bool TForm1::isAnalysing() const {
    return m_analysing;
}

AppSettings* TForm1::settings() const {
    return m_settings.get();
}

QList<TForm3*> TForm1::textViews() const {
    QList<TForm3*> views;
    for (const QPointer<TForm3>& view : m_textViews)
        if (view)
            views.append(view);
    return views;
}

// --- Harvester lifetime --------------------------------------------------------------------------

void TForm1::FormCreate() {
    createHarvester();
}

void TForm1::FormClose() {
    storeSettings();
    for (const QPointer<TForm3>& view : std::as_const(m_textViews))
        if (view)
            view->close();
    destroyHarvester();
}

void TForm1::createHarvester() {
    // Pages loaded at a time: the test's choice, else the remembered setting.
    const int parallel = m_options.parallel > 0 ? m_options.parallel
                         : m_settings           ? m_settings->parallelPages()
                                                : tlinksys::defaultParallel();
    auto* harvester = new tlinksys(tlinksys::browsersOn(WB1->profile()), parallel, this);
    harvester->setObjectName(QStringLiteral("linksys"));
    harvester->setPageTimeout(m_options.pageTimeoutMs);
    harvester->setCollectTimeout(m_options.collectTimeoutMs);
    connect(harvester, &tlinksys::pageStarted, this, &TForm1::onPageStarted);
    connect(harvester, &tlinksys::pageFinished, this, &TForm1::onPageFinished);
    connect(harvester, &tlinksys::finished, this, &TForm1::onFinished);
    m_harvester = harvester;
}

void TForm1::destroyHarvester() {
    if (!m_harvester)
        return;
    // Whatever it still reports belongs to an analysis nobody waits for any more.
    disconnect(m_harvester, nullptr, this, nullptr);
    // No longer the current harvester before it goes: a completion event that stopping the browser
    // might raise meanwhile reaches nobody.
    tlinksys* harvester = m_harvester;
    m_harvester.clear();
    if (m_analysing) {
        harvester->Cancel();
        m_analysing = false;
    }
    delete harvester;
}

void TForm1::ResetResults() {
    destroyHarvester();
    createHarvester();
    m_resultsShown = false;
    m_pages.filtered = false;
    m_files.filtered = false;
    m_recordsShown = 0;
    clearList(m_pages);
    clearList(m_files);
}

// --- Commands ------------------------------------------------------------------------------------

void TForm1::Button5Click() {
    if (m_analysing) {
        // Records found so far are shown when the harvester reports the end.
        m_harvester->Cancel();
        return;
    }
    Label1->setText(WorkingCaption);
    ResetResults();
    m_failures.clear();
    m_harvester->setNoScripts(NoScripts1->isChecked());
    // The lists fill page by page, with their counts, and keep their filters meanwhile.
    m_resultsShown = true;
    updateTitle(m_pages);
    updateTitle(m_files);
    const QStringList lines = AddressInput::lines(Memo1->toPlainText());
    if (lines.isEmpty()) {
        onFinished(false);
        return;
    }
    m_settings->addRecentInput(Memo1->toPlainText());
    m_settings->sync();
    rebuildRecentMenu();
    m_analysing = true;
    m_pagesTotal = int(lines.size());
    m_pagesDone = 0;
    m_pageAddresses.clear();
    m_recordsShown = 0;
    Button5->setText(CancelCaption);
    Button5->setAccessibleName(CancelCaption);
    m_harvester->LoadAll(lines);
}

void TForm1::Button3Click() {
    m_resultsShown = true;
    m_pages.filtered = false;
    m_files.filtered = false;
    if (!m_harvester) {
        showEntries(m_pages, {});
        showEntries(m_files, {});
        return;
    }
    showEntries(m_pages, ResultFilter::all(m_harvester->List, m_pages.side));
    showEntries(m_files, ResultFilter::all(m_harvester->List, m_files.side));
}

void TForm1::Button8Click() {
    filter(m_pages, kensaku1->text());
}

void TForm1::Button9Click() {
    filter(m_files, kensaku2->text());
}

void TForm1::Button10Click() {
    unfilter(m_pages);
}

void TForm1::Button11Click() {
    unfilter(m_files);
}

void TForm1::Button2Click() {
    viewAsText(m_pages);
}

void TForm1::Button6Click() {
    viewAsText(m_files);
}

void TForm1::Button7Click() {
    download(m_pages, foruda1);
}

void TForm1::Button4Click() {
    download(m_files, foruda);
}

void TForm1::Close1Click() {
    close();
}

// --- Lists ---------------------------------------------------------------------------------------

void TForm1::showEntries(ResultList& list, ResultFilter::Entries entries) {
    if (m_harvester)
        m_recordsShown = m_harvester->List.Count();
    list.records = std::move(entries.records);
    list.delegate->setEntries(entries.addresses);
    // One reset of the model, not one insertion per entry.
    list.model->setStringList(entries.addresses);
    updateTitle(list);
}

void TForm1::appendEntries(ResultList& list, qsizetype from) {
    const std::vector<tURLData>& records = m_harvester->List.records();
    QStringList added;
    QList<qsizetype> positions;
    for (size_t i = size_t(from); i < records.size(); ++i) {
        const tURLData& record = records[i];
        if (!ResultFilter::belongs(record, list.side))
            continue;
        if (list.filtered && !ResultFilter::matches(record.URL, list.filterText, record.Charset))
            continue;
        added.append(record.URL);
        positions.append(qsizetype(i));
    }
    if (added.isEmpty())
        return;
    const int first = list.model->rowCount();
    if (first == 0) {
        // One reset of the model, not one insertion per entry.
        list.model->setStringList(added);
    } else {
        // Appended rows: the selection and the scroll position stay as the user left them.
        list.model->insertRows(first, int(added.size()));
        for (qsizetype i = 0; i < added.size(); ++i)
            list.model->setData(list.model->index(first + int(i)), added.at(i));
    }
    list.records.append(positions);
    list.delegate->setEntries(list.model->stringList());
    // The rows share one size, taken from the widest entries: a wider newcomer changes it.
    Q_EMIT list.delegate->sizeHintChanged(list.model->index(first));
    updateTitle(list);
}

void TForm1::showNewRecords() {
    if (!m_harvester)
        return;
    const qsizetype from = m_recordsShown;
    if (from >= m_harvester->List.Count())
        return;
    m_recordsShown = m_harvester->List.Count();
    appendEntries(m_pages, from);
    appendEntries(m_files, from);
}

void TForm1::clearList(ResultList& list) {
    list.records.clear();
    list.delegate->setEntries({});
    list.model->setStringList({});
    updateTitle(list);
}

void TForm1::updateTitle(ResultList& list) {
    if (m_resultsShown)
        list.box->setTitle(QStringLiteral("%1 (%2)").arg(list.caption).arg(list.model->rowCount()));
    else
        list.box->setTitle(list.caption);
}

void TForm1::filter(ResultList& list, const QString& filterText) {
    m_resultsShown = true;
    list.filtered = true;
    list.filterText = filterText;
    if (!m_harvester) {
        clearList(list);
        return;
    }
    showEntries(list, ResultFilter::matching(m_harvester->List, list.side, filterText));
}

void TForm1::unfilter(ResultList& list) {
    m_resultsShown = true;
    list.filtered = false;
    if (!m_harvester) {
        clearList(list);
        return;
    }
    showEntries(list, ResultFilter::all(m_harvester->List, list.side));
}

void TForm1::viewAsText(const ResultList& list) {
    auto* view = new TForm3(this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    QString text;
    const QStringList items = list.model->stringList();
    qsizetype length = 0;
    for (const QString& item : items)
        length += item.size() + 1;
    text.reserve(length);
    // Each entry ends with a line break, the last one included.
    // Shown decoded, as the list shows them.
    for (const QString& item : items) {
        text += DisplayAddress::forDisplay(item);
        text += QLatin1Char('\n');
    }
    view->kekka->setPlainText(text);
    m_textViews.removeAll(nullptr);
    m_textViews.append(view);
    view->open();
}

void TForm1::download(const ResultList& list, const QLineEdit* folderBox) {
    const QString folder = DownloadFolderRule::fromSystem().resolve(folderBox->text());
    QList<int> rows;
    const QModelIndexList selected = list.view->selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex& index : selected)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());

    const QStringList addresses = list.model->stringList();
    QList<DownloadRequestItem> items;
    items.reserve(rows.size());
    for (int row : std::as_const(rows)) {
        DownloadRequestItem item;
        item.url = addresses.at(row);
        if (m_harvester && row < list.records.size()) {
            const tURLData& record = m_harvester->List.Items(list.records.at(row));
            item.referer = record.Source;
            item.charset = record.Charset;
        }
        items.append(item);
    }
    DownloadCommand::start(this, items, folder, WB1, m_settings ? m_settings->downloadJobs() : 0);
}

// --- Analysis progress ---------------------------------------------------------------------------

void TForm1::onPageStarted(int index, int total, const QString& address) {
    m_pagesTotal = total;
    if (index > m_pageAddresses.size())
        m_pageAddresses.resize(index);
    m_pageAddresses[index - 1] = address;
    showProgress();
}

void TForm1::onPageFinished(const QString& address, bool ok, const QString& reason) {
    ++m_pagesDone;
    if (!ok)
        m_failures.append({address, reason});
    showNewRecords();
    showProgress();
}

void TForm1::showProgress() {
    if (!m_analysing)
        return;
    // The page the lists wait for: the first one not done. Several may be loading at once.
    const int current = std::min(m_pagesDone + 1, std::max(m_pagesTotal, 1));
    const QString address = current <= m_pageAddresses.size() ? m_pageAddresses.at(current - 1) : QString();
    // The count goes on a line of its own and cannot be broken: with thousands of pages it is set
    // smaller rather than cut off ("1056/100" for 1056 of 10000).
    const QString count = QStringLiteral("%1/%2").arg(current).arg(m_pagesTotal);
    QFont font = WindowFont::font(LabelFontHeight);
    const int room = Label1->contentsRect().width();
    while (font.pixelSize() > SmallestLabelFontHeight && QFontMetrics(font).horizontalAdvance(count) > room)
        font.setPixelSize(font.pixelSize() - 1);
    if (font != Label1->font())
        Label1->setFont(font);
    // Below the count, as much of the address as fits; the whole of it in the tool tip.
    const QString shown = QFontMetrics(font).elidedText(address, Qt::ElideMiddle, room);
    Label1->setText(QStringLiteral("%1 %2").arg(WorkingCaption, count) +
                    (shown.isEmpty() ? QString() : QLatin1Char('\n') + shown));
    Label1->setToolTip(address);
}

void TForm1::onFinished(bool cancelled) {
    m_analysing = false;
    Button5->setText(StartCaption);
    Button5->setAccessibleName(StartCaption);
    // The lists already show what was found, filtered as the user chose; a cancelled analysis
    // keeps what was shown.
    showNewRecords();
    updateTitle(m_pages);
    updateTitle(m_files);
    Label1->setFont(WindowFont::font(LabelFontHeight));
    Label1->setText(DoneCaption);
    Label1->setToolTip(QString());
    Q_EMIT analysisFinished(cancelled);
    reportFailures();
}

void TForm1::reportFailures() {
    if (m_failures.isEmpty())
        return;
    QStringList shown;
    QString saved;
    for (const Failure& failure : std::as_const(m_failures)) {
        shown.append(failure.reason.isEmpty()
                         ? failure.address
                         : QStringLiteral("%1 — %2").arg(failure.address, failure.reason));
        // The saved list reads back as addresses (AddressImport takes what comes before the tab).
        saved += failure.address + QLatin1Char('\t') + failure.reason + QLatin1Char('\n');
    }
    const QString text =
        QStringLiteral("読み込めなかったページがあります（%1 件）。\n").arg(m_failures.size()) +
        AppMessages::shortList(shown, FailuresNamed);
    m_failures.clear();
    QMessageBox* notice = AppMessages::showNotice(this, text);
    QPushButton* save = notice->addButton(QStringLiteral("一覧を保存…"), QMessageBox::ActionRole);
    save->setObjectName(QStringLiteral("SaveFailures"));
    connect(save, &QPushButton::clicked, this, [this, saved] { saveFailureList(saved); });
}

void TForm1::saveFailureList(const QString& content) {
    QPointer<TForm1> self(this);
    FileDialogs::chooseFileToSave(
        this, QStringLiteral("読み込めなかったページの一覧を保存"), {QStringLiteral("テキスト (*.txt)")},
        QStringLiteral("読み込めなかったページ.txt"), [self, content](const QString& path) {
            const QString error = TextFileSave::write(path, content.toUtf8());
            if (!error.isEmpty())
                AppMessages::showError(self, error);
        });
}

// --- Import, export and remembered state --------------------------------------------------------

void TForm1::saveResults() {
    // The selected entries when there are any, otherwise both lists as shown.
    const bool selectedOnly =
        ListBox1->selectionModel()->hasSelection() || ListBox2->selectionModel()->hasSelection();
    QList<tURLData> rows;
    for (const ResultList* list : {&m_pages, &m_files}) {
        QList<int> shown;
        if (selectedOnly) {
            for (const QModelIndex& index : list->view->selectionModel()->selectedRows())
                shown.append(index.row());
            std::sort(shown.begin(), shown.end());
        } else {
            for (int row = 0; row < list->model->rowCount(); ++row)
                shown.append(row);
        }
        for (int row : std::as_const(shown))
            if (m_harvester && row < list->records.size())
                rows.append(m_harvester->List.Items(list->records.at(row)));
    }
    if (rows.isEmpty()) {
        AppMessages::showNotice(this, QStringLiteral("保存する結果がありません。"));
        return;
    }
    QPointer<TForm1> self(this);
    FileDialogs::chooseFileToSave(this, QStringLiteral("結果を保存"),
                                  {QStringLiteral("テキスト、1 行に 1 アドレス (*.txt)"),
                                   QStringLiteral("CSV (*.csv)"), QStringLiteral("JSON lines (*.jsonl)")},
                                  QStringLiteral("ネピリカの結果.txt"), [self, rows](const QString& path) {
                                      const QString error = ResultExport::save(path, rows);
                                      if (!error.isEmpty())
                                          AppMessages::showError(self, error);
                                  });
}

void TForm1::restoreSettings() {
    foruda1->setText(m_settings->pagesFolder());
    foruda->setText(m_settings->filesFolder());
    kensaku1->setText(m_settings->pagesFilter());
    kensaku2->setText(m_settings->filesFilter());
    NoScripts1->setChecked(m_settings->noScripts());
    const QByteArray geometry = m_settings->windowGeometry();
    if (!geometry.isEmpty() && restoreGeometry(geometry)) {
        // The kept geometry is the outer one already: no fitting of the layout's outer size.
        qDeleteAll(findChildren<OuterGeometry*>(Qt::FindDirectChildrenOnly));
        keepOnScreen();
    }
    rebuildRecentMenu();
}

void TForm1::storeSettings() {
    m_settings->setPagesFolder(foruda1->text());
    m_settings->setFilesFolder(foruda->text());
    m_settings->setPagesFilter(kensaku1->text());
    m_settings->setFilesFilter(kensaku2->text());
    m_settings->setNoScripts(NoScripts1->isChecked());
    m_settings->setWindowGeometry(saveGeometry());
    m_settings->sync();
}

void TForm1::keepOnScreen() {
    // A window kept on a screen that is gone comes back on the primary screen, whole.
    const QRect frame = frameGeometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect seen = screen->availableGeometry().intersected(frame);
        if (seen.width() >= 100 && seen.height() >= 50)
            return;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    const QRect area = primary->availableGeometry();
    QRect place(QPoint(), size().boundedTo(area.size()));
    place.moveCenter(area.center());
    move(place.topLeft());
    resize(place.size());
}

void TForm1::rebuildRecentMenu() {
    Recent1->clear();
    const QStringList inputs = m_settings->recentInputs();
    for (const QString& input : inputs) {
        const QStringList lines = AddressInput::lines(input);
        QString label = fontMetrics().elidedText(lines.value(0), Qt::ElideMiddle, 480);
        if (lines.size() > 1)
            label += QStringLiteral("　ほか %1 件").arg(lines.size() - 1);
        // "&" would be read as a mnemonic.
        QAction* entry = Recent1->addAction(label.replace(QLatin1Char('&'), QLatin1String("&&")));
        entry->setToolTip(input);
        connect(entry, &QAction::triggered, this,
                [this, input] { MemoImport->replace(input.split(QLatin1Char('\n'))); });
    }
    if (inputs.isEmpty()) {
        Recent1->addAction(QStringLiteral("（なし）"))->setEnabled(false);
        return;
    }
    Recent1->addSeparator();
    Recent1->addAction(QStringLiteral("履歴を消去(&C)"), this, [this] {
        m_settings->clearRecentInputs();
        m_settings->sync();
        rebuildRecentMenu();
    });
}

// --- Events --------------------------------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Button5 && event->type() == QEvent::MouseButtonDblClick)
        return true;
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers().testFlag(Qt::ControlModifier)) {
            if (!m_analysing)
                Button5Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
