// TWebBrowser's states, driven through an engine of the test's own: each row is a run of the
// browser's calls and of the engine's reports, and the state, the work asked of the engine and
// the completions that it must come to.

#include "TWebBrowser.h"
#include "WebEngineSetup.h"

#include <QGuiApplication>
#include <QTest>

namespace {

class FakeEngineBrowser : public TWebBrowser {
public:
    QStringList work; // what the browser asked of the engine
    QStringList done; // the completions: "ok" or "failed: reason"
    QUrl location;    // the document the engine shows

    FakeEngineBrowser() {
        connect(this, &TWebBrowser::DocumentComplete, this, [this](bool ok, const QString& reason) {
            done.append(ok ? QStringLiteral("ok") : QStringLiteral("failed: ") + reason);
        });
    }

    QUrl LocationURL() const override { return location; }

    // One step of a row: the browser's call or the engine's report that it names.
    void step(const QString& text) {
        const QString verb = text.section(u' ', 0, 0);
        const QString arg = text.section(u' ', 1);
        if (verb == u"navigate")
            Navigate(address(arg));
        else if (verb == u"stop")
            Stop();
        else if (verb == u"answer" || verb == u"silent")
            probeAnswered(arg.toULongLong(), verb == u"answer");
        else if (verb == u"start")
            engineLoadStarted();
        else if (verb == u"ok")
            location = address(arg), engineLoadEnded(location, LoadEnd::Succeeded, {});
        else if (verb == u"failed")
            engineLoadEnded(location, LoadEnd::Failed, QStringLiteral("HTTP 404"));
        else if (verb == u"stopped")
            engineLoadEnded(location, LoadEnd::Stopped, QStringLiteral("no document"));
        else if (verb == u"gone")
            rendererEnded();
        else if (verb == u"wait")
            QTest::qWait(1);
        else
            QFAIL(qPrintable(QStringLiteral("unknown step: ") + text));
    }

protected:
    void askRendererForSignOfLife(quint64 navigation) override {
        work.append(QStringLiteral("probe %1").arg(navigation));
    }
    void loadInEngine(const QUrl& url, qint64) override {
        work.append(QStringLiteral("load ") + url.path() +
                    (url.hasFragment() ? u'#' + url.fragment() : QString()));
    }
    void stopInEngine() override { work.append(QStringLiteral("stop")); }

private:
    static QUrl address(const QString& path) { return QUrl(QStringLiteral("http://site.example") + path); }
};

using S = TWebBrowser::State;

} // namespace

class TestBrowserStates : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runs_data();
    void runs();
};

void TestBrowserStates::runs_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("work");
    QTest::addColumn<QStringList>("done");
    const QString stopped = QStringLiteral("failed: 読み込みを止めました");

    QTest::newRow("a new page loads at once") << QStringList{"navigate /a", "start", "ok /a"} << int(S::Shown)
                                              << QStringList{"load /a"} << QStringList{"ok"};
    QTest::newRow("a shown page asks its renderer first")
        << QStringList{"navigate /a", "start", "ok /a", "navigate /b", "answer 2", "start", "ok /b"}
        << int(S::Shown) << QStringList{"load /a", "probe 2", "load /b"} << QStringList{"ok", "ok"};
    QTest::newRow("navigate, navigate, stop while probing: no stale probe loads")
        << QStringList{"navigate /a", "start",    "ok /a",    "navigate /b", "navigate /c",
                       "stop",        "answer 2", "answer 3", "silent 3"}
        << int(S::Shown) << QStringList{"load /a", "probe 2", "probe 3", "stop"} << QStringList{"ok"};
    QTest::newRow("the later navigation's probe loads the later address")
        << QStringList{"navigate /a", "start", "ok /a", "navigate /b", "navigate /c", "answer 2", "answer 3"}
        << int(S::Requested) << QStringList{"load /a", "probe 2", "probe 3", "load /c"} << QStringList{"ok"};
    QTest::newRow("stop while probing after a failure: still failed")
        << QStringList{"navigate /a", "start", "failed", "navigate /b", "stop"} << int(S::ShownFailed)
        << QStringList{"load /a", "probe 2", "stop"} << QStringList{"failed: HTTP 404"};
    QTest::newRow("stop during the load")
        << QStringList{"navigate /a", "start", "stop", "stopped"} << int(S::ShownFailed)
        << QStringList{"load /a", "stop"} << QStringList{stopped};
    QTest::newRow("stop before the engine reported the start")
        << QStringList{"navigate /a", "stop", "stopped"} << int(S::ShownFailed)
        << QStringList{"load /a", "stop"} << QStringList{stopped};
    QTest::newRow("a silent renderer: the page is replaced and loads")
        << QStringList{"navigate /a", "start", "ok /a", "navigate /b", "silent 2"} << int(S::Requested)
        << QStringList{"load /a", "probe 2", "load /b"} << QStringList{"ok"};
    QTest::newRow("navigate during a load: its end is the new load's")
        << QStringList{"navigate /a", "start", "navigate /b", "ok /b"} << int(S::Shown)
        << QStringList{"load /a", "load /b"} << QStringList{"ok"};
    QTest::newRow("the renderer ends during the load")
        << QStringList{"navigate /a", "start", "gone"} << int(S::RendererGone) << QStringList{"load /a"}
        << QStringList{"failed: ページの処理が異常終了しました"};
    QTest::newRow("the renderer ends while probing: the load brings a new one")
        << QStringList{"navigate /a", "start", "ok /a", "navigate /b", "gone", "wait", "start", "ok /b"}
        << int(S::Shown) << QStringList{"load /a", "probe 2", "load /b"} << QStringList{"ok", "ok"};
    QTest::newRow("another fragment of the shown document: no load")
        << QStringList{"navigate /a", "start", "ok /a", "navigate /a#x", "wait"} << int(S::Shown)
        << QStringList{"load /a"} << QStringList{"ok", "ok"};
    QTest::newRow("the page's own load after completion reports nothing")
        << QStringList{"navigate /a", "start", "ok /a", "start", "failed"} << int(S::ShownFailed)
        << QStringList{"load /a"} << QStringList{"ok"};
    QTest::newRow("a load's end while probing belongs to no navigation")
        << QStringList{"navigate /a", "start", "ok /a", "start", "navigate /b", "ok /a"} << int(S::Probing)
        << QStringList{"load /a", "probe 2"} << QStringList{"ok"};
}

void TestBrowserStates::runs() {
    QFETCH(QStringList, steps);
    QFETCH(int, state);
    QFETCH(QStringList, work);
    QFETCH(QStringList, done);
    FakeEngineBrowser browser;
    for (const QString& step : std::as_const(steps))
        browser.step(step);
    QCOMPARE(int(browser.state()), state);
    QCOMPARE(browser.work, work);
    QCOMPARE(browser.done, done);
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QGuiApplication app(argc, argv);
    TestBrowserStates test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browserstates.moc"
