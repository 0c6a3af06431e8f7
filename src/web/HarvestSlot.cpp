#include "HarvestSlot.h"

#include "AddressCollector.h"
#include "DisplayAddress.h"
#include "EngineErrorText.h"
#include "PageScroller.h"
#include "StaticPageReader.h"

#include <QWebEnginePage>
#include <QWebEngineScript>

HarvestSlot::HarvestSlot(TWebBrowser* browser, QObject* parent)
    : QObject(parent)
    , m_browser(browser) {
    m_pageTimer.setSingleShot(true);
    connect(&m_pageTimer, &QTimer::timeout, this, &HarvestSlot::onPageTimeout);
    m_screenTimer.setSingleShot(true);
    connect(&m_screenTimer, &QTimer::timeout, this, [this]() {
        if (m_stage == Stage::AwaitingScreen)
            collect(false);
    });
    if (browser) {
        connect(browser, &TWebBrowser::screenShown, this, [this]() {
            if (m_stage == Stage::AwaitingScreen)
                showPage();
        });
        connect(browser, &QObject::destroyed, this, [this]() {
            m_browser.clear();
            Q_EMIT browserLost();
        });
    }
}

HarvestSlot::~HarvestSlot() {
    // A page still loading for this slot is of no use to anyone any more.
    cancel();
}

TWebBrowser* HarvestSlot::browser() const {
    return m_browser;
}

bool HarvestSlot::isIdle() const {
    return m_stage == Stage::Idle;
}

void HarvestSlot::setPageTimeout(int ms) {
    m_pageTimeoutMs = std::max(0, ms);
}

void HarvestSlot::setCollectTimeout(int ms) {
    m_collectTimeoutMs = std::max(0, ms);
}

void HarvestSlot::setStaticReading(bool on, StaticPageReader* reader) {
    m_staticReading = on;
    if (reader && reader != m_reader) {
        if (m_reader)
            m_reader->cancel(m_read);
        m_reader = reader;
    } else if (on && !m_reader && m_browser) {
        m_reader = new StaticPageReader(m_browser->profile(), this);
    }
}

void HarvestSlot::setScrollToEnd(bool on) {
    m_scrollToEnd = on;
}

void HarvestSlot::start(int index, const QUrl& url) {
    m_index = index;
    m_scrollCut = false;
    m_loadBegun = true;
    m_timedOut = false;
    ++m_token;
    if (m_pageTimeoutMs > 0)
        m_pageTimer.start(m_pageTimeoutMs);
    if (m_browser && m_staticReading && m_reader && m_reader->available() && StaticPageReader::accepts(url)) {
        m_stage = Stage::Reading;
        const quint64 token = m_token;
        m_read = m_reader->read(
            url, AddressCollector::Limit, m_collectTimeoutMs,
            [this, token, url](StaticPageReader::Outcome outcome, const PageAddresses& addresses) {
                if (token != m_token || m_stage != Stage::Reading)
                    return;
                if (outcome == StaticPageReader::Outcome::Read)
                    onCollected(true, addresses, {}, false);
                else
                    navigate(url);
            });
        return;
    }
    navigate(url);
}

void HarvestSlot::navigate(const QUrl& url) {
    m_stage = Stage::Navigating;
    if (!m_browser) {
        const quint64 token = m_token;
        QTimer::singleShot(0, this, [this, token]() {
            if (token == m_token && m_stage == Stage::Navigating)
                finish({false, tr("ブラウザがありません"), false, {}});
        });
        return;
    }
    m_browser->Navigate(url);
}

void HarvestSlot::loadCompleted(bool ok, const QString& errorText) {
    if (m_stage != Stage::Navigating)
        return;
    m_pageTimer.stop();
    if (!ok) {
        Result result{false, errorText.isEmpty() ? tr("読み込めませんでした") : errorText, false, {}};
        result.noDocument = errorText == TWebBrowser::noDocumentText();
        finish(result);
        return;
    }
    // A page with a screen is drawn on it before it is collected (scrolled first when asked); a
    // page without one draws no frame to wait for.
    if (!m_staticReading && m_browser && m_browser->HasScreen()) {
        askForScreen();
        return;
    }
    collect(false);
}

