// The user's road through the real main window: analyse real pages served on 127.0.0.1, read the
// two lists, filter and unfilter them, view them as text, download, cancel and close mid-way.

#include "AppMessages.h"
#include "DownloadProgressDialog.h"
#include "GuiTestMain.h"
#include "ProgressLabel.h"
#include "TForm1.h"
#include "TForm3.h"
#include "TestHttpServer.h"
#include "tlinksys.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QToolTip>

#include <memory>

namespace {

QStringList entries(const QListView* list) {
    return static_cast<const QStringListModel*>(list->model())->stringList();
}

} // namespace

class TestAnalysis : public QObject {
    Q_OBJECT

private:
    TestHttpServer m_server;
    std::unique_ptr<TForm1> m_form;
    QList<QPointer<QMessageBox>> m_boxes;

    QString url(const char* path) const { return m_server.urlText(QString::fromLatin1(path)); }

    TForm1::Options options() const {
        TForm1::Options o;
        o.adListUrl = m_server.url(QStringLiteral("/ads.txt"));
        o.pageTimeoutMs = 20000;
        o.collectTimeoutMs = 5000;
        return o;
    }

    QList<QMessageBox*> openBoxes() const {
        QList<QMessageBox*> boxes;
        for (const QPointer<QMessageBox>& box : m_boxes)
            if (box && box->isVisible())
                boxes.append(box);
        return boxes;
    }

    // Starts an analysis of text by the button and waits for its end.
    bool analyse(const QString& text, QStringList* progress = nullptr) {
        m_form->Memo1->setPlainText(text);
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        if (progress && m_form->harvester())
            connect(m_form->harvester(), &tlinksys::pageStarted, this,
                    [this, progress] { progress->append(m_form->Label1->text()); });
        return done.wait(60000) || done.size() == 1;
    }

    // The records of a.html then b.html, in harvest order.
    QStringList expectedPages() const { return {url("/p1.html"), url("/p2.htm?y=1"), url("/b-page.HTML")}; }
    QStringList expectedFiles() const {
        // The script link is in neither list.
        return {url("/img/one.jpg"), url("/IMG/TWO.JPG"), url("/m.swf")};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        m_server.route(QStringLiteral("/ads.txt"), TestHttpResponse::error(404));
        m_server.route(QStringLiteral("/a.html"),
                       TestHttpResponse::html("<html><body>"
                                              "<a href='/p1.html'>1</a>"
                                              "<a href='p2.htm?y=1'>2</a>"
                                              "<a href='mailto:someone@example.com'>mail</a>"
                                              "<a href='javascript:void(0)'>js</a>"
                                              "<img src='img/one.jpg'><img src='/IMG/TWO.JPG'>"
                                              "</body></html>"));
        m_server.route(QStringLiteral("/b.html"), TestHttpResponse::html("<html><body>"
                                                                         "<a href='/p1.html'>again</a>"
                                                                         "<a href='/b-page.HTML'>b</a>"
                                                                         "<img src='/img/one.jpg'>"
                                                                         "<embed src='/m.swf'>"
                                                                         "</body></html>"));
        m_server.route(QStringLiteral("/empty.html"),
                       TestHttpResponse::html("<html><body>nothing</body></html>"));
        m_server.route(QStringLiteral("/slow.html"), [](const TestHttpRequest&) {
            TestHttpResponse r;
            r.hang = true;
            return r;
        });
        m_server.route(QStringLiteral("/delayed.html"), [](const TestHttpRequest&) {
            TestHttpResponse r = TestHttpResponse::html("<a href='/d.html'>d</a>");
            r.delayMs = 3000;
            return r;
        });
        m_server.route(QStringLiteral("/scripted.html"),
                       TestHttpResponse::html("<a href='/static.html'>s</a><div id=box></div><script>"
                                              "var a = document.createElement('a'); a.href = '/added.html';"
                                              "document.getElementById('box').appendChild(a);</script>"));
        m_server.route(QStringLiteral("/img/one.jpg"), TestHttpResponse::withType("image/jpeg", "ONE-JPEG"));
        m_server.route(QStringLiteral("/IMG/TWO.JPG"), TestHttpResponse::withType("image/jpeg", "TWO-JPEG"));
    }

