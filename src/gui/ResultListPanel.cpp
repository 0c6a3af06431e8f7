#include "ResultListPanel.h"

#include "DisplayAddress.h"
#include "DownloadFolderRule.h"
#include "FileDialogs.h"
#include "LocalFileName.h"
#include "ResultListDelegate.h"
#include "ResultListModel.h"
#include "ResultListView.h"
#include "tlinksys.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include <algorithm>

namespace {

// The window layout's sizes.
constexpr int ListBandHeight = 145;
constexpr int PanelWidth = 83;
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

// The control with the keyboard focus is marked plainly, whatever the style draws by itself (set on
// each control, so that menus and the banner keep the style's own look).
QString focusFrame(const char* type) {
    return QStringLiteral("%1:focus { border: 2px solid palette(highlight); }").arg(QLatin1String(type));
}

} // namespace

ResultListPanel::ResultListPanel(const Setup& setup, QWidget* parent)
    : QGroupBox(setup.caption, parent)
    , m_caption(setup.caption)
    , m_side(setup.side) {
    setObjectName(QString::fromLatin1(setup.boxName));
    setMinimumHeight(ListBandHeight);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 2);
    layout->setSpacing(0);

    m_model = new ResultListModel(this);
    m_selection = new QItemSelectionModel(m_model, this);
    list = new ResultListView(this);
    list->setObjectName(QString::fromLatin1(setup.listName));
    buildList();
    layout->addWidget(list, 1);

    commands = new QWidget(this);
    commands->setObjectName(QString::fromLatin1(setup.panelName));
    commands->setFixedWidth(PanelWidth);
    commands->setMinimumHeight(125);
    layout->addWidget(commands);
    buildCommands(setup);
}

void ResultListPanel::buildList() {
    list->setAccessibleName(m_caption);
    list->setModel(m_model);
    // The panel's selection, not one of the view's own: every view of the entries shares it.
    QItemSelectionModel* own = list->selectionModel();
    list->setSelectionModel(m_selection);
    delete own;
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformItemSizes(true);
    m_delegate = new ResultListDelegate(list);
    list->setItemDelegate(m_delegate);
    // An entry's tooltip: how it was found, on which page, and the name it is saved under (the
    // entry itself shows the address as the address bar would, legacy bytes still encoded).
    m_delegate->setToolTips([this](int row) {
        const qsizetype position = m_model->recordAt(row);
        if (!m_harvester || position < 0 || position >= m_harvester->List.Count())
            return QString();
        const tURLData& record = m_harvester->List.Items(position);
        return tr("見つけた所: %1\nページ: %2\n保存名: %3")
            .arg(record.Via.isEmpty() ? tr("不明") : record.Via, record.Source,
                 LocalFileName(record.URL, record.Charset));
    });
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setStyleSheet(focusFrame("QListView"));
}

