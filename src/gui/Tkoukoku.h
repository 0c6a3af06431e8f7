#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>

class QTimer;
class QWebEngineNavigationRequest;
class QWebEngineNewWindowRequest;
class QWebEnginePage;
class QWebEngineView;
class TWebBrowser;

// The advertisement banner: the band at the top of the main window that loads the advertisement
// list at start-up and shows one of its pages at random, a new one every interval, never the same
// entry twice in a row.
//
// Only a list that really arrived is taken (the load succeeded and the answer is a plain-text
// document); otherwise the banner stays blank and quietly asks again later, each time waiting twice
// as long. Entries that are not http or https addresses are left out. With one usable entry that
// page is shown and stays; with none the banner stays blank. The banner's browser runs on a profile
// of its own, opens no windows and shows no dialogs; a link the user clicks in an advertisement
// opens in the user's own web browser, and the banner keeps its page.
class Tkoukoku : public QFrame {
    Q_OBJECT
public:
    // listUrl and interval are for tests; the program uses the built-in list address and 30 seconds.
    explicit Tkoukoku(QWidget* parent = nullptr, const QUrl& listUrl = defaultListUrl(),
                      std::chrono::milliseconds interval = std::chrono::seconds(30));
    ~Tkoukoku() override;

    static QUrl defaultListUrl();

    // Splits the list text into lines (CR LF, CR and LF each end one; a final break adds no entry;
    // a NUL ends the text) and keeps the lines that are http or https addresses, surrounding blanks
    // removed, in their order.
    static QStringList parseAdList(const QString& text);

    // How long to wait before asking for the list again after a failed attempt: first, then twice as
    // long each time, never more than longest. Defaults: 1 minute and 30 minutes.
    void setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest);
    // How long one attempt to load the list may take before it counts as failed. Default: 1 minute.
    void setListTimeout(std::chrono::milliseconds timeout);
    // Opens a link the user clicked in an advertisement. Default: the user's own web browser.
    void setLinkOpener(std::function<void(const QUrl&)> opener);

    // State, for tests and diagnostics.
    bool isLoaded() const;
    int lastIndex() const;
    const QStringList& adList() const;
    int bannerWidth() const;
    int bannerHeight() const;
    int intervalSeconds() const;
    // The banner browser and its view; null until the start-up timer has run.
    TWebBrowser* browser() const;
    QWebEngineView* view() const;
    // The address of the advertisement asked for last (empty before the first one).
    QUrl currentAdvertisement() const;
    // The rotation timer is running.
    bool isRotating() const;

Q_SIGNALS:
    // The list was asked for (attempt counts from 1).
    void listRequested(int attempt);
    // The list arrived and was taken; its usable entries are in adList().
    void listTaken();
    // An attempt failed (reason says why); the next one follows after retryDelayMs.
    void listFailed(const QString& reason, qint64 retryDelayMs);
    // An advertisement was asked for.
    void advertisementShown(int index, const QUrl& url);
    // A link the user clicked was handed to the link opener.
    void linkOpenedExternally(const QUrl& url);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Event handlers.
    // Start-up, right after the window is shown: asks for the advertisement list.
    void kidouTimer();
    // The banner's browser finished a load: the list, or an advertisement.
    void koukokuwebDocumentComplete(bool ok, const QString& errorText);
    // Every 30 seconds: the next advertisement.
    void koukokutimerTimer();
    // Reads the current document; takes it as the list when it is a plain-text document.
    void ReadAdList();

    void startKidou();
    void createBrowser();
    void preparePage(QWebEnginePage* page);
    void watchInput(QObject* object);
    bool userActedRecently() const;
    void onNavigationRequested(QWebEngineNavigationRequest& request);
    void onNewWindowRequested(QWebEngineNewWindowRequest& request);
    void openExternally(const QUrl& url);

    void requestList();
    void listAttemptFailed(const QString& reason);
    void takeList(const QStringList& entries);
    void showAdvertisement(int index);

    // Controls.
    QPointer<TWebBrowser> koukokuweb;        // the banner's browser: the list, then the advertisements
    QPointer<QWebEngineView> koukokuwebView; // the view that shows koukokuweb's page
    QTimer* koukokutimer = nullptr;          // the rotation, every 30 s
    QTimer* kidou = nullptr;                 // start-up, right after the window is shown

    // Fields.
    bool Loaded = false; // the advertisement list has been taken
    int LastIndex = -5;  // the advertisement shown last (never twice in a row)
    QStringList AdList;  // the advertisement pages' addresses
    int BannerWidth = 0;
    int BannerHeight = 0;
    int IntervalSeconds = 30;

    // Settings.
    QUrl m_listUrl;
    std::chrono::milliseconds m_interval;
    std::chrono::milliseconds m_firstRetryDelay = std::chrono::minutes(1);
    std::chrono::milliseconds m_longestRetryDelay = std::chrono::minutes(30);
    std::chrono::milliseconds m_listTimeout = std::chrono::minutes(1);
    std::function<void(const QUrl&)> m_linkOpener;

    // Start-up and the list.
    bool m_kidouStarted = false;
    bool m_fetching = false; // a list request is on its way
    bool m_reading = false;  // the list document is being read
    int m_attempt = 0;       // list requests made so far
    int m_failures = 0;      // failed attempts in a row
    quint64 m_attemptId = 0; // tells a late answer from the current one
    QTimer* m_retryTimer = nullptr;
    QTimer* m_listTimeoutTimer = nullptr;

    // Rotation and clicks.
    QUrl m_currentAd;
    QElapsedTimer m_lastUserInput;
};
