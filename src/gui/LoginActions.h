#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class HarvestProfile;
class LoginBrowserWindow;
class QAction;
class QMessageBox;
class QWidget;

// The window's log-in commands, on the profile of its hidden pages: ファイル → Cookie を読み込む…
// (a Netscape cookie file into the profile), 表示 → ブラウザで開く… (a visible browser window on it,
// one at a time) and 設定 → ログイン情報を消去 (its cookies, storage and cache, after a question).
class LoginActions : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // The address the browser window opens by default (the input box's first address).
        std::function<QUrl()> inputAddress;
        // Puts an address into the input box.
        std::function<void(const QString&)> toInput;
        // Called once the log-ins are cleared (what else keeps cookies forgets them).
        std::function<void()> cleared;
    };

    LoginActions(QWidget* window, HarvestProfile* profile, Hooks hooks);
    ~LoginActions() override;

    QAction* LoadCookies = nullptr;
    QAction* OpenBrowser = nullptr;
    QAction* ClearLogIns = nullptr;

    // Opens the browser window at url (the input box's address when empty), or shows the open one
    // there.
    void openBrowser(const QUrl& url = {});
    LoginBrowserWindow* browserWindow() const;
    // Reads a cookie file into the profile and says how it went.
    void loadCookieFile(const QString& fileName);

private:
    void askToClear();

    QWidget* m_window;
    HarvestProfile* m_profile;
    Hooks m_hooks;
    QPointer<LoginBrowserWindow> m_browser;
};
