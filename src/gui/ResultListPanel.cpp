#include "ResultListPanel.h"

#include "DisplayAddress.h"
#include "DownloadFolderRule.h"
#include "FileDialogs.h"
#include "FolderBox.h"
#include "LayoutButton.h"
#include "LocalFileName.h"
#include "NameMask.h"
#include "NameMaskBar.h"
#include "PictureCellDelegate.h"
#include "PictureControls.h"
#include "PictureGridView.h"
#include "PicturePreview.h"
#include "PictureStore.h"
#include "ResultListDelegate.h"
#include "ResultListModel.h"
#include "ResultListView.h"
#include "SavedMarks.h"
#include "tlinksys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The window layout's sizes.
constexpr int ListBandHeight = 145;
constexpr int PanelWidth = 83;
// A folder box leaves room for its "…" button.
constexpr int FolderBoxWidth = 52;

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
    // The views of the entries, one shown at a time, above the narrowing of a band with pictures.
    auto* views = new QVBoxLayout;
    views->setContentsMargins(0, 0, 0, 0);
    views->setSpacing(2);
    views->addWidget(list, 1);
    layout->addLayout(views, 1);

    unsavedOnlyBox = new QCheckBox(QStringLiteral("未保存のみ"), this);
    unsavedOnlyBox->setToolTip(QStringLiteral("保存の履歴にあるもの（保存済み）を除いて表示します"));
    unsavedOnlyBox->setEnabled(false); // until the history is there
    connect(unsavedOnlyBox, &QCheckBox::toggled, this, &ResultListPanel::renarrow);

    commands = new QWidget(this);
    commands->setObjectName(QString::fromLatin1(setup.panelName));
    commands->setFixedWidth(PanelWidth);
    commands->setMinimumHeight(125);
    layout->addWidget(commands);
    buildCommands(setup);
    if (setup.pictures) {
        buildPictures();
        views->addWidget(grid, 1);
        views->addWidget(controls);
    }
    // 未保存のみ, under either list.
    auto* savedBar = new QHBoxLayout;
    savedBar->setContentsMargins(0, 0, 0, 0);
    savedBar->addWidget(unsavedOnlyBox);
    savedBar->addStretch(1);
    views->addLayout(savedBar);
    nameMaskBar = new NameMaskBar(m_caption, setup.nameMaskName, this);
    views->addWidget(nameMaskBar);
    nameMaskBar->setFirstSelected([this]() -> std::optional<tURLData> {
        const QModelIndexList selected = m_selection->selectedRows();
        if (selected.isEmpty())
            return std::nullopt;
        int first = selected.front().row();
        for (const QModelIndex& index : selected)
            first = std::min(first, index.row());
        const qsizetype position = m_model->recordAt(first);
        if (!m_harvester || position < 0 || position >= m_harvester->List.Count())
            return std::nullopt;
        return m_harvester->List.Items(position);
    });
    connect(m_selection, &QItemSelectionModel::selectionChanged, nameMaskBar, &NameMaskBar::updatePreview);
}

void ResultListPanel::setSavedMarks(SavedMarks* marks) {
    m_marks = marks;
    m_model->setSavedMarks(marks);
    unsavedOnlyBox->setEnabled(true);
    connect(marks, &SavedMarks::changed, this, [this] {
        if (!unsavedOnlyBox->isChecked() || std::exchange(m_marksChanged, true))
            return;
        // Once for the answers that come together.
        QTimer::singleShot(0, this, [this] {
            m_marksChanged = false;
            renarrow();
        });
    });
}

ResultFilter::Entries ResultListPanel::unsavedOnly(ResultFilter::Entries entries) const {
    if (!m_marks)
        return entries;
    m_marks->ask(entries.addresses);
    return unsavedOnlyBox->isChecked() ? m_marks->unsaved(entries) : entries;
}

