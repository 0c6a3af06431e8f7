#pragma once

#include <QLabel>

// The analysis's progress in one line across the input band: "作業中 3/10 ・ 完了 4 ｜ the page", the
// page's address shortened in the middle to the room left (the whole of it in the tooltip); then
// "完　了" or, after 中止, "中止 ・ 未解析 7 ページ", each with the repeated input lines left out.
class ProgressLabel : public QLabel {
    Q_OBJECT
public:
    explicit ProgressLabel(QWidget* parent = nullptr);

    // The page the lists wait for (1-based) of total, the pages done, and its address; waiting: the
    // pages found by following links and not done yet (0: not following).
    void showWorking(int current, int total, int done, const QString& address, int waiting = 0);
    // The analysis has ended: cancelled with notAnalysed pages never analysed, or finished;
    // repeatsSkipped input lines were left out as repeats.
    void showEnd(bool cancelled, int notAnalysed, qsizetype repeatsSkipped);

    static inline const QString DoneCaption = QStringLiteral("完　了");
    static inline const QString WorkingCaption = QStringLiteral("作業中");
    static inline const QString CancelledCaption = QStringLiteral("中止");
    // Between the counts and the page.
    static inline const QString PageSeparator = QStringLiteral(" ｜ ");

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();

    // The counts, always shown whole, and the page that follows them in the room left.
    QString m_counts;
    QString m_page;
};
