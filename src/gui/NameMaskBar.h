#pragma once

#include "tURLData.h"

#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;

// The 保存名 box of a result band: the mask that names the band's downloads (see NameMask; empty
// names them as without one), the last masks used offered in its drop-down list, and a live preview
// of the name that the first selected entry would get, or of what is wrong with the mask.
class NameMaskBar : public QWidget {
    Q_OBJECT
public:
    // The record the preview names: the first selected entry, or none.
    using FirstSelected = std::function<std::optional<tURLData>()>;

    NameMaskBar(const QString& caption, const char* objectName, QWidget* parent = nullptr);

    QComboBox* box = nullptr;  // the mask, editable, with the last masks in its list
    QLabel* preview = nullptr; // the name of the first selected entry, or the mask's error

    QString mask() const;
    void setMask(const QString& mask);
    // The masks of the drop-down list, the latest first.
    QStringList recent() const;
    void setRecent(const QStringList& masks);
    // Puts mask first in the drop-down list (at most AppSettings::RecentMasksKept); blank ones are not
    // kept.
    void remember(const QString& mask);

    void setFirstSelected(FirstSelected source);
    // Shows the preview again (the selection or the mask changed).
    void updatePreview();
    // The preview's text for a record under mask: the path it would get, or the mask's error.
    static QString previewText(const QString& mask, const std::optional<tURLData>& record, bool* ok);

private:
    FirstSelected m_firstSelected;
};
