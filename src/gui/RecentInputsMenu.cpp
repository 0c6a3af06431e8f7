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
    const QList<qsizetype> leftOut = m_settings->recentLinesLeftOut();
    const QFontMetrics metrics = parentWidget() ? parentWidget()->fontMetrics() : fontMetrics();
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        const QString& input = inputs.at(i);
        const QStringList lines = AddressInput::lines(input);
        // Lines past what the settings keep are counted, not given back.
        const qsizetype more = lines.size() - 1 + leftOut.value(i);
        QString label = metrics.elidedText(lines.value(0), Qt::ElideMiddle, 480);
        if (more > 0)
            label += QStringLiteral("　ほか %1 件").arg(more);
        if (leftOut.value(i) > 0)
            label += QStringLiteral("（保存は先頭 %1 件）").arg(lines.size());
        // "&" would be read as a mnemonic.
        QAction* entry = addAction(label.replace(QLatin1Char('&'), QLatin1String("&&")));
        entry->setToolTip(
            leftOut.value(i) > 0
                ? input + QStringLiteral("\n…（ほか %1 行は保存していません）").arg(leftOut.value(i))
                : input);
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