void ResultListPanel::buildCommands(const Setup& setup) {
    const QString& caption = m_caption;
    textButton = makeButton(commands, setup.textName, QStringLiteral("テキスト表示"), QRect(6, 4, 75, 21));
    folderBox = makeEdit(commands, setup.folderName, setup.folder, QRect(8, 36, FolderBoxWidth, 20),
                         caption + QStringLiteral("の保存フォルダ名"));
    folderButton = makeButton(commands, setup.folderButtonName, QStringLiteral("…"),
                              QRect(8 + FolderBoxWidth, 36, PanelWidth - 2 - 8 - FolderBoxWidth, 20));
    downloadButton =
        makeButton(commands, setup.downloadName, QStringLiteral("ダウンロード"), QRect(6, 56, 75, 21));
    filterBox = makeEdit(commands, setup.filterName, setup.filterText, QRect(8, setup.filterTop, 73, 20),
                         caption + QStringLiteral("の検索文字列"));
    const int buttonsTop = setup.filterButtonsTop;
    filterButton =
        makeButton(commands, setup.filterButtonName, QStringLiteral("検索"), QRect(8, buttonsTop, 49, 21));
    unfilterButton =
        makeButton(commands, setup.unfilterButtonName, QStringLiteral("C"), QRect(58, buttonsTop, 23, 21));
    textButton->setAccessibleDescription(caption + QStringLiteral("をテキストで表示する"));
    downloadButton->setAccessibleDescription(caption + QStringLiteral("の選択した項目をダウンロードする"));
    filterButton->setAccessibleDescription(caption + QStringLiteral("を検索文字列で絞り込む"));
    unfilterButton->setAccessibleDescription(caption + QStringLiteral("の絞り込みを解除する"));

    folderButton->setAccessibleName(QStringLiteral("保存先フォルダを選ぶ"));
    folderButton->setToolTip(QStringLiteral("保存先フォルダを選ぶ"));
    folderBox->setPlaceholderText(QStringLiteral("保存先フォルダ"));
    auto showFolder = [this] {
        const QString folder =
            QDir::toNativeSeparators(DownloadFolderRule::fromSystem().resolve(folderBox->text()));
        folderBox->setToolTip(QStringLiteral("保存先フォルダ: %1").arg(folder));
    };
    showFolder();
    connect(folderBox, &QLineEdit::textChanged, this, showFolder);
    connect(folderButton, &QPushButton::clicked, this, &ResultListPanel::chooseFolder);

    filterBox->setToolTip(
        QStringLiteral("絞り込み: この文字を含むアドレスだけを表示します（Enter で絞り込み）"));
    filterBox->setPlaceholderText(QStringLiteral("絞り込み"));
    filterButton->setToolTip(QStringLiteral("絞り込み"));
    unfilterButton->setToolTip(QStringLiteral("絞り込みを解除"));

    for (QLineEdit* box : {folderBox, filterBox})
        box->setStyleSheet(focusFrame("QLineEdit"));
    for (QPushButton* button : {textButton, folderButton, downloadButton, filterButton, unfilterButton})
        button->setStyleSheet(QStringLiteral("QPushButton:focus { border: 2px solid palette(highlight); "
                                             "border-radius: 3px; background: palette(button); }"));

    connect(textButton, &QPushButton::clicked, this, &ResultListPanel::textViewRequested);
    connect(downloadButton, &QPushButton::clicked, this, &ResultListPanel::downloadRequested);
    connect(filterButton, &QPushButton::clicked, this, &ResultListPanel::filter);
    connect(filterBox, &QLineEdit::returnPressed, this, &ResultListPanel::filter);
    connect(unfilterButton, &QPushButton::clicked, this, &ResultListPanel::unfilter);
}