    void init() {
        m_boxes.clear();
        AppMessages::setOpenHook([this](QMessageBox* box) { m_boxes.append(box); });
        m_form = std::make_unique<TForm1>(options());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void cleanup() {
        m_form.reset();
        AppMessages::setOpenHook({});
        for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
            delete box.data();
        m_server.clearLog();
    }

    void fullAnalysisWithOneFailingPage() {
        QStringList progress;
        // Repeated lines are loaded once, where they first stand.
        m_form->Memo1->setPlainText(
            QStringLiteral("  %1 \n\n%2\n%3\n%2\n%1\n")
                .arg(url("/a.html"), url("/%E7%84%A1%E3%81%84.html"), url("/b.html")));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        // While it runs the button cancels, and the label counts the pages.
        QCOMPARE(m_form->Button5->text(), QStringLiteral("中止"));
        QVERIFY(m_form->Label1->text().startsWith(QStringLiteral("作業中")));
        QVERIFY(m_form->isAnalysing());
        // The count, on the label's first line, is that of the first page not done yet.
        auto noteProgress = [&] {
            const QString count = m_form->Label1->text().section(ProgressLabel::PageSeparator, 0, 0);
            if (progress.isEmpty() || progress.last() != count)
                progress.append(count);
        };
        connect(m_form->harvester(), &tlinksys::pageStarted, this, noteProgress);
        connect(m_form->harvester(), &tlinksys::pageFinished, this, noteProgress);
        QVERIFY(done.wait(60000));
        QCOMPARE(done.first().first().toBool(), false);

        // The input ended with a line break and held a blank line and two repeats: three pages. The
        // pages load side by side: the count done may run ahead of the page the lists wait for.
        QCOMPARE(progress.first(), QStringLiteral("作業中 1/3"));
        QVERIFY2(progress.contains(QStringLiteral("作業中 3/3 ・ 完了 2")) ||
                     progress.contains(QStringLiteral("作業中 3/3 ・ 完了 3")),
                 qPrintable(progress.join(u'|')));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("完　了 ・ 重複 2 行"));
        QCOMPARE(m_form->Button5->text(), QStringLiteral("解析開始"));
        QVERIFY(!m_form->isAnalysing());
        QCOMPARE(entries(m_form->ListBox1), expectedPages());
        QCOMPARE(entries(m_form->ListBox2), expectedFiles());
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (3)"));
        QCOMPARE(m_form->GroupBox2->title(), QStringLiteral("データファイル (3)"));

        // The failed page is reported once, with its reason; the others went on.
        QTRY_COMPARE(openBoxes().size(), 1);
        QMessageBox* report = openBoxes().first();
        QCOMPARE(report->icon(), QMessageBox::NoIcon);
        // The address as the lists show it, not percent-encoded.
        QVERIFY2(report->text().contains(url("/") + QStringLiteral("無い.html — ")),
                 qPrintable(report->text()));
        QVERIFY2(report->text().contains(QStringLiteral("404")), qPrintable(report->text()));
        QVERIFY(report->text().contains(QStringLiteral("（1 件）")));
        QVERIFY(!report->text().contains(url("/a.html")));
        QCOMPARE(m_server.requestsFor(QStringLiteral("/a.html")).size(), 1);
        QCOMPARE(m_server.requestsFor(QStringLiteral("/b.html")).size(), 1);

        // A second analysis discards the first one's records entirely.
        report->close();
        QVERIFY(analyse(url("/empty.html")));
        QVERIFY(entries(m_form->ListBox1).isEmpty());
        QVERIFY(entries(m_form->ListBox2).isEmpty());
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (0)"));
        QCOMPARE(openBoxes().size(), 0);
    }

    void manyFailuresAreNamedUpToTwenty() {
        QStringList lines;
        for (int i = 1; i <= 22; ++i)
            lines.append(url("/gone-") + QString::number(i) + QStringLiteral(".html"));
        lines.append(url("/a.html"));
        QVERIFY(analyse(lines.join(QLatin1Char('\n'))));
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/p1.html"), url("/p2.htm?y=1")}));
        QTRY_COMPARE(openBoxes().size(), 1);
        const QString report = openBoxes().first()->text();
        QVERIFY(report.contains(QStringLiteral("（22 件）")));
        QVERIFY(report.contains(url("/gone-20.html")));
        QVERIFY(!report.contains(url("/gone-21.html")));
        QVERIFY(!report.contains(url("/gone-22.html")));
        QVERIFY(report.contains(QStringLiteral("ほか 2 件")));
    }

