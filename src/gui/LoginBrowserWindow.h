#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

// A visible browser window on the hidden pages' profile, where a person logs in to a site or passes
// its check: an address box, back, forward, reload, and 入力欄へ, which hands the shown page's
// address to the input box. It may be closed during a load and left open during an analysis; its
// page goes with it. The no-script mode of the analysis does not reach it: its page runs scripts.
class LoginBrowserWindow : public QWidget {
    Q_OBJECT
public:
    LoginBrowserWindow(QWebEngineProfile* profile, QWidget* parent);
    ~LoginBrowserWindow() override;

    void open(const QUrl& url);
    QUrl shownUrl() const;
    QWebEnginePage* page() const;

Q_SIGNALS:
    // 入力欄へ: the shown page's address.
    void addressChosen(const QString& address);

private:
    void go();

    QWebEngineView* m_view = nullptr;
    QWebEnginePage* m_page = nullptr;
    QLineEdit* m_address = nullptr;
    QToolButton* m_toInput = nullptr;
};
