#include "TForm1.h"

#include "AddressInput.h"
#include "AnalysisController.h"
#include "AppIcon.h"
#include "AppMessages.h"
#include "AppSettings.h"
#include "DisplayAddress.h"
#include "DownloadCommand.h"
#include "DownloadFolderRule.h"
#include "DownloadQueueOffer.h"
#include "EditActions.h"
#include "FileDialogs.h"
#include "FolderBox.h"
#include "FollowMenu.h"
#include "HistoryLocation.h"
#include "HelpMenu.h"
#include "InputBoxImport.h"
#include "LayoutButton.h"
#include "NameMask.h"
#include "NameMaskBar.h"
#include "HarvestProfile.h"
#include "LoginActions.h"
#include "OuterGeometry.h"
#include "PictureControls.h"
#include "PictureStore.h"
#include "ProgressLabel.h"
#include "RecentInputsMenu.h"
#include "ResultListContextMenu.h"
#include "ResultListPanel.h"
#include "ResultsFile.h"
#include "TForm3.h"
#include "TWebBrowser.h"
#include "Tkoukoku.h"
#include "WindowFont.h"
#include "WindowHistory.h"
#include "tlinksys.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
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
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The window layout's sizes.
constexpr int BannerHeight = 150;
constexpr int InputBandHeight = 149;
constexpr int PanelWidth = 83;
constexpr int LabelFontHeight = 15;

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
    // The harvester goes before the windows its records are shown in.
    if (m_analysis)
        m_analysis->shutDown();
    // The browser window's page goes before the profile of WB1.
    delete Login;
}

void TForm1::buildWindow() {
    ActionList1 = new EditActions(this);
    Action1 = new QAction(QStringLiteral("Action1"), ActionList1);
    Action1->setObjectName(QStringLiteral("Action1"));
    addAction(Action1);

    // The hidden harvesting browser's profile is the one the harvester's pages share (and whose
    // cookies downloads send); the harvester connects itself to its pages.
    // With a folder, the profile is the window's persistent log-in, owned by WB1 as its own would be.
    HarvestProfile* identity =
        m_options.browserFolder.isEmpty() ? nullptr : new HarvestProfile(m_options.browserFolder, nullptr);
    WB1 = new TWebBrowser(identity ? identity->profile() : nullptr, this);
    if (identity)
        identity->setParent(WB1);
    WB1->setObjectName(QStringLiteral("WB1"));

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(ScrollBox1);

    // The bands are made inside the window, so that they take its font from the start (the focus
    // frames' style sheets fix the font a control has when they are set).
    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("ClientArea"));
    ScrollBox1->setWidget(client);
    auto* bands = new QVBoxLayout(client);
    bands->setContentsMargins(0, 0, 0, 0);
    bands->setSpacing(0);

    const QUrl adListUrl = m_options.adListUrl.isEmpty() ? Tkoukoku::defaultListUrl() : m_options.adListUrl;
    Tkoukoku1 = new Tkoukoku(client, adListUrl);
    Tkoukoku1->setObjectName(QStringLiteral("Tkoukoku1"));
    Tkoukoku1->setAccessibleName(QStringLiteral("広告"));
    Tkoukoku1->setFixedHeight(BannerHeight);
    bands->addWidget(Tkoukoku1);

    buildInputBand(client);
    bands->addWidget(GroupBox3);
    buildResultBands(client, bands);

    // Run by the analysis; never shown.
    Button3 = LayoutButton::make(client, "Button3", QStringLiteral("結果表示"), QRect(652, 0, 13, 13));
    Button3->setVisible(false);

    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);

    MemoImport = new InputBoxImport(Memo1);
    MemoImport->setObjectName(QStringLiteral("MemoImport"));
    const auto toInput = [this](const QStringList& addresses) {
        MemoImport->replace(addresses);
    };
    Login = new LoginActions(
        this, HarvestProfile::of(WB1->profile()),
        {[this] { return AddressInput::toUrl(AddressInput::lines(Memo1->toPlainText()).value(0)); },
         [this](const QString& address) { MemoImport->replace({address}); },
         [this] {
             Pictures->forgetCookies();
         }});
    ListMenu1 = new ResultListContextMenu(ListBox1, {[this] { Button7Click(); }, toInput,
                                                     [this](const QString& a) {
                                                         Login->openBrowser(QUrl(a));
                                                     }});
    ListMenu2 = new ResultListContextMenu(ListBox2, {[this] { Button4Click(); }, toInput});
    PicturesMenu2 = new ResultListContextMenu(GroupBox2->grid, {[this] { Button4Click(); }, toInput});

    // The data files' facts and thumbnails are fetched as the harvest's downloads would be: with its
    // user agent and cookies.
    DownloadOptions pictureOptions;
    pictureOptions.userAgent = WB1->userAgent();
    pictureOptions.cookieJar = WB1->cookieJar();
    Pictures = new PictureStore(pictureOptions, this);
    Pictures->setObjectName(QStringLiteral("Pictures"));
    if (!m_options.settingsFile.isEmpty())
        Pictures->setDiskCache(ThumbnailDiskCache(ThumbnailDiskCache::defaultFolder()));
    GroupBox2->setPictureStore(Pictures);
    // The download history: what the window saves is recorded, and saved entries are marked.
    SavedHistory = new WindowHistory(this, m_settings.get(),
                                     m_options.historyFile.isEmpty() ? HistoryLocation::defaultFile()
                                                                     : m_options.historyFile);
    GroupBox1->setSavedMarks(SavedHistory->marks());
    GroupBox2->setSavedMarks(SavedHistory->marks());

    buildMenus();
    setTabOrder();
    Memo1->setFocus();
    // Once the window is up: a download that an earlier run left unfinished.
    if (m_options.offerKeptDownloads)
        QTimer::singleShot(0, this, [this] { DownloadQueueOffer::offer(this, WB1); });
}