void ResultListPanel::buildPictures() {
    grid = new PictureGridView(this);
    grid->setObjectName(list->objectName() + QStringLiteral("Pictures"));
    grid->setAccessibleName(m_caption + QStringLiteral("の画像表示"));
    grid->setModel(m_model);
    QItemSelectionModel* own = grid->selectionModel();
    grid->setSelectionModel(m_selection);
    delete own;
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setStyleSheet(focusFrame("QListView"));
    grid->hide();
    // A cell opens large on a double click, or on Space.
    connect(grid, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { openPreview(index.row()); });
    grid->installEventFilter(this);

    controls = new PictureControls(this);
    picturesBox = controls->picturesBox;
    minWidthBox = controls->minWidthBox;
    minHeightBox = controls->minHeightBox;
    typesButton = controls->typesButton;
    largestBox = controls->largestBox;
    orderBox = controls->orderBox;
    connect(picturesBox, &QCheckBox::toggled, this, [this](bool on) {
        setPicturesShown(on);
        Q_EMIT pictureSettingsChanged();
    });
    connect(controls, &PictureControls::narrowingChanged, this, &ResultListPanel::narrowingChanged);
    connect(m_selection, &QItemSelectionModel::selectionChanged, this, &ResultListPanel::countSelected);
    connect(m_model, &QAbstractItemModel::modelReset, this, &ResultListPanel::countSelected);

    m_renarrow = new QTimer(this);
    m_renarrow->setSingleShot(true);
    m_renarrow->setInterval(500);
    connect(m_renarrow, &QTimer::timeout, this, &ResultListPanel::renarrow);
}

bool ResultListPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier &&
            m_selection->currentIndex().isValid()) {
            openPreview(m_selection->currentIndex().row());
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

void ResultListPanel::countSelected() {
    qsizetype count = 0;
    for (const QItemSelectionRange& range : m_selection->selection())
        count += range.height();
    controls->showSelected(count);
}

PictureCellDelegate::Cell ResultListPanel::cellAt(int row) const {
    PictureCellDelegate::Cell cell;
    cell.url = m_model->index(row).data().toString();
    const qsizetype position = m_model->recordAt(row);
    if (m_harvester && position >= 0 && position < m_harvester->List.Count()) {
        const tURLData& record = m_harvester->List.Items(position);
        cell.referer = record.Source;
        cell.charset = record.Charset;
        cell.depth = record.Depth;
        cell.image = record.Kind == tURLData::KindImage;
    } else {
        cell.image = true;
    }
    return cell;
}

PicturePreview* ResultListPanel::preview() const {
    return m_preview;
}

void ResultListPanel::openPreview(int row) {
    if (!m_store || row < 0 || row >= m_model->rowCount())
        return;
    if (!m_preview) {
        m_preview = new PicturePreview(
            m_store, [this](int at) { return cellAt(at); }, m_model, window());
        connect(m_preview, &PicturePreview::rowShown, this, [this](int shown) {
            const QModelIndex index = m_model->index(shown);
            m_selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            currentView()->scrollTo(index);
        });
    }
    m_preview->showRow(row);
}

void ResultListPanel::setPictureStore(PictureStore* store) {
    m_store = store;
    if (!grid || !store)
        return;
    m_cells = new PictureCellDelegate(
        store, [this](int row) { return cellAt(row); }, grid);
    grid->setItemDelegate(m_cells);
    QStyleOptionViewItem option;
    option.initFrom(grid);
    grid->setGridSize(m_cells->sizeHint(option, {}) + QSize(4, 4));
    connect(store, &PictureStore::changed, this, [this] {
        if (grid->isVisible())
            grid->viewport()->update();
        if (narrowing().active() && !m_renarrow->isActive())
            m_renarrow->start();
    });
}

QListView* ResultListPanel::currentView() const {
    return grid && grid->isVisible() ? grid : list;
}

bool ResultListPanel::picturesShown() const {
    return grid && !grid->isHidden();
}

void ResultListPanel::setPicturesShown(bool shown) {
    if (!grid || shown == picturesShown())
        return;
    QListView* from = shown ? list : grid;
    QListView* to = shown ? grid : list;
    const bool focused = from->hasFocus();
    to->setVisible(true);
    from->setVisible(false);
    const QModelIndex current = m_selection->currentIndex();
    if (current.isValid())
        to->scrollTo(current);
    if (focused)
        to->setFocus();
    const QSignalBlocker quiet(picturesBox);
    picturesBox->setChecked(shown);
}

ImageNarrowing::Criteria ResultListPanel::narrowing() const {
    return controls ? controls->criteria() : ImageNarrowing::Criteria();
}

void ResultListPanel::setNarrowing(const ImageNarrowing::Criteria& criteria) {
    if (!controls)
        return;
    // Not the user's change: nothing is announced (a restored narrowing must not overwrite the other
    // settings being restored).
    controls->setCriteria(criteria);
    if (m_countShown)
        renarrow();
}

void ResultListPanel::narrowingChanged() {
    // Shown entries only: a list not shown yet stays empty.
    if (m_countShown)
        renarrow();
    Q_EMIT pictureSettingsChanged();
}

ResultFilter::Entries ResultListPanel::filtered() const {
    if (!m_harvester)
        return {};
    return m_filtered ? ResultFilter::matching(m_harvester->List, m_side, m_filterText)
                      : ResultFilter::all(m_harvester->List, m_side);
}

void ResultListPanel::renarrow() {
    if (!m_countShown)
        return;
    // The selected and current entries by record, found again among the new rows.
    QSet<qsizetype> selected;
    for (const QModelIndex& index : m_selection->selectedRows())
        selected.insert(m_model->recordAt(index.row()));
    const qsizetype current = m_model->recordAt(m_selection->currentIndex().row());
    QListView* view = currentView();
    const int scroll = view->verticalScrollBar()->value();
    showEntries(filtered());
    QItemSelection again;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const qsizetype position = m_model->recordAt(row);
        if (selected.contains(position))
            again.select(m_model->index(row), m_model->index(row));
        if (position == current && current >= 0)
            m_selection->setCurrentIndex(m_model->index(row), QItemSelectionModel::NoUpdate);
    }
    m_selection->select(again, QItemSelectionModel::ClearAndSelect);
    view->verticalScrollBar()->setValue(scroll);
}

