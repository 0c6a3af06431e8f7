#include "PictureControls.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

PixelSizeBox::PixelSizeBox(QWidget* parent)
    : QSpinBox(parent) {
    setRange(0, 100000);
    setSpecialValueText(QStringLiteral("指定なし"));
    setKeyboardTracking(false);
}

void PixelSizeBox::fixup(QString& input) const {
    // An empty box is no least size, not the value it had.
    if (input.trimmed().isEmpty())
        input = locale().toString(minimum());
    else
        QSpinBox::fixup(input);
}

PictureControls::PictureControls(QWidget* parent)
    : QWidget(parent) {
    auto* bar = new QHBoxLayout(this);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(4);

    picturesBox = new QCheckBox(QStringLiteral("画像表示"), this);
    picturesBox->setObjectName(QStringLiteral("picturesBox"));
    picturesBox->setToolTip(QStringLiteral("一覧と画像表示を切り替える (Ctrl+G)"));

    auto makeSize = [this](const char* name, const QString& what) {
        auto* box = new PixelSizeBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setAccessibleName(what);
        box->setToolTip(
            QStringLiteral("%1がこれ以上の画像だけを表示します (ピクセル、空欄で指定なし)").arg(what));
        connect(box, &QSpinBox::valueChanged, this, [this] {
            if (!m_setting)
                Q_EMIT narrowingChanged();
        });
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
        connect(action, &QAction::toggled, this, &PictureControls::typesChanged);
    }
    typesButton->setMenu(types);

    largestBox = new QCheckBox(QStringLiteral("最大のみ"), this);
    largestBox->setObjectName(QStringLiteral("largestBox"));
    largestBox->setToolTip(
        QStringLiteral("同じ画像の候補 (srcset, picture) のうち最大のものだけを表示します"));
    connect(largestBox, &QCheckBox::toggled, this, [this] {
        if (!m_setting)
            Q_EMIT narrowingChanged();
    });

    orderBox = new QComboBox(this);
    orderBox->setObjectName(QStringLiteral("orderBox"));
    orderBox->setAccessibleName(QStringLiteral("並び順"));
    orderBox->addItem(QStringLiteral("ページ順"), int(ImageNarrowing::Order::Page));
    orderBox->addItem(QStringLiteral("面積順"), int(ImageNarrowing::Order::Area));
    orderBox->addItem(QStringLiteral("サイズ順"), int(ImageNarrowing::Order::Bytes));
    connect(orderBox, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_setting)
            Q_EMIT narrowingChanged();
    });

    fillButton = new QToolButton(this);
    fillButton->setObjectName(QStringLiteral("fillButton"));
    fillButton->setText(QStringLiteral("広げる"));
    fillButton->setCheckable(true);
    fillButton->setToolTip(QStringLiteral("データファイルをウィンドウいっぱいに表示する (Ctrl+Shift+G)"));

    selectionLabel = new QLabel(this);
    selectionLabel->setObjectName(QStringLiteral("selectionLabel"));
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));

    bar->addWidget(picturesBox);
    bar->addWidget(new QLabel(QStringLiteral("幅"), this));
    bar->addWidget(minWidthBox);
    bar->addWidget(new QLabel(QStringLiteral("高さ"), this));
    bar->addWidget(minHeightBox);
    bar->addWidget(typesButton);
    bar->addWidget(largestBox);
    bar->addWidget(orderBox);
    bar->addWidget(statusLabel);
    bar->addStretch(1);
    bar->addWidget(selectionLabel);
    bar->addWidget(fillButton);
}

void PictureControls::typesChanged() {
    m_keptTypes.clear();
    bool all = true;
    for (const QAction* each : typesButton->menu()->actions()) {
        if (each->isChecked())
            m_keptTypes.append(each->text());
        else
            all = false;
    }
    if (all)
        m_keptTypes.clear();
    typesButton->setText(m_keptTypes.isEmpty() ? QStringLiteral("種類") : QStringLiteral("種類*"));
    if (!m_setting)
        Q_EMIT narrowingChanged();
}

ImageNarrowing::Criteria PictureControls::criteria() const {
    ImageNarrowing::Criteria criteria;
    criteria.minWidth = minWidthBox->value();
    criteria.minHeight = minHeightBox->value();
    criteria.types = m_keptTypes;
    criteria.largestOnly = largestBox->isChecked();
    criteria.order = ImageNarrowing::Order(orderBox->currentData().toInt());
    return criteria;
}

void PictureControls::setCriteria(const ImageNarrowing::Criteria& criteria) {
    m_setting = true;
    minWidthBox->setValue(criteria.minWidth);
    minHeightBox->setValue(criteria.minHeight);
    for (QAction* action : typesButton->menu()->actions())
        action->setChecked(criteria.types.isEmpty() || criteria.types.contains(action->text()));
    largestBox->setChecked(criteria.largestOnly);
    orderBox->setCurrentIndex(std::max(0, orderBox->findData(int(criteria.order))));
    m_keptTypes = criteria.types;
    typesButton->setText(m_keptTypes.isEmpty() ? QStringLiteral("種類") : QStringLiteral("種類*"));
    m_setting = false;
}

void PictureControls::showSelected(qsizetype count) {
    selectionLabel->setText(count > 0 ? QStringLiteral("選択 %1 件").arg(count) : QString());
    selectionLabel->setAccessibleName(selectionLabel->text());
}

QString PictureControls::measuredName(const ImageNarrowing::Criteria& criteria) {
    if (criteria.largestOnly || criteria.order == ImageNarrowing::Order::Area)
        return QStringLiteral("大きさ");
    if (criteria.minWidth > 0 && criteria.minHeight > 0)
        return QStringLiteral("幅と高さ");
    if (criteria.minWidth > 0)
        return QStringLiteral("幅");
    if (criteria.minHeight > 0)
        return QStringLiteral("高さ");
    return criteria.order == ImageNarrowing::Order::Bytes ? QStringLiteral("サイズ") : QStringLiteral("種類");
}

void PictureControls::showMeasuring(const ImageNarrowing::Criteria& criteria, qsizetype measured,
                                    qsizetype needed) {
    if (measured >= needed) {
        statusLabel->clear();
        statusLabel->setToolTip(QString());
        return;
    }
    statusLabel->setText(
        QStringLiteral("%1を確認中 %2/%3").arg(measuredName(criteria)).arg(measured).arg(needed));
    statusLabel->setToolTip(QStringLiteral("絞り込みに必要な画像 %1 件のうち %2 件を確認しました。"
                                           "確認が済んだものから表示します。")
                                .arg(needed)
                                .arg(measured));
}