void TForm1::buildResultBands(QWidget* client, QVBoxLayout* bands) {
    ResultListPanel::Setup pages;
    pages.caption = LinkedPagesCaption;
    pages.side = ResultFilter::Side::LinkedPages;
    pages.boxName = "GroupBox1";
    pages.listName = "ListBox1";
    pages.panelName = "Panel2";
    pages.textName = "Button2";
    pages.folderName = "foruda1";
    pages.folderButtonName = "forudaButton1";
    pages.nameMaskName = "hozonmei1";
    pages.downloadName = "Button7";
    pages.filterName = "kensaku1";
    pages.filterButtonName = "Button8";
    pages.unfilterButtonName = "Button10";
    pages.folder = AppSettings::DefaultPagesFolder;
    pages.filterText = AppSettings::DefaultPagesFilter;
    pages.filterTop = 81;
    pages.filterButtonsTop = 100;
    // The two result bands share the height as the person drags the handle between them.
    Bands1 = new QSplitter(Qt::Vertical, client);
    Bands1->setObjectName(QStringLiteral("Bands1"));
    Bands1->setChildrenCollapsible(false);
    bands->addWidget(Bands1, 1);
    GroupBox1 = new ResultListPanel(pages, Bands1);
    Bands1->addWidget(GroupBox1);
    ListBox1 = GroupBox1->list;
    Panel2 = GroupBox1->commands;
    Button2 = GroupBox1->textButton;
    foruda1 = GroupBox1->folderBox;
    forudaButton1 = GroupBox1->folderButton;
    Button7 = GroupBox1->downloadButton;
    kensaku1 = GroupBox1->filterBox;
    Button8 = GroupBox1->filterButton;
    Button10 = GroupBox1->unfilterButton;

    ResultListPanel::Setup files;
    files.caption = DataFilesCaption;
    files.side = ResultFilter::Side::DataFiles;
    files.boxName = "GroupBox2";
    files.listName = "ListBox2";
    files.panelName = "Panel3";
    files.textName = "Button6";
    files.folderName = "foruda";
    files.folderButtonName = "forudaButton";
    files.nameMaskName = "hozonmei";
    files.downloadName = "Button4";
    files.filterName = "kensaku2";
    files.filterButtonName = "Button9";
    files.unfilterButtonName = "Button11";
    files.folder = AppSettings::DefaultFilesFolder;
    files.filterText = AppSettings::DefaultFilesFilter;
    files.filterTop = 84;
    files.filterButtonsTop = 104;
    files.pictures = true;
    GroupBox2 = new ResultListPanel(files, Bands1);
    Bands1->addWidget(GroupBox2);
    Bands1->setStretchFactor(0, 1);
    Bands1->setStretchFactor(1, 1);
    ListBox2 = GroupBox2->list;
    Panel3 = GroupBox2->commands;
    Button6 = GroupBox2->textButton;
    foruda = GroupBox2->folderBox;
    forudaButton = GroupBox2->folderButton;
    Button4 = GroupBox2->downloadButton;
    kensaku2 = GroupBox2->filterBox;
    Button9 = GroupBox2->filterButton;
    Button11 = GroupBox2->unfilterButton;

    connect(GroupBox1, &ResultListPanel::textViewRequested, this, &TForm1::Button2Click);
    connect(GroupBox2, &ResultListPanel::textViewRequested, this, &TForm1::Button6Click);
    connect(GroupBox1, &ResultListPanel::downloadRequested, this, &TForm1::Button7Click);
    connect(GroupBox2, &ResultListPanel::downloadRequested, this, &TForm1::Button4Click);
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
    OpenResults1 = File1->addAction(QStringLiteral("結果を開く…(&R)"));
    OpenResults1->setObjectName(QStringLiteral("OpenResults1"));
    connect(OpenResults1, &QAction::triggered, this, &TForm1::openResults);
    Recent1 = new RecentInputsMenu(m_settings.get(), this);
    File1->addMenu(Recent1);
    connect(Recent1, &RecentInputsMenu::chosen, MemoImport,
            [this](const QString& input) { MemoImport->replace(input.split(QLatin1Char('\n'))); });
    File1->addAction(Login->LoadCookies);
    File1->addSeparator();
    Close1 = File1->addAction(QStringLiteral("閉じる(&X)"));
    Close1->setObjectName(QStringLiteral("Close1"));
    Close1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);

    View1 = MainMenu1->addMenu(QStringLiteral("表示(&V)"));
    View1->setObjectName(QStringLiteral("View1"));
    Pictures1 = View1->addAction(QStringLiteral("データファイルを画像で表示(&G)"));
    Pictures1->setObjectName(QStringLiteral("Pictures1"));
    Pictures1->setCheckable(true);
    Pictures1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    Pictures1->setShortcutContext(Qt::WindowShortcut);
    connect(Pictures1, &QAction::toggled, GroupBox2, &ResultListPanel::setPicturesShown);
    connect(GroupBox2, &ResultListPanel::pictureSettingsChanged, this, [this] {
        const QSignalBlocker quiet(Pictures1);
        Pictures1->setChecked(GroupBox2->picturesShown());
        m_settings->setFilesAsPictures(GroupBox2->picturesShown());
        m_settings->setFilesNarrowing(GroupBox2->narrowing());
    });
    connect(Pictures1, &QAction::toggled, this, [this](bool on) { m_settings->setFilesAsPictures(on); });
    FillFiles1 = View1->addAction(QStringLiteral("データファイルをウィンドウいっぱいに表示(&M)"));
    FillFiles1->setObjectName(QStringLiteral("FillFiles1"));
    FillFiles1->setCheckable(true);
    FillFiles1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
    FillFiles1->setShortcutContext(Qt::WindowShortcut);
    connect(FillFiles1, &QAction::toggled, this, &TForm1::fillWithFiles);
    connect(GroupBox2->controls->fillButton, &QToolButton::toggled, FillFiles1, &QAction::setChecked);
    View1->addAction(Login->OpenBrowser);

    Settings1 = MainMenu1->addMenu(QStringLiteral("設定(&S)"));
    Settings1->setObjectName(QStringLiteral("Settings1"));
    NoScripts1 = Settings1->addAction(QStringLiteral("スクリプトを実行しない(&J)"));
    NoScripts1->setObjectName(QStringLiteral("NoScripts1"));
    NoScripts1->setCheckable(true);
    connect(NoScripts1, &QAction::toggled, this, [this](bool on) {
        m_settings->setNoScripts(on);
        m_settings->sync();
    });
    Scroll1 = Settings1->addAction(QStringLiteral("ページを最後までスクロール(&R)"));
    Scroll1->setObjectName(QStringLiteral("Scroll1"));
    Scroll1->setCheckable(true);
    connect(Scroll1, &QAction::toggled, this, [this](bool on) {
        m_settings->setScrollToEnd(on);
        m_settings->sync();
    });
    Settings1->addMenu(new FollowMenu(m_settings.get(), Settings1));
    SavedHistory->addMenuItems(Settings1, View1);
    Settings1->addSeparator();
    Settings1->addAction(Login->ClearLogIns);

    Help1 = new HelpMenu(this);
    MainMenu1->addMenu(Help1);

    // Escape stops a running analysis, as "中止" does.
    auto* stopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopKey->setObjectName(QStringLiteral("StopKey"));
    connect(stopKey, &QShortcut::activated, this, [this] {
        if (isAnalysing())
            m_analysis->cancel();
    });

    // F10 opens the menu bar, as on other desktops.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    menuKey->setObjectName(QStringLiteral("MenuKey"));
    connect(menuKey, &QShortcut::activated, this, [this] {
        MainMenu1->setFocus(Qt::MenuBarFocusReason);
        MainMenu1->setActiveAction(File1->menuAction());
    });
}