bool ResultListPanel::hidesUnmeasured(const ImageNarrowing::Criteria& criteria) {
    // A least size leaves out what is not measured yet; the kinds and the orders keep it.
    return criteria.minWidth > 0 || criteria.minHeight > 0;
}

ImageNarrowing::Facts ResultListPanel::narrowingFacts(qsizetype position) const {
    ImageNarrowing::Facts facts;
    if (!m_harvester || position < 0 || position >= m_harvester->List.Count())
        return facts;
    const tURLData& record = m_harvester->List.Items(position);
    if (record.Kind != tURLData::KindImage) {
        facts.known = true;
        facts.typeName = PictureCellDelegate::embedType(record.URL);
        return facts;
    }
    const PictureFacts known = m_store ? m_store->facts(record.URL) : PictureFacts();
    facts.known = known.state != PictureFacts::State::Unknown;
    facts.typeName = known.typeName;
    facts.width = known.width;
    facts.height = known.height;
    facts.bytes = known.bytes;
    return facts;
}

qsizetype ResultListPanel::askFacts(const ResultFilter::Entries& entries) {
    m_measured = 0;
    if (!m_store || !m_harvester)
        return 0;
    qsizetype needed = 0;
    for (qsizetype position : entries.records) {
        if (position < 0 || position >= m_harvester->List.Count())
            continue;
        const tURLData& record = m_harvester->List.Items(position);
        if (record.Kind != tURLData::KindImage)
            continue;
        ++needed;
        if (m_store->facts(record.URL).state != PictureFacts::State::Unknown)
            ++m_measured;
        else
            m_store->wantFacts(record.URL, record.Source);
    }
    return needed;
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
    m_delegate->setCharsets([this](int row) {
        const qsizetype position = m_model->recordAt(row);
        return m_harvester && position >= 0 && position < m_harvester->List.Count()
                   ? m_harvester->List.Items(position).Charset
                   : QString();
    });
    // An entry's tooltip: how it was found, on which page, and the name it is saved under (the
    // entry itself shows the address as the address bar would, legacy bytes still encoded).
    m_delegate->setToolTips([this](int row) {
        const qsizetype position = m_model->recordAt(row);
        if (!m_harvester || position < 0 || position >= m_harvester->List.Count())
            return QString();
        const tURLData& record = m_harvester->List.Items(position);
        QString tip =
            tr("見つけた所: %1\nページ: %2\n保存名: %3")
                .arg(record.Via.isEmpty() ? tr("不明") : record.Via,
                     record.Depth > 0
                         ? tr("%1（入力したページから %2 リンク先）").arg(record.Source).arg(record.Depth)
                         : record.Source,
                     LocalFileName(record.URL, record.Charset));
        // What is known of the file, as the picture view shows it; asked for when not known yet.
        QString facts;
        if (record.Kind == tURLData::KindImage && m_store) {
            facts = m_store->facts(record.URL).toolTipText();
            m_store->showing(record.URL, record.Source, false);
        } else if (!record.isPage()) {
            facts = QStringLiteral("種類: %1").arg(PictureCellDelegate::embedType(record.URL));
        }
        return facts.isEmpty() ? tip : tip + QLatin1Char('\n') + facts;
    });
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setStyleSheet(focusFrame("QListView"));
}

