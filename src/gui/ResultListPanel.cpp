#include "ResultListPanel.h"

#include "DisplayAddress.h"
#include "DownloadFolderRule.h"
#include "FileDialogs.h"
#include "FolderBox.h"
#include "LayoutButton.h"
#include "LocalFileName.h"
#include "PictureCellDelegate.h"
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
        auto* bar = new QHBoxLayout;
        bar->setContentsMargins(0, 0, 0, 0);
        bar->setSpacing(4);
        bar->addWidget(picturesBox);
        bar->addWidget(new QLabel(QStringLiteral("幅"), this));
        bar->addWidget(minWidthBox);
        bar->addWidget(new QLabel(QStringLiteral("高さ"), this));
        bar->addWidget(minHeightBox);
        bar->addWidget(typesButton);
        bar->addWidget(largestBox);
        bar->addWidget(orderBox);
        bar->addWidget(unsavedOnlyBox);
        bar->addStretch(1);
        views->addLayout(bar);
    } else {
        auto* bar = new QHBoxLayout;
        bar->setContentsMargins(0, 0, 0, 0);
        bar->addWidget(unsavedOnlyBox);
        bar->addStretch(1);
        views->addLayout(bar);
    }
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
    grid = new QListView(this);
    grid->setObjectName(list->objectName() + QStringLiteral("Pictures"));
    grid->setAccessibleName(m_caption + QStringLiteral("の画像表示"));
    grid->setModel(m_model);
    QItemSelectionModel* own = grid->selectionModel();
    grid->setSelectionModel(m_selection);
    delete own;
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setViewMode(QListView::IconMode);
    grid->setMovement(QListView::Static);
    grid->setResizeMode(QListView::Adjust);
    grid->setUniformItemSizes(true);
    grid->setSpacing(2);
    grid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid->setStyleSheet(focusFrame("QListView"));
    grid->hide();

    picturesBox = new QCheckBox(QStringLiteral("画像表示"), this);
    picturesBox->setObjectName(QStringLiteral("picturesBox"));
    picturesBox->setToolTip(QStringLiteral("一覧と画像表示を切り替える (Ctrl+G)"));
    connect(picturesBox, &QCheckBox::toggled, this, [this](bool on) {
        setPicturesShown(on);
        Q_EMIT pictureSettingsChanged();
    });

    auto makeSize = [this](const char* name, const QString& what) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(0, 100000);
        box->setSpecialValueText(QStringLiteral("指定なし"));
        box->setAccessibleName(what);
        box->setToolTip(QStringLiteral("%1がこれ以上の画像だけを表示します (ピクセル)").arg(what));
        box->setKeyboardTracking(false);
        connect(box, &QSpinBox::valueChanged, this, &ResultListPanel::narrowingChanged);
        return box;
    };
    minWidthBox = makeSize("minWidthBox", QStringLiteral("幅"));
    minHeightBox = makeSize("minHeightBox", QStringLiteral("高さ"));

    typesButton = new QToolButton(this);
    typesButton->setObjectName(QStringLiteral("typesButton"));
    typesButton->setText(QStringLiteral("種類"));
    typesButton->setToolTip(QStringLiteral("表示する種類"));
    typesButton->setPopupMode(QToolButton::InstantPopup);
    auto* types = new QMenu(typesButton);
    QStringList names = ImageNarrowing::offeredTypes();
    names.append(ImageNarrowing::otherTypes());
    for (const QString& name : std::as_const(names)) {
        QAction* action = types->addAction(name);
        action->setCheckable(true);
        action->setChecked(true);
        connect(action, &QAction::toggled, this, [this, types] {
            m_keptTypes.clear();
            bool all = true;
            for (const QAction* each : types->actions()) {
                if (each->isChecked())
                    m_keptTypes.append(each->text());
                else
                    all = false;
            }
            if (all)
                m_keptTypes.clear();
            narrowingChanged();
        });
    }
    typesButton->setMenu(types);

    largestBox = new QCheckBox(QStringLiteral("最大のみ"), this);
    largestBox->setObjectName(QStringLiteral("largestBox"));
    largestBox->setToolTip(
        QStringLiteral("同じ画像の候補 (srcset, picture) のうち最大のものだけを表示します"));
    connect(largestBox, &QCheckBox::toggled, this, &ResultListPanel::narrowingChanged);

    orderBox = new QComboBox(this);
    orderBox->setObjectName(QStringLiteral("orderBox"));
    orderBox->setAccessibleName(QStringLiteral("並び順"));
    orderBox->addItem(QStringLiteral("ページ順"), int(ImageNarrowing::Order::Page));
    orderBox->addItem(QStringLiteral("面積順"), int(ImageNarrowing::Order::Area));
    orderBox->addItem(QStringLiteral("サイズ順"), int(ImageNarrowing::Order::Bytes));
    connect(orderBox, &QComboBox::currentIndexChanged, this, &ResultListPanel::narrowingChanged);

    m_renarrow = new QTimer(this);
    m_renarrow->setSingleShot(true);
    m_renarrow->setInterval(500);
    connect(m_renarrow, &QTimer::timeout, this, &ResultListPanel::renarrow);
}