void TForm1::buildInputBand(QWidget* client) {
    GroupBox3 = new QGroupBox(client);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setFixedHeight(InputBandHeight);
    auto* rows = new QVBoxLayout(GroupBox3);
    rows->setContentsMargins(2, 2, 2, 2);
    rows->setSpacing(2);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    rows->addLayout(layout, 1);

    Memo1 = new QPlainTextEdit(GroupBox3);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("解析したいページのURL"));
    Memo1->setPlaceholderText(InputHint);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);
    // The control with the keyboard focus is marked plainly, whatever the style draws by itself.
    Memo1->setStyleSheet(QStringLiteral("QPlainTextEdit:focus { border: 2px solid palette(highlight); }"));
    layout->addWidget(Memo1, 1);

    Panel1 = new QWidget(GroupBox3);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedWidth(PanelWidth);
    layout->addWidget(Panel1);

    Button5 = LayoutButton::make(Panel1, "Button5", StartCaption, QRect(6, 4, 75, 21));
    Button5->setStyleSheet(QStringLiteral("QPushButton:focus { border: 2px solid palette(highlight); "
                                          "border-radius: 3px; background: palette(button); }"));
    // A double click is one press of the button, not a start followed at once by a cancel.
    Button5->installEventFilter(this);
    // Empty until the first analysis: "完　了" would tell of one that never ran. One line across the
    // band, under the input box, so that the page's address has room.
    Label1 = new ProgressLabel(GroupBox3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(WindowFont::font(LabelFontHeight));
    Label1->setFixedHeight(QFontMetrics(Label1->font()).height() + 2);
    rows->addWidget(Label1);
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
    return m_analysis ? m_analysis->harvester() : nullptr;
}