void ResultListPanel::buildCommands(const Setup& setup) {
    const QString& caption = m_caption;
    textButton =
        LayoutButton::make(commands, setup.textName, QStringLiteral("テキスト表示"), QRect(6, 4, 75, 21));
    folderBox = new FolderBox(setup.folder, commands);
    folderBox->setObjectName(QString::fromLatin1(setup.folderName));
    folderBox->setAccessibleName(caption + QStringLiteral("の保存フォルダ名"));
    folderBox->setGeometry(QRect(8, 36, FolderBoxWidth, 20));
    folderButton = LayoutButton::make(commands, setup.folderButtonName, QStringLiteral("…"),
                                      QRect(8 + FolderBoxWidth, 36, PanelWidth - 2 - 8 - FolderBoxWidth, 20));
    downloadButton = LayoutButton::make(commands, setup.downloadName, QStringLiteral("ダウンロード"),
                                        QRect(6, 56, 75, 21));
    filterBox = makeEdit(commands, setup.filterName, setup.filterText, QRect(8, setup.filterTop, 73, 20),
                         caption + QStringLiteral("の検索文字列"));
    const int buttonsTop = setup.filterButtonsTop;
    filterButton = LayoutButton::make(commands, setup.filterButtonName, QStringLiteral("検索"),
                                      QRect(8, buttonsTop, 49, 21));
    unfilterButton = LayoutButton::make(commands, setup.unfilterButtonName, QStringLiteral("C"),
                                        QRect(58, buttonsTop, 23, 21));
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

    filterBox->setPlaceholderText(QStringLiteral("絞り込み"));
    m_filterPalette = filterBox->palette();
    markFilter();
    connect(filterBox, &QLineEdit::textChanged, this, &ResultListPanel::markFilter);
    filterButton->setToolTip(QStringLiteral("絞り込み"));
    unfilterButton->setToolTip(QStringLiteral("絞り込みを解除"));

    for (QLineEdit* box : {static_cast<QLineEdit*>(folderBox), filterBox})
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
    markFilter();
    m_countShown = false;
    m_recordsSeen = 0;
    m_unmeasured = 0;
    if (controls)
        controls->showMeasuring({}, 0, 0);
    m_delegate->setEntries({});
    m_model->setEntries({});
    updateTitle();
}

