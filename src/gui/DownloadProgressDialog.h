#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The modal window that a download shows while it runs: files done out of total, the addresses
// being fetched, the bytes received, and "中止" to cancel what remains. Closing it (Esc, the title
// bar) asks to cancel as well; it goes away only when the owner calls finish().
class DownloadProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit DownloadProgressDialog(QWidget* parent = nullptr);

    void setProgress(int done, int total, const QStringList& current, qint64 bytesReceived);
    // The download has ended: the window may close now.
    void finish();

    QPushButton* cancelButton() const;
    QString countText() const;
    QString bytesText() const;
    QString currentText() const;

Q_SIGNALS:
    void cancelRequested();

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void requestCancel();

    QLabel* m_count;
    QProgressBar* m_bar;
    QPlainTextEdit* m_current;
    QLabel* m_bytes;
    QPushButton* m_cancel;
    bool m_finished = false;
};
