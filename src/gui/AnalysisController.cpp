#include "AnalysisController.h"

#include "AddressInput.h"
#include "AppMessages.h"
#include "AppSettings.h"
#include "DisplayAddress.h"
#include "FileDialogs.h"
#include "TextFileSave.h"
#include "WindowViewport.h"
#include "tlinksys.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWebEngineProfile>

#include <algorithm>

AnalysisController::AnalysisController(QWebEngineProfile* profile, const Limits& limits,
                                       const AppSettings* settings, QWidget* window)
    : QObject(window)
    , m_profile(profile)
    , m_limits(limits)
    , m_settings(settings)
    , m_window(window)
    , m_browsers(WindowViewport::browsersFor(profile, m_noScripts, m_scrollToEnd)) {
    createHarvester();
}

AnalysisController::~AnalysisController() {
    shutDown();
}

tlinksys* AnalysisController::harvester() const {
    return m_harvester;
}

bool AnalysisController::isRunning() const {
    return m_running;
}

void AnalysisController::reset() {
    destroyHarvester();
    createHarvester();
    Q_EMIT harvesterReplaced(m_harvester);
}

void AnalysisController::start(const QStringList& lines, bool noScripts, bool scrollToEnd) {
    if (!m_harvester || m_running)
        return;
    m_failures.clear();
    // The passwords of this analysis only, in memory.
    m_passwords.clear();
    for (const QString& line : lines) {
        const QUrl url = AddressInput::toUrl(line);
        if (!url.password().isEmpty())
            m_passwords.insert(url.adjusted(QUrl::RemovePassword | QUrl::RemovePath | QUrl::RemoveQuery |
                                            QUrl::RemoveFragment)
                                   .toString(),
                               url.password());
    }
    // One factory for each mode in turn, so that the pages of its browsers take turns on one stage.
    if (noScripts != m_noScripts || scrollToEnd != m_scrollToEnd)
        m_browsers = WindowViewport::browsersFor(m_profile, noScripts, scrollToEnd);
    m_noScripts = noScripts;
    m_scrollToEnd = scrollToEnd;
    m_harvester->setNoScripts(noScripts);
    m_harvester->setScrollToEnd(scrollToEnd);
    if (m_settings)
        m_harvester->setFollowing(m_settings->following());
    m_pagesTotal = 0;
    m_pagesRecorded = 0;
    if (lines.isEmpty()) {
        onFinished(false);
        return;
    }
    m_running = true;
    m_pagesTotal = int(lines.size());
    m_pagesRecorded = 0;
    m_pagesLoaded = 0;
    m_pageAddresses.clear();
    m_harvester->LoadAll(lines);
}

void AnalysisController::cancel() {
    // Records found so far are shown when the harvester reports the end.
    if (m_running && m_harvester)
        m_harvester->Cancel();
}

