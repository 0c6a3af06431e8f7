#pragma once

#include "ImageNarrowing.h"

#include <QSpinBox>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;

// A least size in pixels ("幅", "高さ"): 0 reads "指定なし", and a box emptied and left with Enter
// means 0 again rather than bringing the old value back.
class PixelSizeBox : public QSpinBox {
    Q_OBJECT
public:
    explicit PixelSizeBox(QWidget* parent = nullptr);

protected:
    void fixup(QString& input) const override;
};

// The bar below the views of a band with pictures: the switch between the list and the picture
// view, the narrowing by size and kind and the order, the switch that lets the picture view fill the
// window, and what the band says of its entries (how many are selected, what is still measured).
class PictureControls : public QWidget {
    Q_OBJECT
public:
    explicit PictureControls(QWidget* parent = nullptr);

    QCheckBox* picturesBox = nullptr;     // "画像表示": the picture view instead of the list
    PixelSizeBox* minWidthBox = nullptr;  // "幅": the least width in pixels (0: any)
    PixelSizeBox* minHeightBox = nullptr; // "高さ": the least height in pixels (0: any)
    QToolButton* typesButton = nullptr;   // "種類": the types kept
    QCheckBox* largestBox = nullptr;      // "最大のみ": the largest candidate of each image set only
    QComboBox* orderBox = nullptr;        // "並び": page order, pixel area or bytes
    QToolButton* fillButton = nullptr;    // "広げる": the band fills the window
    QLabel* selectionLabel = nullptr;     // "選択 3 件"
    QLabel* statusLabel = nullptr;        // "幅を確認中 12/40"

    ImageNarrowing::Criteria criteria() const;
    // Sets the controls without announcing a change.
    void setCriteria(const ImageNarrowing::Criteria& criteria);
    // "選択 n 件" (nothing for none).
    void showSelected(qsizetype count);
    // "幅を確認中 12/40" while measured < needed (nothing once all are).
    void showMeasuring(const ImageNarrowing::Criteria& criteria, qsizetype measured, qsizetype needed);

    // What is being measured for criteria ("幅", "高さ", "幅と高さ", "大きさ").
    static QString measuredName(const ImageNarrowing::Criteria& criteria);

Q_SIGNALS:
    // The narrowing or the order changed by the user.
    void narrowingChanged();

private:
    void typesChanged();

    QStringList m_keptTypes;
    bool m_setting = false;
};
