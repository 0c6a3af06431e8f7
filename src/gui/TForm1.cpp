#include "TForm1.h"

#include "AddressInput.h"
#include "AppMessages.h"
#include "DownloadCommand.h"
#include "EditActions.h"
#include "OuterGeometry.h"
#include "ResultListDelegate.h"
#include "TForm3.h"
#include "TWebBrowser.h"
#include "Tkoukoku.h"
#include "WindowFont.h"
#include "tlinksys.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
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
    , m_options(options) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ネピリカ"));
    setFont(WindowFont::font());
    buildWindow();
    OuterGeometry::apply(this, QRect(316, 129, 805, 553));
    FormCreate();
}

TForm1::~TForm1() {
    destroyHarvester();
}

void TForm1::buildWindow() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    File1 = MainMenu1->addMenu(QStringLiteral("ファイル"));
    File1->setObjectName(QStringLiteral("File1"));
    Close1 = File1->addAction(QStringLiteral("閉じる"));
    Close1->setObjectName(QStringLiteral("Close1"));
    connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);

    ActionList1 = new EditActions(this);
    Action1 = new QAction(QStringLiteral("Action1"), ActionList1);
    Action1->setObjectName(QStringLiteral("Action1"));
    addAction(Action1);

    // The hidden harvesting browser: it loads pages but has no view.
    WB1 = new TWebBrowser(nullptr, this);
    WB1->setObjectName(QStringLiteral("WB1"));
    connect(WB1, &TWebBrowser::DocumentComplete, this, &TForm1::WB1DocumentComplete);

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
    foruda1 = makeEdit(Panel2, "foruda1", QStringLiteral("Page"), QRect(8, 36, 73, 20),
                       QStringLiteral("リンクしてるページの保存フォルダ名"));
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
    foruda = makeEdit(Panel3, "foruda", QStringLiteral("DL"), QRect(8, 36, 73, 20),
                      QStringLiteral("データファイルの保存フォルダ名"));
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

    setTabOrder();
    Memo1->setFocus();
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
    // An entry's tooltip: how it was found, and on which page.
    list.delegate->setToolTips([this, &list](int row) {
        if (!m_harvester || row < 0 || row >= list.records.size())
            return QString();
        const tURLData& record = m_harvester->List.Items(list.records.at(row));
        return tr("見つけた所: %1\nページ: %2")
            .arg(record.Via.isEmpty() ? tr("不明") : record.Via, record.Source);
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

void TForm1::setTabOrder() {
    const QList<QWidget*> chain = {ListBox1, kensaku1, foruda1,  Button8, Button7, Button2,
                                   Button10, ListBox2, kensaku2, foruda,  Button9, Button6,
                                   Button4,  Button11, Memo1,    Button5, Button3};
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
    for (const QPointer<TForm3>& view : std::as_const(m_textViews))
        if (view)
            view->close();
    destroyHarvester();
}

void TForm1::createHarvester() {
    auto* harvester = new tlinksys(WB1, this);
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
    const QStringList lines = AddressInput::lines(Memo1->toPlainText());
    if (lines.isEmpty()) {
        onFinished(false);
        return;
    }
    m_analysing = true;
    Button5->setText(CancelCaption);
    Button5->setAccessibleName(CancelCaption);
    m_harvester->LoadAll(lines);
}

void TForm1::Button3Click() {
    m_resultsShown = true;
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

void TForm1::WB1DocumentComplete(bool ok, const QString& errorText) {
    WB1->Stop();
    if (m_harvester)
        m_harvester->HarvestDocument(ok, errorText);
}

// --- Lists ---------------------------------------------------------------------------------------

void TForm1::showEntries(ResultList& list, ResultFilter::Entries entries) {
    list.records = std::move(entries.records);
    list.delegate->setEntries(entries.addresses);
    // One reset of the model, not one insertion per entry.
    list.model->setStringList(entries.addresses);
    updateTitle(list);
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
    if (!m_harvester) {
        clearList(list);
        return;
    }
    showEntries(list, ResultFilter::matching(m_harvester->List, list.side, filterText));
}

void TForm1::unfilter(ResultList& list) {
    m_resultsShown = true;
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
    for (const QString& item : items) {
        text += item;
        text += QLatin1Char('\n');
    }
    view->kekka->setPlainText(text);
    m_textViews.removeAll(nullptr);
    m_textViews.append(view);
    view->open();
}

void TForm1::download(const ResultList& list, const QLineEdit* folderBox) {
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/') + folderBox->text();
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
        if (m_harvester && row < list.records.size())
            item.referer = m_harvester->List.Items(list.records.at(row)).Source;
        items.append(item);
    }
    DownloadCommand::start(this, items, folder, WB1);
}

// --- Analysis progress ---------------------------------------------------------------------------

void TForm1::onPageStarted(int index, int total, const QString& address) {
    Q_UNUSED(address);
    // The count goes on a line of its own and cannot be broken: with thousands of pages it is set
    // smaller rather than cut off ("1056/100" for 1056 of 10000).
    const QString count = QStringLiteral("%1/%2").arg(index).arg(total);
    QFont font = WindowFont::font(LabelFontHeight);
    const int room = Label1->contentsRect().width();
    while (font.pixelSize() > SmallestLabelFontHeight && QFontMetrics(font).horizontalAdvance(count) > room)
        font.setPixelSize(font.pixelSize() - 1);
    if (font != Label1->font())
        Label1->setFont(font);
    Label1->setText(QStringLiteral("%1 %2").arg(WorkingCaption, count));
}

void TForm1::onPageFinished(const QString& address, bool ok, const QString& reason) {
    if (!ok)
        m_failures.append(reason.isEmpty() ? address : QStringLiteral("%1 — %2").arg(address, reason));
}

void TForm1::onFinished(bool cancelled) {
    m_analysing = false;
    Button5->setText(StartCaption);
    Button5->setAccessibleName(StartCaption);
    Button3Click();
    Label1->setFont(WindowFont::font(LabelFontHeight));
    Label1->setText(DoneCaption);
    Q_EMIT analysisFinished(cancelled);
    reportFailures();
}

void TForm1::reportFailures() {
    if (m_failures.isEmpty())
        return;
    const QString text =
        QStringLiteral("読み込めなかったページがあります (%1 件):\n").arg(m_failures.size()) +
        AppMessages::shortList(m_failures, FailuresNamed);
    m_failures.clear();
    AppMessages::showNotice(this, text);
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