bool TForm1::isAnalysing() const {
    return m_analysis && m_analysis->isRunning();
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
    AnalysisController::Limits limits;
    limits.pageTimeoutMs = m_options.pageTimeoutMs;
    limits.collectTimeoutMs = m_options.collectTimeoutMs;
    limits.parallel = m_options.parallel;
    m_analysis = new AnalysisController(WB1->profile(), limits, m_settings.get(), this);
    GroupBox1->setHarvester(m_analysis->harvester());
    GroupBox2->setHarvester(m_analysis->harvester());
    connect(m_analysis, &AnalysisController::harvesterReplaced, this, [this](tlinksys* harvester) {
        GroupBox1->setHarvester(harvester);
        GroupBox2->setHarvester(harvester);
    });
    connect(m_analysis, &AnalysisController::pageRecorded, this, &TForm1::showNewRecords);
    connect(m_analysis, &AnalysisController::progressChanged, this, &TForm1::showProgress);
    connect(m_analysis, &AnalysisController::finished, this, &TForm1::onFinished);
}

void TForm1::FormClose() {
    storeSettings();
    for (const QPointer<TForm3>& view : std::as_const(m_textViews))
        if (view)
            view->close();
    m_analysis->shutDown();
}

void TForm1::ResetResults() {
    m_analysis->reset();
    GroupBox1->clear();
    GroupBox2->clear();
}