void ResultListPanel::chooseFolder() {
    const DownloadFolderRule rule = DownloadFolderRule::fromSystem();
    QString start = rule.resolve(folderBox->text());
    // The nearest folder that exists already.
    while (!QFileInfo(start).isDir() && QFileInfo(start).absolutePath() != start)
        start = QFileInfo(start).absolutePath();
    QPointer<QLineEdit> target(folderBox);
    FileDialogs::chooseFolder(window(), QStringLiteral("保存先フォルダ"), start,
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

ResultListModel* ResultListPanel::model() const {
    return m_model;
}

QItemSelectionModel* ResultListPanel::selectionModel() const {
    return m_selection;
}

void ResultListPanel::setHarvester(tlinksys* harvester) {
    m_harvester = harvester;
}

void ResultListPanel::clear() {
    m_filtered = false;
    m_countShown = false;
    m_recordsSeen = 0;
    m_delegate->setEntries({});
    m_model->setEntries({});
    updateTitle();
}

void ResultListPanel::showAll() {
    m_countShown = true;
    m_filtered = false;
    showEntries(m_harvester ? ResultFilter::all(m_harvester->List, m_side) : ResultFilter::Entries{});
}

void ResultListPanel::filter() {
    m_countShown = true;
    m_filtered = true;
    m_filterText = filterBox->text();
    showEntries(m_harvester ? ResultFilter::matching(m_harvester->List, m_side, m_filterText)
                            : ResultFilter::Entries{});
}

void ResultListPanel::unfilter() {
    showAll();
}

void ResultListPanel::showCount() {
    m_countShown = true;
    updateTitle();
}

void ResultListPanel::showEntries(ResultFilter::Entries entries) {
    m_recordsSeen = m_harvester ? m_harvester->List.Count() : 0;
    m_delegate->setEntries(entries.addresses);
    m_model->setEntries(std::move(entries));
    updateTitle();
}

void ResultListPanel::showNewRecords() {
    if (!m_harvester)
        return;
    const std::vector<tURLData>& records = m_harvester->List.records();
    ResultFilter::Entries added;
    for (size_t i = size_t(m_recordsSeen); i < records.size(); ++i) {
        const tURLData& record = records[i];
        if (!ResultFilter::belongs(record, m_side))
            continue;
        if (m_filtered && !ResultFilter::matches(record.URL, m_filterText, record.Charset))
            continue;
        added.addresses.append(record.URL);
        added.records.append(qsizetype(i));
    }
    m_recordsSeen = qsizetype(records.size());
    if (added.addresses.isEmpty())
        return;
    const int first = m_model->rowCount();
    const bool wider = m_delegate->addEntries(added.addresses);
    // Appended rows: the selection and the scroll position stay as the user left them.
    m_model->append(added);
    // The rows share one size, taken from the widest entries: a wider newcomer changes it.
    if (wider)
        Q_EMIT m_delegate->sizeHintChanged(m_model->index(first));
    updateTitle();
}

void ResultListPanel::updateTitle() {
    if (m_countShown)
        setTitle(QStringLiteral("%1 (%2)").arg(m_caption).arg(m_model->rowCount()));
    else
        setTitle(m_caption);
}

QString ResultListPanel::text() const {
    const QStringList items = m_model->stringList();
    qsizetype length = 0;
    for (const QString& item : items)
        length += item.size() + 1;
    QString text;
    text.reserve(length);
    // Each entry ends with a line break, the last one included. Shown decoded, as the list shows them.
    for (const QString& item : items) {
        text += DisplayAddress::forDisplay(item);
        text += QLatin1Char('\n');
    }
    return text;
}

QString ResultListPanel::caption() const {
    return m_caption;
}

bool ResultListPanel::hasSelection() const {
    return m_selection->hasSelection();
}

QList<DownloadRequestItem> ResultListPanel::selectedItems() const {
    QList<int> rows;
    const QModelIndexList selected = m_selection->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex& index : selected)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return itemsAt(rows);
}

QList<DownloadRequestItem> ResultListPanel::shownItems() const {
    QList<int> rows;
    rows.reserve(m_model->rowCount());
    for (int row = 0; row < m_model->rowCount(); ++row)
        rows.append(row);
    return itemsAt(rows);
}

QList<DownloadRequestItem> ResultListPanel::itemsAt(const QList<int>& rows) const {
    const QStringList addresses = m_model->stringList();
    QList<DownloadRequestItem> items;
    items.reserve(rows.size());
    for (int row : std::as_const(rows)) {
        DownloadRequestItem item;
        item.url = addresses.at(row);
        const qsizetype position = m_model->recordAt(row);
        if (m_harvester && position >= 0 && position < m_harvester->List.Count()) {
            const tURLData& record = m_harvester->List.Items(position);
            item.referer = record.Source;
            item.charset = record.Charset;
        }
        items.append(item);
    }
    return items;
}

QList<qsizetype> ResultListPanel::records(bool selectedOnly) const {
    QList<int> rows;
    if (selectedOnly) {
        for (const QModelIndex& index : m_selection->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
    } else {
        for (int row = 0; row < m_model->rowCount(); ++row)
            rows.append(row);
    }
    QList<qsizetype> positions;
    positions.reserve(rows.size());
    for (int row : std::as_const(rows)) {
        const qsizetype position = m_model->recordAt(row);
        if (position >= 0)
            positions.append(position);
    }
    return positions;
}