void ResultListPanel::setPictureStore(PictureStore* store) {
    m_store = store;
    if (!grid || !store)
        return;
    m_cells = new PictureCellDelegate(
        store,
        [this](int row) {
            PictureCellDelegate::Cell cell;
            cell.url = m_model->index(row).data().toString();
            const qsizetype position = m_model->recordAt(row);
            if (m_harvester && position >= 0 && position < m_harvester->List.Count()) {
                const tURLData& record = m_harvester->List.Items(position);
                cell.referer = record.Source;
                cell.image = record.Kind == tURLData::KindImage;
            } else {
                cell.image = true;
            }
            return cell;
        },
        grid);
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
    ImageNarrowing::Criteria criteria;
    if (!grid)
        return criteria;
    criteria.minWidth = minWidthBox->value();
    criteria.minHeight = minHeightBox->value();
    criteria.types = m_keptTypes;
    criteria.largestOnly = largestBox->isChecked();
    criteria.order = ImageNarrowing::Order(orderBox->currentData().toInt());
    return criteria;
}

void ResultListPanel::setNarrowing(const ImageNarrowing::Criteria& criteria) {
    if (!grid)
        return;
    m_applyingNarrowing = true;
    minWidthBox->setValue(criteria.minWidth);
    minHeightBox->setValue(criteria.minHeight);
    for (QAction* action : typesButton->menu()->actions())
        action->setChecked(criteria.types.isEmpty() || criteria.types.contains(action->text()));
    largestBox->setChecked(criteria.largestOnly);
    orderBox->setCurrentIndex(std::max(0, orderBox->findData(int(criteria.order))));
    m_applyingNarrowing = false;
    m_keptTypes = criteria.types;
    narrowingChanged();
}

void ResultListPanel::narrowingChanged() {
    if (m_applyingNarrowing)
        return;
    typesButton->setText(m_keptTypes.isEmpty() ? QStringLiteral("種類") : QStringLiteral("種類*"));
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

void ResultListPanel::askFacts(const ResultFilter::Entries& entries) {
    if (!m_store || !m_harvester)
        return;
    for (qsizetype position : entries.records) {
        if (position < 0 || position >= m_harvester->List.Count())
            continue;
        const tURLData& record = m_harvester->List.Items(position);
        if (record.Kind == tURLData::KindImage)
            m_store->wantFacts(record.URL, record.Source);
    }
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
        QString tip = tr("見つけた所: %1\nページ: %2\n保存名: %3")
                          .arg(record.Via.isEmpty() ? tr("不明") : record.Via, record.Source,
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
    if (criteria.active() && m_harvester) {
        // Narrowing by what is fetched: the facts of every entry are asked for, after those on screen.
        askFacts(entries);
        entries = ImageNarrowing::apply(entries, m_harvester->List.records(), criteria,
                                        [this](qsizetype position) { return narrowingFacts(position); });
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
        askFacts(added);
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