// --- Commands ------------------------------------------------------------------------------------

void TForm1::Button5Click() {
    if (m_analysis->isRunning()) {
        m_analysis->cancel();
        return;
    }
    const QStringList typed = AddressInput::lines(Memo1->toPlainText());
    if (typed.isEmpty()) {
        // The results of the last analysis stay: nothing replaces them.
        AppMessages::showNotice(this, QStringLiteral("解析するアドレスがありません。\n") + InputHint +
                                          QStringLiteral("してください。"));
        return;
    }
    // Each address is loaded once, in the place where it first stands.
    m_repeatsSkipped = 0;
    const QStringList lines = AddressInput::distinct(typed, &m_repeatsSkipped);
    Label1->showWorking(1, int(lines.size()), 0, lines.first());
    ResetResults();
    // The lists fill page by page, with their counts, and keep their filters meanwhile.
    GroupBox1->showCount();
    GroupBox2->showCount();
    Recent1->add(Memo1->toPlainText());
    Button5->setText(CancelCaption);
    Button5->setAccessibleName(CancelCaption);
    m_analysis->start(lines, NoScripts1->isChecked(), Scroll1->isChecked());
}

void TForm1::Button3Click() {
    GroupBox1->showAll();
    GroupBox2->showAll();
}

void TForm1::Button8Click() {
    GroupBox1->filter();
}

void TForm1::Button9Click() {
    GroupBox2->filter();
}

void TForm1::Button10Click() {
    GroupBox1->unfilter();
}

void TForm1::Button11Click() {
    GroupBox2->unfilter();
}

void TForm1::Button2Click() {
    viewAsText(GroupBox1);
}

void TForm1::Button6Click() {
    viewAsText(GroupBox2);
}

void TForm1::Button7Click() {
    download(GroupBox1);
}

void TForm1::Button4Click() {
    download(GroupBox2);
}

void TForm1::Close1Click() {
    close();
}

