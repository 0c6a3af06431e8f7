#pragma once

#include <QWebEnginePage>

// The engine page behind TWebBrowser: it shows no dialogs (a page that asks before it is left is
// left), opens no windows and lets the page
// itself navigate only to web addresses.
class HiddenWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit HiddenWebPage(QWebEngineProfile* profile, QObject* parent = nullptr);

    // Whether a navigation that the page itself starts may go to this address.
    static bool isAllowedPageNavigation(const QUrl& url);
    // The text in which the engine asks whether a page that objects to being left may be left.
    static QString unloadQuestion();
    // What the program's own script world says on the console once the page has been drawn.
    static QString frameDrawnMessage();

    // The page itself tried to take the top document to url and was refused: the engine reports
    // the end of that attempt like the end of a load. True once for each such end still to come
    // (at most the last 16 refusals are kept).
    bool takeRefusedMoveEnd(const QUrl& url);
    // A navigation of the program's began: the ends of refused moves no longer tell anything, and
    // the page has not moved by itself yet.
    void forgetRefusedMoves();
    // A navigation of the program's was asked for: what the page did before is no move of its.
    void forgetMove();
    // Where the page last took its top document by itself since then (a script, a refresh, a
    // redirect) to another address than the one loaded; empty when it did not.
    QUrl lastMove() const;

Q_SIGNALS:
    // The program's script world said frameDrawnMessage().
    void frameDrawn();

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    QList<QUrl> m_refused;
    QUrl m_loaded;
    QUrl m_moved;
};
