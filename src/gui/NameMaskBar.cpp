#include "NameMaskBar.h"

#include "AppSettings.h"
#include "LocalFileName.h"
#include "NameMask.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>

NameMaskBar::NameMaskBar(const QString& caption, const char* objectName, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* label = new QLabel(QStringLiteral("保存名"), this);
    box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMaxCount(AppSettings::RecentMasksKept);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(16);
    box->setAccessibleName(caption + QStringLiteral("の保存名"));
    box->lineEdit()->setPlaceholderText(QStringLiteral("空欄: アドレスの名前（例 {title}/{n:03}.{ext}）"));
    box->setToolTip(QStringLiteral("保存名のマスク。空欄ならアドレスの名前で保存します。\n"
                                   "{name} 元の名前（拡張子なし）  {ext} 拡張子  {title} ページのタイトル\n"
                                   "{alt} 画像の代替テキスト  {host} ホスト  {page} ページのホストとパス\n"
                                   "{n} 順番（{n:03} で 001）  {date} 日付  {w} {h} 幅と高さ  {{ }} 括弧\n"
                                   "「/」で保存先フォルダの中にフォルダを作ります。"));
    label->setBuddy(box);
    preview = new QLabel(this);
    preview->setAccessibleName(caption + QStringLiteral("の保存名の例"));
    preview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    preview->setMinimumWidth(40);
    preview->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(label);
    layout->addWidget(box, 2);
    layout->addWidget(preview, 3);
    connect(box, &QComboBox::editTextChanged, this, &NameMaskBar::updatePreview);
    updatePreview();
}

QString NameMaskBar::mask() const {
    return box->currentText();
}

void NameMaskBar::setMask(const QString& mask) {
    box->setEditText(mask);
    updatePreview();
}

QStringList NameMaskBar::recent() const {
    QStringList masks;
    for (int i = 0; i < box->count(); ++i)
        masks.append(box->itemText(i));
    return masks;
}

void NameMaskBar::setRecent(const QStringList& masks) {
    const QString text = mask();
    box->clear();
    for (const QString& m : masks.mid(0, AppSettings::RecentMasksKept)) {
        if (!m.trimmed().isEmpty())
            box->addItem(m);
    }
    box->setEditText(text);
}

void NameMaskBar::remember(const QString& mask) {
    if (mask.trimmed().isEmpty())
        return;
    QStringList masks = recent();
    masks.removeAll(mask);
    masks.prepend(mask);
    setRecent(masks);
}

void NameMaskBar::setFirstSelected(FirstSelected source) {
    m_firstSelected = std::move(source);
    updatePreview();
}

QString NameMaskBar::previewText(const QString& mask, const std::optional<tURLData>& record, bool* ok) {
    QString error;
    const NameMask parsed = NameMask::parsed(mask, &error);
    *ok = error.isEmpty();
    if (!*ok)
        return error;
    if (!record)
        return QStringLiteral("（項目を選ぶと保存名の例を表示します）");
    const QString name = LocalFileName(record->URL, record->Charset);
    if (parsed.isEmpty())
        return QStringLiteral("→ ") + name;
    NameMask::Values values = NameMask::valuesOf(*record, 1, QDate::currentDate());
    values.name = name;
    // Before the file is fetched, its type is the one its name implies.
    static const QMimeDatabase database;
    const QString type = record->Type.isEmpty()
                             ? database.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name()
                             : record->Type;
    const QString alike = parsed.namesFilesAlike()
                              ? QStringLiteral("（どのファイルも同じ名前になり、番号が付きます）")
                              : QString();
    return QStringLiteral("→ ") + parsed.finalPath(values, type) + alike;
}

void NameMaskBar::updatePreview() {
    bool ok = true;
    const QString text =
        previewText(mask(), m_firstSelected ? m_firstSelected() : std::optional<tURLData>(), &ok);
    // A long name is cut at the label's edge; the tooltip gives it whole.
    preview->setText(text);
    preview->setToolTip(text);
    preview->setStyleSheet(ok ? QString() : QStringLiteral("color: #c00000;"));
}