void TForm1::viewAsText(const ResultListPanel* panel) {
    auto* view = new TForm3(this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->kekka->setPlainText(panel->text());
    m_textViews.removeAll(nullptr);
    m_textViews.append(view);
    view->open();
}

QString TForm1::bandName(const ResultListPanel* panel) const {
    return panel == GroupBox1 ? QStringLiteral("pages") : QStringLiteral("files");
}

void TForm1::download(const ResultListPanel* panel) {
    // A mask that is no mask is named before anything is made or fetched.
    QString maskError;
    const QString maskText = panel->nameMaskBar->mask();
    const NameMask mask = NameMask::parsed(maskText, &maskError);
    if (!maskError.isEmpty()) {
        AppMessages::showError(this, maskError);
        return;
    }
    if (!mask.isEmpty()) {
        panel->nameMaskBar->remember(maskText);
        if (m_settings)
            m_settings->addRecentNameMask(bandName(panel), maskText);
    }
    const QString folder = DownloadFolderRule::fromSystem().resolve(panel->folderBox->text());
    const int jobs = m_settings ? m_settings->downloadJobs() : 0;
    QList<DownloadRequestItem> selected = panel->selectedItems();
    for (DownloadRequestItem& item : selected)
        item.address = m_analysis->withPassword(item.url);
    if (!selected.isEmpty()) {
        SavedHistory->download(selected, folder, WB1, jobs, mask);
        return;
    }
    // Nothing selected: no folder is made and nothing is said to be done.
    QList<DownloadRequestItem> shown = panel->shownItems();
    for (DownloadRequestItem& item : shown)
        item.address = m_analysis->withPassword(item.url);
    if (shown.isEmpty()) {
        AppMessages::showNotice(
            this, QStringLiteral("「%1」にダウンロードする項目がありません。").arg(panel->caption()));
        return;
    }
    QMessageBox* notice = AppMessages::showNotice(
        this, QStringLiteral("ダウンロードする項目が選ばれていません。\n"
                             "一覧で選ぶか、「すべてダウンロード」で表示中の %1 件をダウンロードします。")
                  .arg(shown.size()));
    QPushButton* all = notice->addButton(DownloadAllCaption, QMessageBox::ActionRole);
    all->setObjectName(QStringLiteral("DownloadAll"));
    QPointer<TForm1> self(this);
    connect(all, &QPushButton::clicked, this, [self, shown, folder, jobs, mask] {
        // From the event loop, once the notice has gone.
        QTimer::singleShot(0, self, [self, shown, folder, jobs, mask] {
            self->SavedHistory->download(shown, folder, self->WB1, jobs, mask);
        });
    });
}

// --- Analysis progress ---------------------------------------------------------------------------

void TForm1::showNewRecords() {
    GroupBox1->showNewRecords();
    GroupBox2->showNewRecords();
}

void TForm1::showProgress(int current, int total, int done, const QString& address) {
    // Following links: the pages found and not done yet (loading or waiting their turn).
    const bool following = m_analysis->harvester() && m_analysis->harvester()->following().depth > 0;
    Label1->showWorking(current, total, done, address, following && total > done ? total - done : 0);
}

void TForm1::onFinished(bool cancelled) {
    Button5->setText(StartCaption);
    Button5->setAccessibleName(StartCaption);
    // The lists already show what was found, filtered as the user chose; a cancelled analysis
    // keeps what was shown.
    showNewRecords();
    GroupBox1->showCount();
    GroupBox2->showCount();
    Label1->showEnd(cancelled, m_analysis->pagesNotAnalysed(), m_repeatsSkipped);
    Q_EMIT analysisFinished(cancelled);
}

// --- Import, export and remembered state --------------------------------------------------------

void TForm1::saveResults() {
    // The selected entries when there are any, otherwise both lists as shown.
    const bool selectedOnly = GroupBox1->hasSelection() || GroupBox2->hasSelection();
    const tlinksys* records = harvester();
    QList<tURLData> rows;
    for (const ResultListPanel* panel : {GroupBox1, GroupBox2})
        for (qsizetype position : panel->records(selectedOnly))
            if (records && position < records->List.Count())
                rows.append(records->List.Items(position));
    if (rows.isEmpty()) {
        AppMessages::showNotice(this, QStringLiteral("保存する結果がありません。"));
        return;
    }
    ResultsFile::save(this, ResultsFile::withMeasuredFacts(rows, Pictures));
}

void TForm1::openResults() {
    if (isAnalysing()) {
        AppMessages::showNotice(this,
                                QStringLiteral("解析中は結果を開けません。中止してから開いてください。"));
        return;
    }
    QPointer<TForm1> self(this);
    ResultsFile::open(this, [self](const QList<tURLData>& records) {
        if (!self || self->isAnalysing())
            return;
        // In place of the last analysis's records, as an analysis would have left them.
        self->ResetResults();
        tlinksys* harvester = self->harvester();
        for (const tURLData& record : records)
            harvester->List.Add(record);
        self->Button3Click();
        self->GroupBox1->showCount();
        self->GroupBox2->showCount();
    });
}

void TForm1::restoreSettings() {
    foruda1->setText(m_settings->pagesFolder());
    foruda->setText(m_settings->filesFolder());
    for (ResultListPanel* panel : {GroupBox1, GroupBox2}) {
        panel->nameMaskBar->setRecent(m_settings->recentNameMasks(bandName(panel)));
        panel->nameMaskBar->setMask(m_settings->nameMask(bandName(panel)));
    }
    kensaku1->setText(m_settings->pagesFilter());
    kensaku2->setText(m_settings->filesFilter());
    FileDialogs::setLastFolder(m_settings->lastFileFolder());
    NoScripts1->setChecked(m_settings->noScripts());
    Scroll1->setChecked(m_settings->scrollToEnd());
    GroupBox2->setNarrowing(m_settings->filesNarrowing());
    Pictures1->setChecked(m_settings->filesAsPictures());
    Bands1->restoreState(m_settings->bandSizes());
    FillFiles1->setChecked(m_settings->filesFillWindow());
    const QByteArray geometry = m_settings->windowGeometry();
    if (!geometry.isEmpty() && restoreGeometry(geometry)) {
        // The kept geometry is the outer one already: no fitting of the layout's outer size.
        qDeleteAll(findChildren<OuterGeometry*>(Qt::FindDirectChildrenOnly));
        keepOnScreen();
    }
}

void TForm1::storeSettings() {
    m_settings->setPagesFolder(foruda1->text());
    m_settings->setFilesFolder(foruda->text());
    for (const ResultListPanel* panel : {GroupBox1, GroupBox2})
        m_settings->setNameMask(bandName(panel), panel->nameMaskBar->mask());
    m_settings->setPagesFilter(kensaku1->text());
    m_settings->setFilesFilter(kensaku2->text());
    m_settings->setNoScripts(NoScripts1->isChecked());
    m_settings->setScrollToEnd(Scroll1->isChecked());
    m_settings->setLastFileFolder(FileDialogs::lastFolder());
    m_settings->setFilesAsPictures(GroupBox2->picturesShown());
    m_settings->setFilesNarrowing(GroupBox2->narrowing());
    m_settings->setBandSizes(Bands1->saveState());
    m_settings->setFilesFillWindow(FillFiles1->isChecked());
    m_settings->setWindowGeometry(saveGeometry());
    m_settings->sync();
}

void TForm1::fillWithFiles(bool on) {
    for (QWidget* band : {static_cast<QWidget*>(Tkoukoku1), static_cast<QWidget*>(GroupBox3),
                          static_cast<QWidget*>(GroupBox1)})
        band->setVisible(!on);
    const QSignalBlocker quiet(GroupBox2->controls->fillButton);
    GroupBox2->controls->fillButton->setChecked(on);
    // The picture view is what fills the window.
    if (on)
        Pictures1->setChecked(true);
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

// --- Events --------------------------------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
    if (!m_stopDownloadsOnClose && DownloadCommand::running(this).downloads > 0) {
        event->ignore();
        askToStopDownloads();
        return;
    }
    m_stopDownloadsOnClose = false;
    DownloadCommand::stopAll(this);
    FormClose();
    QMainWindow::closeEvent(event);
}

void TForm1::askToStopDownloads() {
    if (m_closeQuestion) {
        m_closeQuestion->raise();
        m_closeQuestion->activateWindow();
        return;
    }
    const DownloadCommand::Running now = DownloadCommand::running(this);
    const QString stop = QStringLiteral("中止して終了");
    m_closeQuestion = AppMessages::showQuestion(
        this,
        QStringLiteral("ダウンロード中です（%1 / %2 ファイル）。\n").arg(now.done).arg(now.total) +
            (now.unrecorded > 0
                 ? QStringLiteral(
                       "転送を中止して終了しますか？ 途中のファイルは残りません。ダウンロードの記録を"
                       "保存できなかったため、残りは次に起動したときに再開できません。")
                 : QStringLiteral(
                       "転送を中止して終了しますか？ 途中のファイルは残らず、残りは次に起動したときに"
                       "再開できます。")),
        stop, QStringLiteral("続ける"));
    QPointer<TForm1> self(this);
    connect(m_closeQuestion, &QMessageBox::buttonClicked, this, [self, stop](QAbstractButton* clicked) {
        if (clicked->text() != stop)
            return; // the downloads go on
        // From the event loop, once the question has gone.
        QTimer::singleShot(0, self, [self] {
            self->m_stopDownloadsOnClose = true;
            self->close();
        });
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Button5 && event->type() == QEvent::MouseButtonDblClick)
        return true;
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers().testFlag(Qt::ControlModifier)) {
            if (!isAnalysing())
                Button5Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