    void filterUnfilterAndTextView() {
        QVERIFY(analyse(url("/a.html") + QLatin1Char('\n') + url("/b.html")));
        QCOMPARE(openBoxes().size(), 0);

        // Capitals find the same entries; the match may be anywhere in the address.
        m_form->kensaku1->setText(QStringLiteral(".HTM"));
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox1), expectedPages());
        m_form->kensaku1->setText(QStringLiteral("P2.HTM?"));
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox1), QStringList{url("/p2.htm?y=1")});
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (1)"));

        // Default ".jpg" over the data files finds stored capitals too, shown as stored.
        QTest::mouseClick(m_form->Button9, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox2), QStringList({url("/img/one.jpg"), url("/IMG/TWO.JPG")}));

        // The text view shows what the list shows, each entry followed by a line break.
        QTest::mouseClick(m_form->Button6, Qt::LeftButton);
        QCOMPARE(m_form->textViews().size(), 1);
        QPointer<TForm3> view = m_form->textViews().first();
        QVERIFY(view->isVisible());
        QVERIFY(view->isModal());
        QCOMPARE(view->kekka->toPlainText(), url("/img/one.jpg") + "\n" + url("/IMG/TWO.JPG") + "\n");
        view->kekka->appendPlainText(QStringLiteral("edited"));
        view->close();
        QTRY_VERIFY(!view);
        QCOMPARE(entries(m_form->ListBox2), QStringList({url("/img/one.jpg"), url("/IMG/TWO.JPG")}));

        // Unfilter restores the list in harvest order; the filter box keeps its text.
        QTest::mouseClick(m_form->Button11, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox2), expectedFiles());
        QCOMPARE(m_form->kensaku2->text(), QStringLiteral(".jpg"));
        QTest::mouseClick(m_form->Button10, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox1), expectedPages());

        // An empty filter text matches nothing.
        m_form->kensaku1->clear();
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QVERIFY(entries(m_form->ListBox1).isEmpty());
        QTest::mouseClick(m_form->Button2, Qt::LeftButton);
        QTRY_COMPARE(m_form->textViews().size(), 1);
        QCOMPARE(m_form->textViews().first()->kekka->toPlainText(), QString());
        m_form->textViews().first()->close();

        // Enter in a filter box runs its search.
        m_form->kensaku1->setText(QStringLiteral("b-page"));
        m_form->kensaku1->setFocus();
        QTest::keyClick(m_form->kensaku1, Qt::Key_Return);
        QCOMPARE(entries(m_form->ListBox1), QStringList{url("/b-page.HTML")});
    }

    void aFilterInItsBoxIsAppliedOrMarked_data() {
        // After the analysis, in order: "filter" (検索), "clear" (C), "type X" (the box's text is X).
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<int>("shown");
        QTest::newRow("the default text, never applied") << QStringList() << false << 3;
        QTest::newRow("applied by 検索") << QStringList{"type p1", "filter"} << true << 1;
        QTest::newRow("left in the box after C") << QStringList{"type p1", "filter", "clear"} << false << 3;
        QTest::newRow("edited after 検索") << QStringList{"type p1", "filter", "type p2"} << false << 1;
        QTest::newRow("an empty box is no filter") << QStringList{"type "} << false << 3;
    }

    void aFilterInItsBoxIsAppliedOrMarked() {
        QFETCH(QStringList, steps);
        QFETCH(bool, applied);
        QFETCH(int, shown);
        QVERIFY(analyse(url("/a.html") + QLatin1Char('\n') + url("/b.html")));
        for (const QString& step : std::as_const(steps)) {
            if (step == QStringLiteral("filter"))
                QTest::mouseClick(m_form->Button8, Qt::LeftButton);
            else if (step == QStringLiteral("clear"))
                QTest::mouseClick(m_form->Button10, Qt::LeftButton);
            else
                m_form->kensaku1->setText(step.mid(5));
        }
        QCOMPARE(m_form->GroupBox1->filterApplied(), applied);
        QCOMPARE(entries(m_form->ListBox1).size(), shown);
        // A text the list does not follow is set apart: dimmed, in italics, and said so.
        const bool marked = !applied && !m_form->kensaku1->text().isEmpty();
        QCOMPARE(m_form->kensaku1->font().italic(), marked);
        QCOMPARE(m_form->kensaku1->toolTip().contains(QStringLiteral("未適用")), marked);
    }

    void listsFillPageByPageAndKeepTheirFilter() {
        m_form->Memo1->setPlainText(url("/a.html") + "\n" + url("/delayed.html") + "\n" + url("/b.html"));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (0)"));
        // The first page's records show while the second still loads; the third waits for it.
        QTRY_COMPARE_WITH_TIMEOUT(entries(m_form->ListBox1),
                                  QStringList({url("/p1.html"), url("/p2.htm?y=1")}), 20000);
        QVERIFY(m_form->isAnalysing());
        QCOMPARE(entries(m_form->ListBox2), QStringList({url("/img/one.jpg"), url("/IMG/TWO.JPG")}));
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (2)"));
        QCOMPARE(m_form->GroupBox2->title(), QStringLiteral("データファイル (2)"));
        // The third page loads while the second is delayed: it is counted before the lists reach it.
        QTRY_VERIFY2(m_form->Label1->text().startsWith(QStringLiteral("作業中 2/3 ・ 完了 2 ｜ ")),
                     qPrintable(m_form->Label1->text()));
        QCOMPARE(m_form->Label1->toolTip(), url("/delayed.html"));

        // A filter set meanwhile applies to what comes next; the other list grows unfiltered.
        m_form->kensaku1->setText(QStringLiteral("PAGE"));
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QVERIFY(entries(m_form->ListBox1).isEmpty());
        QVERIFY(m_form->isAnalysing());
        QVERIFY(done.wait(60000));
        QCOMPARE(entries(m_form->ListBox1), QStringList{url("/b-page.HTML")});
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (1)"));
        QCOMPARE(entries(m_form->ListBox2), expectedFiles());
        QCOMPARE(m_form->Label1->text(), QStringLiteral("完　了"));
        // "C" shows every record of the analysis, in harvest order.
        QTest::mouseClick(m_form->Button10, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox1),
                 QStringList({url("/p1.html"), url("/p2.htm?y=1"), url("/d.html"), url("/b-page.HTML")}));
    }

    void noScriptsMenuItem() {
        QCOMPARE(m_form->NoScripts1->text(), QStringLiteral("スクリプトを実行しない(&J)"));
        QVERIFY(m_form->Settings1->actions().contains(m_form->NoScripts1));
        QVERIFY(m_form->NoScripts1->isCheckable());
        QVERIFY(!m_form->NoScripts1->isChecked());
        QVERIFY(analyse(url("/scripted.html")));
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/static.html"), url("/added.html")}));

        // Taken when an analysis starts: the script's link is absent, the page's own link stays.
        m_form->NoScripts1->trigger();
        QVERIFY(m_form->NoScripts1->isChecked());
        QVERIFY(analyse(url("/scripted.html")));
        QVERIFY(m_form->harvester()->noScripts());
        QCOMPARE(entries(m_form->ListBox1), QStringList{url("/static.html")});

        m_form->NoScripts1->trigger();
        QVERIFY(analyse(url("/scripted.html")));
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/static.html"), url("/added.html")}));
    }

    // 設定 → リンク先も解析: the depth chosen is remembered and taken by the next analysis, whose
    // followed page's picture shows with its page and depth in the tooltip.
    void followingLinksFromTheMenu() {
        m_server.route(QStringLiteral("/f/index.html"),
                       TestHttpResponse::html("<a href='/f/detail.html'><img src='/f/th.jpg'></a>"));
        m_server.route(QStringLiteral("/f/detail.html"), TestHttpResponse::html("<img src='/f/full.jpg'>"));
        auto depthAction = [this](const QString& text) -> QAction* {
            for (QMenu* menu : m_form->Settings1->findChildren<QMenu*>())
                if (menu->title() == QStringLiteral("リンク先も解析(&L)"))
                    for (QAction* action : menu->actions())
                        if (action->text() == text)
                            return action;
            return nullptr;
        };
        // A window that remembers its settings in a file of its own.
        QTemporaryDir dir;
        TForm1::Options remembering = options();
        remembering.settingsFile = dir.filePath(QStringLiteral("nepirika.ini"));
        auto open = [&] {
            m_form.reset();
            m_form = std::make_unique<TForm1>(remembering);
            m_form->show();
            return QTest::qWaitForWindowExposed(m_form.get());
        };
        QVERIFY(open());
        QAction* one = depthAction(QStringLiteral("1"));
        QVERIFY(one && depthAction(QStringLiteral("しない"))->isChecked());
        QVERIFY(analyse(url("/f/index.html")));
        QCOMPARE(entries(m_form->ListBox2), QStringList{url("/f/th.jpg")});

        one->trigger();
        QVERIFY(open());
        QVERIFY(depthAction(QStringLiteral("1"))->isChecked());
        QStringList progress;
        QVERIFY(analyse(url("/f/index.html"), &progress));
        // The page found by following is counted as it waits: two pages, one done, one waiting.
        QVERIFY2(progress.join(u'|').contains(QStringLiteral("/2 ・ 完了 1 ・ 待ち 1")),
                 qPrintable(progress.join(u'|')));
        QCOMPARE(entries(m_form->ListBox2), (QStringList{url("/f/th.jpg"), url("/f/full.jpg")}));
        QCOMPARE(m_server.requestsFor(QStringLiteral("/f/detail.html")).size(), 1);
        QListView* list = m_form->ListBox2;
        const QRect rect = list->visualRect(list->model()->index(1, 0));
        QHelpEvent help(QEvent::ToolTip, rect.center(), list->viewport()->mapToGlobal(rect.center()));
        QCoreApplication::sendEvent(list->viewport(), &help);
        QTRY_VERIFY2(
            QToolTip::text().contains(
                QStringLiteral("ページ: %1（入力したページから 1 リンク先）").arg(url("/f/detail.html"))),
            qPrintable(QToolTip::text()));
    }

    void emptyInputLoadsNothing() {
        QVERIFY(analyse(url("/a.html")));
        m_form->Memo1->setPlainText(QStringLiteral(" \n\u3000\n"));
        const qsizetype asked = m_server.requests().size();
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        // It says so, and the last analysis's results stay.
        QTRY_COMPARE(openBoxes().size(), 1);
        QVERIFY(openBoxes().first()->text().startsWith(QStringLiteral("解析するアドレスがありません")));
        QVERIFY(!m_form->isAnalysing());
        QCOMPARE(m_form->Label1->text(), QStringLiteral("完　了"));
        QCOMPARE(m_form->Button5->text(), QStringLiteral("解析開始"));
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/p1.html"), url("/p2.htm?y=1")}));
        QCOMPARE(m_server.requests().size(), asked);
    }

    void ctrlEnterInTheInputBoxStartsTheAnalysis() {
        m_form->Memo1->setPlainText(url("/a.html"));
        m_form->Memo1->setFocus();
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::keyClick(m_form->Memo1, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(m_form->isAnalysing());
        QVERIFY(done.wait(60000));
        QCOMPARE(m_form->Memo1->toPlainText(), url("/a.html"));
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/p1.html"), url("/p2.htm?y=1")}));
    }

    void cancelDuringAnAnalysis() {
        m_form->Memo1->setPlainText(url("/a.html") + "\n" + url("/slow.html") + "\n" + url("/b.html"));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QSignalSpy started(m_form->harvester(), &tlinksys::pageStarted);
        // The three pages load side by side; the label names the one the lists wait for.
        QTRY_COMPARE_WITH_TIMEOUT(started.size(), 3, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor(QStringLiteral("/slow.html")).size(), 1, 30000);
        // The third page has loaded behind the stuck one: it is counted as done.
        QTRY_VERIFY(m_form->Label1->text().startsWith(QStringLiteral("作業中 2/3 ・ 完了 2 ｜ ")));
        QCOMPARE(m_form->Label1->toolTip(), url("/slow.html"));

        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toBool(), true);
        // What the first page gave is shown; the third page is never asked for.
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/p1.html"), url("/p2.htm?y=1")}));
        QCOMPARE(entries(m_form->ListBox2), QStringList({url("/img/one.jpg"), url("/IMG/TWO.JPG")}));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("中止 ・ 未解析 2 ページ"));
        QCOMPARE(m_form->Button5->text(), QStringLiteral("解析開始"));
        // The third page, loaded ahead of the stuck one, never reaches the lists.
        QTest::qWait(300);
        QCOMPARE(entries(m_form->ListBox1).size(), 2);

        // A new analysis starts cleanly after a cancelled one.
        QVERIFY(analyse(url("/b.html")));
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/p1.html"), url("/b-page.HTML")}));
    }

    void doubleClickOnStartRunsOneAnalysis() {
        QVERIFY(analyse(url("/b.html")));
        m_form->Memo1->setPlainText(url("/a.html"));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        // What the window system sends for a double click: press, release, double click, release.
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QTest::mouseDClick(m_form->Button5, Qt::LeftButton);
        QTest::mouseRelease(m_form->Button5, Qt::LeftButton);
        QVERIFY(m_form->isAnalysing());
        QCOMPARE(m_form->Button5->text(), QStringLiteral("中止"));
        QVERIFY(done.wait(30000));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toBool(), false);
        QCOMPARE(entries(m_form->ListBox1), QStringList({url("/p1.html"), url("/p2.htm?y=1")}));

        // Double-clicking "中止" cancels and does not start again.
        m_form->Memo1->setPlainText(url("/slow.html"));
        done.clear();
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor(QStringLiteral("/slow.html")).size(), 1, 30000);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QTest::mouseDClick(m_form->Button5, Qt::LeftButton);
        QTest::mouseRelease(m_form->Button5, Qt::LeftButton);
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toBool(), true);
        QVERIFY(!m_form->isAnalysing());
        QCOMPARE(m_form->Button5->text(), QStringLiteral("解析開始"));
    }

    void theCountOfThousandsOfPagesIsNotCutOff() {
        QStringList lines;
        for (int i = 1; i <= 10000; ++i)
            lines.append(QStringLiteral("mailto:someone%1@example.com").arg(i));
        m_form->Memo1->setPlainText(lines.join(u'\n'));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QStringList cutOff;
        QLabel* label = m_form->Label1;
        connect(m_form->harvester(), &tlinksys::pageStarted, this, [&](int index) {
            if (index % 1000 != 0 && index != 9 && index != 10000)
                return;
            const QString count = label->text().section(u'\n', 0, 0).section(u' ', 1, 1);
            if (QFontMetrics(label->font()).horizontalAdvance(count) > label->contentsRect().width())
                cutOff.append(label->text());
        });
        QVERIFY(done.wait(60000));
        QCOMPARE(cutOff, QStringList());
        // The caption at the end has the label's own size again.
        QCOMPARE(label->text(), QStringLiteral("完　了"));
        QCOMPARE(label->font().pixelSize(), 15);
    }

    void closeDuringAnAnalysis_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("menu") << true;
        QTest::newRow("close button") << false;
    }

    void closeDuringAnAnalysis() {
        QFETCH(bool, byMenu);
        m_form->Memo1->setPlainText(url("/slow.html") + "\n" + url("/b.html"));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QPointer<tlinksys> harvester = m_form->harvester();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor(QStringLiteral("/slow.html")).size(), 1, 30000);
        // The other page loads beside the slow one: let what it asks for arrive first.
        for (qsizetype before = -1; before != m_server.requests().size();) {
            before = m_server.requests().size();
            QTest::qWait(500);
        }
        QVERIFY(m_form->isAnalysing());

        if (byMenu)
            m_form->Close1->trigger();
        else
            QVERIFY(m_form->close());
        QVERIFY(!m_form->isVisible());
        QVERIFY(!harvester);
        QVERIFY(!m_form->isAnalysing());
        // Every page stops: nothing is asked for after the close.
        const qsizetype asked = m_server.requests().size();
        QTest::qWait(300);
        QCOMPARE(done.size(), 0);
        QCOMPARE(openBoxes().size(), 0);
        QCOMPARE(m_server.requests().size(), asked);
        m_form.reset();
        QTest::qWait(100);
    }

    void closeDuringADownload_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("files"); // in the folder at the end, hidden ones included
        QTest::newRow("menu, stop and quit") << true << QStringLiteral("中止して終了") << QStringList();
        QTest::newRow("close button, stop and quit")
            << false << QStringLiteral("中止して終了") << QStringList();
        QTest::newRow("close button, go on")
            << false << QStringLiteral("続ける") << QStringList({"part0.bin", "part1.bin", "part2.bin"});
    }

    void closeDuringADownload() {
        QFETCH(bool, byMenu);
        QFETCH(QString, answer);
        QFETCH(QStringList, files);
        TestHttpResponse trickle =
            TestHttpResponse::withType("application/octet-stream", QByteArray(96 * 1024, 'x'));
        trickle.bytesPerSecond = 48 * 1024;
        for (const char* file : {"part0.bin", "part1.bin", "part2.bin"}) {
            m_server.route(QStringLiteral("/trickle/") + file, trickle);
            m_form->harvester()->List.Add(tURLData::make(m_server.urlText(QStringLiteral("/trickle/") + file),
                                                         tURLData::KindEmbed, 0, url("/a.html")));
        }
        m_form->Button3Click();
        QTemporaryDir dir;
        m_form->foruda->setText(dir.path());
        m_form->ListBox2->selectAll();
        QTest::mouseClick(m_form->Button4, Qt::LeftButton);
        auto* progress = m_form->findChild<DownloadProgressDialog*>();
        QVERIFY(progress);
        // Nothing modal holds the main window while the files come: its close button reaches it.
        QVERIFY(!QApplication::activeModalWidget());
        QTRY_VERIFY_WITH_TIMEOUT(!progress->bytesText().endsWith(QStringLiteral(" 0 bytes")), 10000);
        byMenu ? m_form->Close1->trigger() : void(m_form->close());
        QTRY_COMPARE(openBoxes().size(), 1);
        QVERIFY(
            openBoxes().first()->text().startsWith(QStringLiteral("ダウンロード中です（0 / 3 ファイル）")));
        for (QAbstractButton* button : openBoxes().first()->buttons())
            if (button->text() == answer)
                button->click();
        // Stopped: the window goes and no notice follows. Going on: the notice of the end.
        const bool quit = files.isEmpty();
        QTRY_VERIFY_WITH_TIMEOUT(quit ? !m_form->isVisible()
                                      : openBoxes().size() == 1 &&
                                            openBoxes().first()->text().contains("完了"),
                                 30000);
        QTest::qWait(300);
        QCOMPARE(openBoxes().size(), quit ? 0 : 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
    }

    void downloadSelectedEntriesWithTheirPageAsReferer() {
        QVERIFY(analyse(url("/a.html")));
        QTemporaryDir scratch(QCoreApplication::applicationDirPath() + QStringLiteral("/dl-XXXXXX"));
        QVERIFY(scratch.isValid());
        const QString folderName =
            QDir(QCoreApplication::applicationDirPath()).relativeFilePath(scratch.path()) +
            QStringLiteral("/files");
        m_form->foruda->setText(folderName);
        QTest::mouseClick(m_form->Button9, Qt::LeftButton);
        QCOMPARE(entries(m_form->ListBox2).size(), 2);
        // Nothing selected: it says so, makes no folder, and offers the whole list.
        QTest::mouseClick(m_form->Button4, Qt::LeftButton);
        QTRY_COMPARE(openBoxes().size(), 1);
        QMessageBox* notice = openBoxes().first();
        QVERIFY2(notice->text().contains(QStringLiteral("選ばれていません")), qPrintable(notice->text()));
        QVERIFY(!QFileInfo::exists(scratch.path() + QStringLiteral("/files")));
        auto* all = notice->findChild<QPushButton*>(QStringLiteral("DownloadAll"));
        QVERIFY(all);
        QCOMPARE(all->text(), QStringLiteral("すべてダウンロード"));
        all->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            openBoxes().size() == 1 && openBoxes().first()->text().contains(QStringLiteral("完了")), 30000);
        const QString folder = scratch.path() + QStringLiteral("/files");
        QFile one(folder + QStringLiteral("/one.jpg"));
        QVERIFY(one.open(QIODevice::ReadOnly));
        QCOMPARE(one.readAll(), QByteArray("ONE-JPEG"));
        QVERIFY(QFile::exists(folder + QStringLiteral("/TWO.JPG")));
        const QList<TestHttpRequest> requests = m_server.requestsFor(QStringLiteral("/IMG/TWO.JPG"));
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.last().header("referer"), url("/a.html").toUtf8());
    }

    void aLongEntryCanBeScrolledToItsEnd_data() {
        QTest::addColumn<QString>("longEntry");
        QTest::newRow("ascii") << QStringLiteral("http://host/") + QString(300, QLatin1Char('w')) +
                                      QStringLiteral(".html");
        QTest::newRow("wide characters")
            << QStringLiteral("http://host/") + QString(120, QChar(0x65E5)) + QStringLiteral(".html");
    }

    void aLongEntryCanBeScrolledToItsEnd() {
        QFETCH(QString, longEntry);
        tlinksys* harvester = m_form->harvester();
        QVERIFY(harvester);
        // Shorter entries before and after it: the list must not take its width from either.
        for (int i = 0; i < 200; ++i)
            harvester->List.Add(tURLData::make(QStringLiteral("http://host/p%1.html").arg(i),
                                               tURLData::KindPage, 0, QStringLiteral("http://host/")));
        harvester->List.Add(tURLData::make(longEntry, tURLData::KindPage, 0, QStringLiteral("http://host/")));
        harvester->List.Add(tURLData::make(QStringLiteral("http://host/z.html"), tURLData::KindPage, 0,
                                           QStringLiteral("http://host/")));
        m_form->Button3Click();
        QListView* list = m_form->ListBox1;
        const int needed = list->fontMetrics().horizontalAdvance(longEntry);
        QVERIFY(needed > list->viewport()->width());
        QTRY_VERIFY(list->horizontalScrollBar()->maximum() + list->viewport()->width() >= needed);
        const QModelIndex index = list->model()->index(200, 0);
        QCOMPARE(index.data().toString(), longEntry);
        QVERIFY(list->visualRect(index).width() >= needed);

        // A filter that leaves only short entries gives them their own width back.
        m_form->kensaku1->setText(QStringLiteral("/p1"));
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QTRY_COMPARE(list->horizontalScrollBar()->maximum(), 0);
    }

    void anEntrysTooltipTellsHowAndWhereItWasFound() {
        tlinksys* harvester = m_form->harvester();
        QVERIFY(harvester);
        harvester->List.Add(tURLData::make(QStringLiteral("http://host/a.html"), tURLData::KindPage, 0,
                                           QStringLiteral("http://host/"), QStringLiteral("a@href")));
        harvester->List.Add(tURLData::make(QStringLiteral("http://host/b.png"), tURLData::KindImage, 0,
                                           QStringLiteral("http://host/"),
                                           QStringLiteral("frame>img@srcset")));
        // 資料 in Shift_JIS, found on a Shift_JIS page.
        harvester->List.Add(tURLData::make(QStringLiteral("http://other/%8E%91%97%BF.png"),
                                           tURLData::KindImage, 0, QStringLiteral("http://other/page.html"),
                                           QStringLiteral("shadow>video@poster"),
                                           QStringLiteral("Shift_JIS")));
        m_form->Button3Click();
        // The second entry of the data files: what shows is the record's, not its neighbour's.
        QListView* list = m_form->ListBox2;
        const QRect rect = list->visualRect(list->model()->index(1, 0));
        QVERIFY(rect.isValid());
        QHelpEvent help(QEvent::ToolTip, rect.center(), list->viewport()->mapToGlobal(rect.center()));
        QCoreApplication::sendEvent(list->viewport(), &help);
        // The address first (its legacy bytes still encoded), then how and where it was found, and
        // the name it is saved under.
        QTRY_COMPARE(QToolTip::text(),
                     QStringLiteral("http://other/%8E%91%97%BF.png\n見つけた所: shadow>video@poster\n"
                                    "ページ: http://other/page.html\n保存名: 資料.png"));
    }

    void hundredThousandRecords() {
        tlinksys* harvester = m_form->harvester();
        QVERIFY(harvester);
        for (int i = 0; i < 100000; ++i) {
            const bool page = i % 5 < 3;
            const QString address = page ? QStringLiteral("http://host/page-%1.html").arg(i)
                                         : QStringLiteral("http://host/img/photo-%1.JPG").arg(i);
            harvester->List.Add(tURLData::make(address, page ? tURLData::KindPage : tURLData::KindImage, 0,
                                               QStringLiteral("http://host/")));
        }
        QElapsedTimer clock;
        clock.start();
        m_form->Button3Click();
        const qint64 fill = clock.restart();
        QCOMPARE(m_form->ListBox1->model()->rowCount(), 60000);
        QCOMPARE(m_form->ListBox2->model()->rowCount(), 40000);
        QCOMPARE(entries(m_form->ListBox1).first(), QStringLiteral("http://host/page-0.html"));
        QCOMPARE(entries(m_form->ListBox2).last(), QStringLiteral("http://host/img/photo-99999.JPG"));
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (60000)"));

        clock.restart();
        m_form->kensaku1->setText(QStringLiteral("PAGE-9999"));
        m_form->Button8Click();
        const qint64 filter = clock.restart();
        QStringList expected;
        for (int i = 0; i < 100000; ++i)
            if (i % 5 < 3 && QString::number(i).startsWith(QLatin1String("9999")))
                expected.append(QStringLiteral("http://host/page-%1.html").arg(i));
        QCOMPARE(expected.size(), 6);
        QCOMPARE(entries(m_form->ListBox1), expected);
        QTest::mouseClick(m_form->Button9, Qt::LeftButton);
        QCOMPARE(m_form->ListBox2->model()->rowCount(), 40000);
        m_form->ListBox2->scrollToBottom();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        m_form->Button10Click();
        QCOMPARE(m_form->ListBox1->model()->rowCount(), 60000);
        qInfo("100,000 records: lists filled in %lld ms, filtered in %lld ms", fill, filter);
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