void HarvestSlot::askForScreen() {
    m_stage = Stage::AwaitingScreen;
    ++m_token;
    m_screenTimer.start(ScreenWaitMs);
    scroller()->arm();
    m_browser->WantScreen(true); // screenShown follows, at once when the screen is free
}

void HarvestSlot::showPage() {
    m_stage = Stage::Showing;
    m_screenTimer.stop();
    const quint64 token = ++m_token;
    scroller()->start(m_scrollToEnd, [this, token](bool reachedEnd) {
        if (token != m_token || m_stage != Stage::Showing)
            return;
        m_scrollCut = m_scrollToEnd && !reachedEnd;
        collect(false);
    });
}

PageScroller* HarvestSlot::scroller() {
    // The browser replaces its page when a renderer got stuck: the scroller follows it.
    if (m_scroller && m_scrollerPage != m_browser->page()) {
        delete m_scroller;
        m_scroller = nullptr;
    }
    if (!m_scroller) {
        m_scrollerPage = m_browser->page();
        m_scroller = new PageScroller(m_browser->page(), this);
    }
    return m_scroller;
}

void HarvestSlot::cancel() {
    if (m_stage == Stage::Idle)
        return;
    m_stage = Stage::Idle;
    m_screenTimer.stop();
    if (m_browser)
        m_browser->WantScreen(false);
    ++m_token; // a collection still under way is no longer awaited
    m_pageTimer.stop();
    if (m_reader)
        m_reader->cancel(m_read);
    if (m_scroller)
        m_scroller->cancel();
    if (m_browser)
        m_browser->Stop();
}

void HarvestSlot::onPageTimeout() {
    m_timedOut = true;
    if (m_stage == Stage::Reading) {
        // The server has not given the whole document in time; nothing of it was parsed.
        if (m_reader)
            m_reader->cancel(m_read);
        finish({false, noAnswerText(), false, {}});
        return;
    }
    if (m_stage != Stage::Navigating)
        return;
    // Collecting first: the completion that Stop may cause is then ignored.
    m_stage = Stage::Collecting;
    m_loadBegun = !m_browser || m_browser->NavigationBegun();
    if (m_browser)
        m_browser->Stop();
    collect(true);
}

void HarvestSlot::collect(bool timedOut) {
    m_stage = Stage::Collecting;
    m_screenTimer.stop();
    // Off the screen again, for the next page waiting for it: what the page's observers and
    // animation frames did is in its document.
    if (m_browser)
        m_browser->WantScreen(false);
    const quint64 token = ++m_token;
    if (!m_browser) {
        QTimer::singleShot(0, this, [this, token]() {
            if (token == m_token && m_stage == Stage::Collecting)
                finish({false, tr("ブラウザがありません"), false, {}});
        });
        return;
    }
    QPointer<HarvestSlot> self(this);
    m_browser->CollectAddresses(
        m_collectTimeoutMs, [self, token, timedOut](bool ok, const PageAddresses& a, const QString& reason) {
            if (!self || token != self->m_token || self->m_stage != Stage::Collecting)
                return;
            self->onCollected(ok, a, reason, timedOut);
        });
}

