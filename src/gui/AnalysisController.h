#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <functional>

class AppSettings;
class QWebEngineProfile;
class QWidget;
class TWebBrowser;
class tlinksys;

// One analysis of the main window at a time: owns the harvester (a new one, with no records, for
// each analysis; the last one stays until the next so that its records can be shown), follows its
// progress page by page, and at the end reports the pages that could not be read, with a button
// that saves their list.
class AnalysisController : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int pageTimeoutMs = 30000;    // a page not complete after this long is harvested as it stands
        int collectTimeoutMs = 10000; // bound for collecting one page's addresses
        int parallel = 0;             // pages loaded at a time; 0: the remembered setting
    };

    // The harvester's pages share profile; settings (may be null) gives the pages at a time; the
    // failure report is a notice over window.
    AnalysisController(QWebEngineProfile* profile, const Limits& limits, const AppSettings* settings,
                       QWidget* window);
    ~AnalysisController() override;

    // The harvester of the current (or last) analysis; null after shutDown.
    tlinksys* harvester() const;
    bool isRunning() const;

    // A new harvester with no records in place of the last one (which stops and goes with its records).
    void reset();
    // Analyses the lines in a new harvester, each page scrolled to its end first when scrollToEnd;
    // finished follows (at once when there are none).
    void start(const QStringList& lines, bool noScripts, bool scrollToEnd);
    // Stops the running analysis: finished(true) follows with the records found so far.
    void cancel();
    // The address to download url from: url with the password typed for its site and user in the
    // last analysis's input (held in memory only), so that what such a page listed downloads as the
    // page loaded; empty when none was typed.
    QUrl withPassword(const QString& url) const;
    // The pages of the last analysis whose records never came: those after a cancel.
    int pagesNotAnalysed() const;
    // Stops whatever runs and destroys the harvester; nothing is reported any more.
    void shutDown();

    // At most this many failed pages are named one by one in the report at the end of an analysis.
    static constexpr int FailuresNamed = 20;

Q_SIGNALS:
    // The harvester was replaced (by reset or start); the lists show nothing of the new one yet.
    void harvesterReplaced(tlinksys* harvester);
    // A page's records are in the harvester's list (pages report in input order).
    void pageRecorded();
    // The page the lists wait for (1-based: the first one not done), of total, and its address;
    // done counts every page finished so far, those loaded ahead of the one waited for included.
    void progressChanged(int current, int total, int done, const QString& address);
    // The analysis ended; the report of failed pages, if any, opens right after.
    void finished(bool cancelled);

private:
    struct Failure {
        QString address;
        QString reason;
    };

    void createHarvester();
    void destroyHarvester();
    void onPageStarted(int index, int total, const QString& address);
    void onPageLoaded();
    void onPageFinished(const QString& address, bool ok, const QString& reason);
    void onFinished(bool cancelled);
    void reportProgress();
    void reportFailures();
    void saveFailureList(const QString& content);

    QWebEngineProfile* m_profile;
    Limits m_limits;
    const AppSettings* m_settings;
    QPointer<QWidget> m_window;
    QPointer<tlinksys> m_harvester;
    bool m_running = false;
    // The mode of the last start: the browsers made from then on have a viewport unless it is on.
    bool m_noScripts = false;
    bool m_scrollToEnd = false;
    // The browsers of that mode (see start).
    std::function<TWebBrowser*(QObject*)> m_browsers;
    // During an analysis: the pages it has, those whose records are in the list, those that have
    // finished loading (in any order), and the addresses of those started.
    int m_pagesTotal = 0;
    int m_pagesRecorded = 0;
    int m_pagesLoaded = 0;
    QStringList m_pageAddresses;
    QList<Failure> m_failures;
    // The passwords typed in the last analysis's input, by scheme, user, host and port.
    QHash<QString, QString> m_passwords;
};
