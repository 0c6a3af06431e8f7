#include "PageScroller.h"

#include "HiddenWebPage.h"

#include <QVariantList>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace {

// One screen down, in the application's own script world: where the page stood, where it stands
// now, how long it is and how high a screen is; null without a document to scroll.
const QString scrollScreen = QStringLiteral(
    "(function () { var s = document.scrollingElement || document.documentElement;"
    " if (!s) return null; var from = s.scrollTop; window.scrollBy(0, window.innerHeight || 720);"
    " return [from, s.scrollTop, s.scrollHeight, window.innerHeight]; })()");

// Whether the document has been through a frame since it was first asked, in the application's own
// script world: an intersection observer of that world gets its first answer in the frame after it
// observes, in the same task as the page's own observers (the first frame also ran the animation
// frames the page asked for), and the task after that one finds all of them answered. A document
// that is not visible has no frame.
// The observer is set up while the page is still hidden, so that it answers in the first frame the
// page is shown in (an answer while it is hidden, from a layout of the page's own, does not count);
// that answer is also said on the console, which ends the wait at once.
QString frameObserver() {
    return QStringLiteral(
               "if (!window.__nepirikaShown && document.documentElement) { window.__nepirikaShown = 1;"
               " var seen = new IntersectionObserver(function () { seen.disconnect();"
               " if (document.visibilityState !== 'visible') { window.__nepirikaShown = 0; return; }"
               " setTimeout(function () { window.__nepirikaShown = 2; console.debug('%1'); }, 0); });"
               " seen.observe(document.documentElement); }")
        .arg(HiddenWebPage::frameDrawnMessage());
}
const QString& frameArm() {
    static const QString script = QStringLiteral("(function () { %1 })()").arg(frameObserver());
    return script;
}
const QString& frameShown() {
    static const QString script =
        QStringLiteral(
            "(function () { if (document.visibilityState !== 'visible' || !document.documentElement)"
            " return true; %1 return window.__nepirikaShown === 2; })()")
            .arg(frameObserver());
    return script;
}
// How often the frame is asked for, in case its word on the console was missed.
constexpr int frameAskMs = 100;

} // namespace

PageScroller::PageScroller(QWebEnginePage* page, QObject* parent)
    : QObject(parent)
    , m_page(page) {
    m_pause.setSingleShot(true);
    m_bound.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &PageScroller::step);
    // A page that does not answer within the bound (a script that never ends) is left as it is.
    connect(&m_bound, &QTimer::timeout, this, [this]() { finish(false); });
    if (auto* hidden = qobject_cast<HiddenWebPage*>(page))
        connect(hidden, &HiddenWebPage::frameDrawn, this, [this]() {
            if (m_awaitingFrame)
                onFrameReading(true);
        });
}

void PageScroller::arm() {
    if (m_page)
        m_page->runJavaScript(frameArm(), QWebEngineScript::ApplicationWorld);
}

void PageScroller::start(bool toEnd, Done done) {
    ++m_run;
    m_done = std::move(done);
    m_toEnd = toEnd;
    m_screens = 0;
    m_steady = 0;
    m_lastHeight = -1;
    m_clock.start();
    m_awaitingFrame = true;
    m_bound.start(toEnd ? MostMs : FrameMs);
    QTimer::singleShot(0, this, [this, run = m_run]() {
        if (run == m_run && m_done)
            awaitFrame();
    });
}

void PageScroller::awaitFrame() {
    if (m_awaitingFrame)
        runInPage(frameShown(), &PageScroller::onFrameReading);
}

void PageScroller::onFrameReading(const QVariant& shown) {
    if (!m_awaitingFrame)
        return;
    if (!shown.toBool() && m_clock.elapsed() < FrameMs) {
        QPointer<PageScroller> self(this);
        QTimer::singleShot(frameAskMs, this, [self, run = m_run]() {
            if (self && run == self->m_run)
                self->awaitFrame();
        });
    } else if (m_toEnd) {
        m_awaitingFrame = false;
        step();
    } else {
        finish(true);
    }
}

void PageScroller::runInPage(const QString& script, void (PageScroller::*then)(const QVariant&)) {
    if (!m_done)
        return;
    if (!m_page) {
        finish(true);
        return;
    }
    QPointer<PageScroller> self(this);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                          [self, run = m_run, then](const QVariant& reading) {
                              if (self && run == self->m_run && self->m_done)
                                  (self->*then)(reading);
                          });
}

void PageScroller::cancel() {
    ++m_run;
    m_awaitingFrame = false;
    m_done = nullptr;
    m_pause.stop();
    m_bound.stop();
}

void PageScroller::step() {
    runInPage(scrollScreen, &PageScroller::onReading);
}

void PageScroller::onReading(const QVariant& reading) {
    if (!m_done)
        return;
    const QVariantList r = reading.toList();
    if (r.size() != 4) {
        finish(true); // nothing to scroll
        return;
    }
    const double from = r.at(0).toDouble(), to = r.at(1).toDouble(), height = r.at(2).toDouble();
    if (to > from)
        ++m_screens;
    // At the end, and the end where it was at the last reading: the page has added nothing.
    if (to <= from && height == m_lastHeight)
        ++m_steady;
    else
        m_steady = 0;
    m_lastHeight = height;
    if (m_steady >= SteadyReadings) {
        finish(true);
        return;
    }
    if (m_screens >= MostScreens || m_clock.elapsed() + PauseMs >= MostMs) {
        finish(false);
        return;
    }
    m_pause.start(PauseMs);
}

void PageScroller::finish(bool reachedEnd) {
    m_awaitingFrame = false;
    m_pause.stop();
    m_bound.stop();
    ++m_run;
    if (auto done = std::exchange(m_done, nullptr))
        QTimer::singleShot(0, this, [done, reachedEnd]() { done(reachedEnd); });
}
