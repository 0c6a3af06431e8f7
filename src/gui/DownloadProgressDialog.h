#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The window that a download shows while it runs: files done out of total, the addresses being
// fetched (read as the lists show them, each on one line, shortened in the middle when it does not
// fit), the bytes received, the hosts it waits for (those that asked to wait), and "中止" to cancel
// what remains. Closing it (Esc, the title
// bar) asks to cancel as well; it goes away only when the owner calls finish().
class DownloadProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit DownloadProgressDialog(QWidget* parent = nullptr);

    // The folder the files go into: named in the title ("「DL」へダウンロード") and in full above the count.
    void setFolder(const QString& folder);
    QString folderText() const;
    // Shows the window; beside the last download window of the same owner still open (to its
    // right, else its left, else below it, on its screen) rather than on top of it.
    void showBesideOthers();

    void setProgress(int done, int total, const QStringList& current, qint64 bytesReceived);
    // The hosts that asked to wait, one a line ("example.com が混雑しているため 30 秒待っています");
    // empty hides the line.
    void setWaiting(const QString& text);
    QString waitingText() const;
    // The download has ended: the window may close now.
    void finish();

    QPushButton* cancelButton() const;
    QString countText() const;
    QString bytesText() const;
    // The addresses as the window shows them now, one a line.
    QString currentText() const;

Q_SIGNALS:
    void cancelRequested();

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void requestCancel();
    void showCurrent();

    QLabel* m_folder;
    QLabel* m_count;
    QProgressBar* m_bar;
    QPlainTextEdit* m_current;
    QLabel* m_bytes;
    QLabel* m_waiting;
    QPushButton* m_cancel;
    // The exact addresses being fetched.
    QStringList m_currentUrls;
    bool m_finished = false;
};