void ResultListPanel::showAll() {
    m_countShown = true;
    m_filtered = false;
    markFilter();
    showEntries(m_harvester ? ResultFilter::all(m_harvester->List, m_side) : ResultFilter::Entries{});
}

void ResultListPanel::filter() {
    m_countShown = true;
    m_filtered = true;
    m_filterText = filterBox->text();
    markFilter();
    showEntries(m_harvester ? ResultFilter::matching(m_harvester->List, m_side, m_filterText)
                            : ResultFilter::Entries{});
}

bool ResultListPanel::filterApplied() const {
    return m_filtered && filterBox->text() == m_filterText;
}

void ResultListPanel::markFilter() {
    const QString text = filterBox->text();
    // A text in the box that the list does not follow must not pass for the filter in force.
    const bool idle = !text.isEmpty() && !filterApplied();
    QPalette palette = m_filterPalette;
    if (idle)
        palette.setColor(QPalette::Text, m_filterPalette.color(QPalette::PlaceholderText));
    filterBox->setPalette(palette);
    QFont font = filterBox->font();
    font.setItalic(idle);
    filterBox->setFont(font);
    if (filterApplied()) {
        filterBox->setToolTip(
            QStringLiteral("絞り込み中: 「%1」を含むアドレスだけを表示しています（C で解除）")
                .arg(m_filterText));
        filterBox->setAccessibleDescription(QStringLiteral("絞り込み中"));
    } else if (idle) {
        filterBox->setToolTip(QStringLiteral("絞り込み（未適用）: 一覧はこの文字で絞り込まれていません。"
                                             "「検索」か Enter で絞り込みます"));
        filterBox->setAccessibleDescription(QStringLiteral("未適用"));
    } else {
        filterBox->setToolTip(
            QStringLiteral("絞り込み: この文字を含むアドレスだけを表示します（Enter で絞り込み）"));
        filterBox->setAccessibleDescription(QString());
    }
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
    entries = unsavedOnly(std::move(entries));
    const ImageNarrowing::Criteria criteria = narrowing();
    m_unmeasured = 0;
    if (criteria.active() && m_harvester) {
        // Narrowing by what is fetched: the facts of every entry are asked for, after those on screen;
        // those not known yet are counted, not passed over in silence.
        const qsizetype needed = askFacts(entries);
        m_unmeasured = hidesUnmeasured(criteria) ? needed - m_measured : 0;
        entries = ImageNarrowing::apply(entries, m_harvester->List.records(), criteria,
                                        [this](qsizetype position) { return narrowingFacts(position); });
        controls->showMeasuring(criteria, m_measured, needed);
    } else if (controls) {
        controls->showMeasuring(criteria, 0, 0);
    }
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
    added = unsavedOnly(std::move(added));
    if (added.addresses.isEmpty())
        return;
    if (narrowing().active()) {
        // Narrowed entries take their place by the facts: they come with the next narrowing.
        const qsizetype needed = askFacts(added);
        if (hidesUnmeasured(narrowing()))
            m_unmeasured += needed - m_measured;
        updateTitle();
        if (!m_renarrow->isActive())
            m_renarrow->start();
        return;
    }
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
    if (m_countShown && m_unmeasured > 0)
        // Entries left out only because they are not measured yet are counted apart.
        setTitle(
            QStringLiteral("%1 (%2、確認中 %3)").arg(m_caption).arg(m_model->rowCount()).arg(m_unmeasured));
    else if (m_countShown)
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
    for (qsizetype row = 0; row < items.size(); ++row) {
        const qsizetype position = m_model->recordAt(int(row));
        const QString charset = m_harvester && position >= 0 && position < m_harvester->List.Count()
                                    ? m_harvester->List.Items(position).Charset
                                    : QString();
        text += DisplayAddress::forDisplay(items.at(row), charset);
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
            // What the 保存名 mask names it after; its position and the date are the batch's.
            item.mask = NameMask::valuesOf(record, 0, {});
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
