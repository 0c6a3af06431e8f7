#include "ProgressLabel.h"

#include "DisplayAddress.h"

#include <QFontMetrics>

ProgressLabel::ProgressLabel(QWidget* parent)
    : QLabel(parent) {
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // However long the text, the label asks for no room: it is cut to the room it has.
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ProgressLabel::showWorking(int current, int total, int done, const QString& address, int waiting) {
    // Pages loaded ahead of a slow one are done too: they are counted, not hidden behind it.
    m_counts = QStringLiteral("%1 %2/%3").arg(WorkingCaption).arg(current).arg(total);
    if (done > 0)
        m_counts += QStringLiteral(" ・ 完了 %1").arg(done);
    if (waiting > 0)
        m_counts += QStringLiteral(" ・ 待ち %1").arg(waiting);
    m_page = DisplayAddress::forDisplay(address);
    setToolTip(address);
    layOut();
}

void ProgressLabel::showEnd(bool cancelled, int notAnalysed, qsizetype repeatsSkipped) {
    m_counts = cancelled ? CancelledCaption : DoneCaption;
    QStringList tip;
    if (cancelled && notAnalysed > 0) {
        m_counts += QStringLiteral(" ・ 未解析 %1 ページ").arg(notAnalysed);
        tip.append(QStringLiteral("中止したため、%1 ページは解析していません。").arg(notAnalysed));
    }
    if (repeatsSkipped > 0) {
        m_counts += QStringLiteral(" ・ 重複 %1 行").arg(repeatsSkipped);
        tip.append(QStringLiteral("同じアドレスの行 %1 行は一度だけ解析しました。").arg(repeatsSkipped));
    }
    m_page.clear();
    setToolTip(tip.join(QLatin1Char('\n')));
    layOut();
}

void ProgressLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    layOut();
}

void ProgressLabel::layOut() {
    if (m_page.isEmpty()) {
        setText(m_counts);
        return;
    }
    const QFontMetrics metrics(font());
    const QString lead = m_counts + PageSeparator;
    const int room = contentsRect().width() - metrics.horizontalAdvance(lead);
    const QString page = metrics.elidedText(m_page, Qt::ElideMiddle, std::max(room, 0));
    setText(page.isEmpty() ? m_counts : lead + page);
}
