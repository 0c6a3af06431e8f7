#include "RecentInputsMenu.h"

#include "AddressInput.h"
#include "AppSettings.h"

RecentInputsMenu::RecentInputsMenu(AppSettings* settings, QWidget* parent)
    : QMenu(QStringLiteral("最近の入力(&R)"), parent)
    , m_settings(settings) {
    setObjectName(QStringLiteral("Recent1"));
    rebuild();
}

void RecentInputsMenu::add(const QString& input) {
    m_settings->addRecentInput(input);
    m_settings->sync();
    rebuild();
}

void RecentInputsMenu::rebuild() {
    clear();
    const QStringList inputs = m_settings->recentInputs();
    const QFontMetrics metrics = parentWidget() ? parentWidget()->fontMetrics() : fontMetrics();
    for (const QString& input : inputs) {
        const QStringList lines = AddressInput::lines(input);
        QString label = metrics.elidedText(lines.value(0), Qt::ElideMiddle, 480);
        if (lines.size() > 1)
            label += QStringLiteral("　ほか %1 件").arg(lines.size() - 1);
        // "&" would be read as a mnemonic.
        QAction* entry = addAction(label.replace(QLatin1Char('&'), QLatin1String("&&")));
        entry->setToolTip(input);
        connect(entry, &QAction::triggered, this, [this, input] { Q_EMIT chosen(input); });
    }
    if (inputs.isEmpty()) {
        addAction(QStringLiteral("（なし）"))->setEnabled(false);
        return;
    }
    addSeparator();
    addAction(QStringLiteral("履歴を消去(&C)"), this, [this] {
        m_settings->clearRecentInputs();
        m_settings->sync();
        rebuild();
    });
}