QUrl AnalysisController::withPassword(const QString& url) const {
    if (m_passwords.isEmpty())
        return {};
    QUrl address = AddressInput::toUrl(url);
    if (!address.isValid() || address.userName().isEmpty())
        return {};
    const auto found = m_passwords.constFind(
        address.adjusted(QUrl::RemovePassword | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
            .toString());
    if (found == m_passwords.cend())
        return {};
    address.setPassword(found.value());
    return address;
}

int AnalysisController::pagesNotAnalysed() const {
    return std::max(m_pagesTotal - m_pagesRecorded, 0);
}

void AnalysisController::shutDown() {
    destroyHarvester();
}

void AnalysisController::createHarvester() {
    // Pages loaded at a time: the given number, else the remembered setting.
    const int parallel = m_limits.parallel > 0 ? m_limits.parallel
                         : m_settings          ? m_settings->parallelPages()
                                               : tlinksys::defaultParallel();
    // The browsers are made as the analysis needs them, after start has chosen their factory.
    auto browsers = [this](QObject* parent) {
        return m_browsers(parent);
    };
    auto* harvester = new tlinksys(browsers, parallel, this);
    harvester->setObjectName(QStringLiteral("linksys"));
    harvester->setPageTimeout(m_limits.pageTimeoutMs);
    harvester->setCollectTimeout(m_limits.collectTimeoutMs);
    connect(harvester, &tlinksys::pageStarted, this, &AnalysisController::onPageStarted);
    connect(harvester, &tlinksys::pageLoaded, this, &AnalysisController::onPageLoaded);
    connect(harvester, &tlinksys::pageFinished, this, &AnalysisController::onPageFinished);
    connect(harvester, &tlinksys::finished, this, &AnalysisController::onFinished);
    // Pages found by following links join the count as they are queued.
    connect(harvester, &tlinksys::progress, this, [this](int done, int queued) {
        m_pagesRecorded = done;
        m_pagesTotal = done + queued;
        reportProgress();
    });
    if (m_profile)
        harvester->setRobotsUserAgent(m_profile->httpUserAgent().toUtf8());
    m_harvester = harvester;
}

void AnalysisController::destroyHarvester() {
    if (!m_harvester)
        return;
    // Whatever it still reports belongs to an analysis nobody waits for any more.
    disconnect(m_harvester, nullptr, this, nullptr);
    // No longer the current harvester before it goes: a completion event that stopping the browser
    // might raise meanwhile reaches nobody.
    tlinksys* harvester = m_harvester;
    m_harvester.clear();
    if (m_running) {
        harvester->Cancel();
        m_running = false;
    }
    delete harvester;
}

void AnalysisController::onPageStarted(int index, int total, const QString& address) {
    m_pagesTotal = total;
    if (index > m_pageAddresses.size())
        m_pageAddresses.resize(index);
    m_pageAddresses[index - 1] = address;
    reportProgress();
}

void AnalysisController::onPageLoaded() {
    // Pages that finish behind a slow one are counted at once, not when the lists reach them.
    ++m_pagesLoaded;
    reportProgress();
}

void AnalysisController::onPageFinished(const QString& address, bool ok, const QString& reason) {
    if (!ok)
        m_failures.append({address, reason});
    Q_EMIT pageRecorded();
    reportProgress();
}

void AnalysisController::reportProgress() {
    if (!m_running)
        return;
    // The page the lists wait for: the first one not done. Several may be loading at once.
    const int current = std::min(m_pagesRecorded + 1, std::max(m_pagesTotal, 1));
    const QString address = current <= m_pageAddresses.size() ? m_pageAddresses.at(current - 1) : QString();
    Q_EMIT progressChanged(current, m_pagesTotal, std::max(m_pagesLoaded, m_pagesRecorded), address);
}

void AnalysisController::onFinished(bool cancelled) {
    m_running = false;
    Q_EMIT finished(cancelled);
    reportFailures();
}

void AnalysisController::reportFailures() {
    if (m_failures.isEmpty())
        return;
    QStringList shown;
    QString saved;
    for (const Failure& failure : std::as_const(m_failures)) {
        // Read as the lists show it; the saved list keeps the exact address.
        const QString address = DisplayAddress::forDisplay(failure.address);
        shown.append(failure.reason.isEmpty() ? address
                                              : QStringLiteral("%1 — %2").arg(address, failure.reason));
        // The saved list reads back as addresses (AddressImport takes what comes before the tab).
        saved += failure.address + QLatin1Char('\t') + failure.reason + QLatin1Char('\n');
    }
    const QString text =
        QStringLiteral("読み込めなかったページがあります（%1 件）。\n").arg(m_failures.size()) +
        AppMessages::shortList(shown, FailuresNamed);
    m_failures.clear();
    QMessageBox* notice = AppMessages::showNotice(m_window, text);
    QPushButton* save = notice->addButton(QStringLiteral("一覧を保存…"), QMessageBox::ActionRole);
    save->setObjectName(QStringLiteral("SaveFailures"));
    connect(save, &QPushButton::clicked, this, [this, saved] { saveFailureList(saved); });
}

void AnalysisController::saveFailureList(const QString& content) {
    QPointer<QWidget> window(m_window);
    FileDialogs::chooseFileToSave(
        m_window, QStringLiteral("読み込めなかったページの一覧を保存"), {QStringLiteral("テキスト (*.txt)")},
        QStringLiteral("読み込めなかったページ.txt"), [window, content](const QString& path) {
            const QString error = TextFileSave::write(path, content.toUtf8());
            if (!error.isEmpty())
                AppMessages::showError(window, error);
        });
}