void HarvestSlot::onCollected(bool ok, const PageAddresses& addresses, const QString& reason, bool timedOut) {
    if (!ok) {
        finish({false, reason, false, {}});
        return;
    }
    if (!addresses.fromLastNavigate) {
        QString why;
        if (timedOut && !m_loadBegun)
            why = tr("ブラウザがこのアドレスを読み込みませんでした");
        else if (timedOut)
            why = noAnswerText();
        else
            why = tr("ページが表示されませんでした（応答に文書がありません）");
        Result result{false, why, false, {}};
        result.noDocument = !timedOut;
        finish(result);
        return;
    }
    // What is missing from the page's records, each in a note of its own.
    QStringList notes;
    if (addresses.truncated && addresses.cutByChars)
        notes.append(tr("アドレスの文字が多すぎます: 1 ページ %L1 MiB までを集め、それより後は集めていません")
                         .arg(CollectedAddress::PageChars >> 20));
    else if (addresses.truncated)
        notes.append(tr("アドレスが多すぎます: 1 ページ %L1 件までを集め、それより後は集めていません")
                         .arg(AddressCollector::Limit));
    else if (timedOut)
        notes.append(
            tr("時間切れ: %1 秒で読み込みが終わらず、それまでの内容から集めました").arg(timeoutSeconds()));
    if (m_scrollCut)
        notes.append(tr("スクロールを打ち切りました: %1 画面か %2 秒までで、ページはまだ伸びていました")
                         .arg(PageScroller::MostScreens)
                         .arg(PageScroller::MostMs / 1000));
    if (!addresses.silentFrames.isEmpty())
        notes.append(silentFramesText(addresses.silentFrames));
    if (addresses.dropped > 0)
        notes.append(tr("アドレスとして使えないもの %L1 件を除きました（長すぎる data: アドレスなど）")
                         .arg(addresses.dropped));
    finishAfterLogInCheck({notes.isEmpty(), notes.join(QStringLiteral(" / ")), true, addresses});
}

void HarvestSlot::finishAfterLogInCheck(Result result) {
    // A page that took the reader to another page with a password box has sent them to log in: its
    // records are those of the log-in page, and the report says so and where it went.
    const QUrl moved = m_browser ? m_browser->MovedTo() : QUrl();
    QWebEnginePage* page = m_browser ? m_browser->page() : nullptr;
    if (!moved.isValid() || !page) {
        finish(result);
        return;
    }
    const quint64 token = ++m_token;
    QPointer<HarvestSlot> self(this);
    auto decide = [self, token, moved](Result result, bool logIn) {
        if (!self || token != self->m_token || self->m_stage != Stage::Collecting)
            return;
        if (logIn) {
            const QString note =
                tr("%1（ログインのページ %2 に移動しました）")
                    .arg(EngineErrorText::NeedsLogIn, DisplayAddress::forDisplay(moved.toString()));
            result.reason = result.reason.isEmpty() ? note : note + QStringLiteral(" / ") + result.reason;
            result.ok = false;
        }
        self->finish(result);
    };
    page->runJavaScript(QStringLiteral("!!document.querySelector('input[type=password]')"),
                        QWebEngineScript::ApplicationWorld,
                        [decide, result](const QVariant& found) { decide(result, found.toBool()); });
    // A page that does not answer is reported as it stands.
    QTimer::singleShot(m_collectTimeoutMs, this, [decide, result] { decide(result, false); });
}

QString HarvestSlot::silentFramesText(const QStringList& frames) {
    // A few by name; the rest counted.
    constexpr qsizetype named = 3;
    QString text = tr("時間内に答えなかったフレームがあり、その中のアドレスは集めていません: %1")
                       .arg(frames.mid(0, named).join(QStringLiteral(", ")));
    if (frames.size() > named)
        text += tr(" ほか %L1 件").arg(frames.size() - named);
    return text;
}

int HarvestSlot::timeoutSeconds() const {
    return (m_pageTimeoutMs + 999) / 1000;
}

QString HarvestSlot::noAnswerText() const {
    return tr("時間切れ: %1 秒たっても応答がありません").arg(timeoutSeconds());
}

void HarvestSlot::finish(Result result) {
    m_pageTimer.stop();
    // A page that took itself elsewhere (a script moving to https, say) and failed there: the
    // address asked for may well work, so the report names where it failed.
    if (!result.ok && (!result.collected || m_timedOut) && m_browser && m_stage != Stage::Reading) {
        const QUrl moved = m_browser->MovedTo();
        if (moved.isValid())
            result.reason = tr("%1 に移動した後に失敗: %2")
                                .arg(DisplayAddress::forDisplay(moved.toString()), result.reason);
    }
    m_stage = Stage::Idle;
    ++m_token;
    Q_EMIT pageDone(m_index, result);
}
