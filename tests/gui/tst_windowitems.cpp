// What the window tells and keeps, driven as a person drives it on pages served on 127.0.0.1: the
// label and the report after a stop, a 401 or a move to a log-in page; scrolling pages that grow;
// passwords in addresses; the results saved and opened again.

#include "AppMessages.h"
#include "AppSettings.h"
#include "DownloadCommand.h"
#include "DownloadProgressDialog.h"
#include "FileDialogs.h"
#include "GuiTestMain.h"
#include "HelpMenu.h"
#include "TForm1.h"
#include "TestHttpServer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTextBrowser>

#include <memory>

namespace {

QStringList entries(const QListView* list) {
    return static_cast<const QStringListModel*>(list->model())->stringList();
}

// A page whose feed grows by ten links and ten pictures each time its end comes into view, up to 50
// of each, as a reader scrolls.
const QByteArray FeedPage = R"HTML(<!doctype html><style>.item{height:300px}</style>
<div id="feed"></div><div id="end">…</div><script>
var n = 0;
function more() { var f = document.getElementById('feed');
  for (var i = 0; i < 10 && n < 50; ++i, ++n) { var d = document.createElement('div'); d.className = 'item';
    d.innerHTML = '<a href="/item' + n + '.html">' + n + '</a><img src="/pic' + n + '.png">'; f.appendChild(d); } }
more();
new IntersectionObserver(function (seen) { if (seen.some(function (e) { return e.isIntersecting; }))
  setTimeout(more, 50); }).observe(document.getElementById('end'));
</script>)HTML";

const QByteArray Credentials = "Basic " + QByteArray("user:secret").toBase64();

} // namespace

class TestWindowItems : public QObject {
    Q_OBJECT

private:
    TestHttpServer m_server;
    std::unique_ptr<TForm1> m_form;
    QList<QPointer<QMessageBox>> m_boxes;
    QStringList m_dialogAnswers;
    QTemporaryDir m_dir;

    QString url(const QString& path) const { return m_server.urlText(path); }

    void openForm(const QString& settingsFile = {}) {
        TForm1::Options o;
        o.adListUrl = m_server.url(QStringLiteral("/ads.txt"));
        o.pageTimeoutMs = 20000;
        o.collectTimeoutMs = 5000;
        o.settingsFile = settingsFile;
        // Each case its own download history: a file saved by an earlier case is no copy of its own.
        o.historyFile = m_dir.filePath(QStringLiteral("history-%1.sqlite3")
                                           .arg(QString::fromLatin1(QTest::currentDataTag()).toHtmlEscaped()
                                                    .replace(u' ', u'-')));
        m_form = std::make_unique<TForm1>(o);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    // The texts of the message boxes open now.
    QStringList boxTexts() const {
        QStringList texts;
        for (const QPointer<QMessageBox>& box : m_boxes)
            if (box && box->isVisible())
                texts.append(box->text());
        return texts;
    }

    bool analyse(const QString& text) {
        m_form->Memo1->setPlainText(text);
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        return done.wait(60000) || done.size() == 1;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        QVERIFY(m_dir.isValid());
        m_server.route(QStringLiteral("/ads.txt"), TestHttpResponse::error(404));
        m_server.route(QStringLiteral("/a.html"),
                       TestHttpResponse::html("<a href='/p1.html'>1</a><img src='/one.jpg'>"));
        m_server.route(QStringLiteral("/b.html"),
                       TestHttpResponse::html("<a href='/p2.html'>2</a><embed src='/m.swf'>"));
        m_server.route(QStringLiteral("/c.html"), TestHttpResponse::html("<a href='/p3.html'>3</a>"));
        m_server.route(QStringLiteral("/slow.html"), [](const TestHttpRequest&) {
            TestHttpResponse r;
            r.hang = true;
            return r;
        });
        m_server.route(QStringLiteral("/feed.html"), TestHttpResponse::html(FeedPage));
        m_server.route(QStringLiteral("/members.html"), TestHttpResponse::redirect(302, "/login.html"));
        m_server.route(QStringLiteral("/login.html"),
                       TestHttpResponse::html("<form method=post><input name=id><input type=password name=pw>"
                                              "</form><a href='/forgot.html'>?</a>"));
        m_server.route(QStringLiteral("/stuck.jpg"), [](const TestHttpRequest&) {
            TestHttpResponse r;
            r.hang = true;
            return r;
        });
        m_server.route(QStringLiteral("/moved.html"), TestHttpResponse::redirect(302, "/c.html"));
        m_server.route(QStringLiteral("/private/photo.jpg"), [](const TestHttpRequest& request) {
            if (request.header("authorization") == Credentials)
                return TestHttpResponse::withType("image/jpeg", "PHOTO");
            return TestHttpResponse::error(401, "<p>log in</p>");
        });
        m_server.route(QStringLiteral("/private/index.html"), [](const TestHttpRequest& request) {
            if (request.header("authorization") == Credentials)
                return TestHttpResponse::html("<a href='list.html'>l</a><img src='photo.jpg'>");
            TestHttpResponse refused = TestHttpResponse::error(401, "<p>log in</p>");
            refused.headers.append(
                qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"members\"")));
            return refused;
        });
    }

    void init() {
        m_boxes.clear();
        m_dialogAnswers.clear();
        AppMessages::setOpenHook([this](QMessageBox* box) { m_boxes.append(box); });
        FileDialogs::setAnswerHook([this](QFileDialog*) {
            return m_dialogAnswers.isEmpty() ? QString() : m_dialogAnswers.takeFirst();
        });
    }

    void cleanup() {
        m_form.reset();
        AppMessages::setOpenHook({});
        FileDialogs::setAnswerHook({});
        for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
            delete box.data();
        m_server.clearLog();
    }

    // The label at the end, the report of the pages that failed, and what the lists hold.
    void endOfAnAnalysis_data() {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<bool>("scroll");
        QTest::addColumn<bool>("stopByEscape");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("reason"); // in the report; empty: no report
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("files");

        QTest::newRow("a 401 needs a log-in")
            << QStringList{"/private/index.html"} << false << false << "完　了"
            << "認証が必要です" << 0 << 0;
        QTest::newRow("moved to a log-in page")
            << QStringList{"/members.html"} << false << false << "完　了"
            << QStringLiteral("認証が必要です（ログインのページ %1 に移動しました）").arg(url("/login.html"))
            << 1 << 0;
        QTest::newRow("moved to a page without a password box")
            << QStringList{"/moved.html"} << false << false << "完　了" << QString() << 1 << 0;
        QTest::newRow("a page that grows as it is scrolled, scrolled")
            << QStringList{"/feed.html"} << true << false << "完　了" << QString() << 50 << 50;
        QTest::newRow("the same page not scrolled")
            << QStringList{"/feed.html"} << false << false << "完　了" << QString() << 10 << 10;
        QTest::newRow("Escape stops behind a page that never answers")
            << QStringList{"/a.html", "/slow.html", "/b.html", "/c.html"} << false << true
            << "中止 ・ 未解析 3 ページ" << QString() << 1 << 1;
    }

    void endOfAnAnalysis() {
        QFETCH(QStringList, paths);
        QFETCH(bool, scroll);
        QFETCH(bool, stopByEscape);
        QFETCH(QString, label);
        QFETCH(QString, reason);
        QFETCH(int, pages);
        QFETCH(int, files);
        openForm();
        if (m_form->Scroll1->isChecked() != scroll)
            m_form->Scroll1->trigger();
        QStringList lines;
        for (const QString& path : paths)
            lines.append(url(path));
        m_form->Memo1->setPlainText(lines.join(u'\n'));
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        if (stopByEscape) {
            // Once the first page is in the lists, the second keeps the rest waiting.
            QTRY_COMPARE_WITH_TIMEOUT(entries(m_form->ListBox1).size(), 1, 30000);
            QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor(QStringLiteral("/slow.html")).size(), 1, 30000);
            QTest::keyClick(m_form->Memo1, Qt::Key_Escape);
        }
        QVERIFY(done.wait(90000) || done.size() == 1);
        QCOMPARE(done.first().first().toBool(), stopByEscape);
        QCOMPARE(m_form->Label1->text(), label);
        QVERIFY(!m_form->Label1->wordWrap());
        const QStringList reports = boxTexts();
        if (reason.isEmpty()) {
            QVERIFY2(reports.isEmpty(), qPrintable(reports.join(u'\n')));
        } else {
            QCOMPARE(reports.size(), 1);
            QVERIFY2(reports.first().contains(reason), qPrintable(reports.first()));
            // The engine's numbers never reach the reader.
            QVERIFY2(!reports.first().contains(QStringLiteral("エラー番号")), qPrintable(reports.first()));
        }
        QCOMPARE(entries(m_form->ListBox1).size(), pages);
        QCOMPARE(m_form->GroupBox2->records(false).size(), files);
    }

    // The password of an address opens the page and is never shown or written down.
    void passwordIsNeverKept_data() {
        QTest::addColumn<QString>("typed");
        const QString address = url("/private/index.html");
        const QString hostAndPath = address.mid(address.indexOf(QLatin1String("://")) + 3);
        QTest::newRow("with its scheme") << "http://user:secret@" + hostAndPath;
        QTest::newRow("without a scheme") << "user:secret@" + hostAndPath;
        QTest::newRow("among other lines") << url("/c.html") + "\n  http://user:secret@" + hostAndPath + "  ";
    }

    void passwordIsNeverKept() {
        QFETCH(QString, typed);
        const QString settings = m_dir.filePath(QStringLiteral("password.ini"));
        QFile::remove(settings);
        openForm(settings);
        QVERIFY(analyse(typed));
        // The page was opened with the password: its records are there.
        QVERIFY(!m_server.requestsFor(QStringLiteral("/private/index.html")).isEmpty());
        const QStringList pages = entries(m_form->ListBox1);
        const QStringList files = entries(m_form->ListBox2);
        QVERIFY2(pages.filter(QStringLiteral("list.html")).size() == 1, qPrintable(pages.join(u'\n')));
        QVERIFY2(files.filter(QStringLiteral("photo.jpg")).size() == 1, qPrintable(files.join(u'\n')));
        QVERIFY(boxTexts().isEmpty());
        // Shown nowhere: not in the lists, not in the label.
        for (const QString& shown :
             pages + files + QStringList{m_form->Label1->text(), m_form->Label1->toolTip()})
            QVERIFY2(!shown.contains(QStringLiteral("secret")), qPrintable(shown));
        // What the page listed downloads with the password, as the page loaded.
        const QString folder = m_dir.filePath(QStringLiteral("private-%1").arg(QTest::currentDataTag()));
        m_form->foruda->setText(folder);
        m_form->ListBox2->selectAll();
        QTest::mouseClick(m_form->Button4, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/photo.jpg")), 20000);
        // Not written: neither in an export nor in the settings file (recent inputs).
        const QString exported = m_dir.filePath(QStringLiteral("password.csv"));
        m_dialogAnswers = {exported};
        m_form->SaveResults1->trigger();
        QTRY_VERIFY(QFile::exists(exported));
        m_form->close();
        m_form.reset();
        for (const QString& path : {exported, settings}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray content = file.readAll();
            QVERIFY2(!content.contains("secret"), content.constData());
            QVERIFY2(content.contains("user@"), content.constData());
        }
    }

    // 結果を保存… then 結果を開く… gives the lists back as they were; a list of plain addresses is
    // refused and changes nothing.
    void savedResultsOpenAgain_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("restores");
        QTest::newRow("CSV") << "results.csv" << true;
        QTest::newRow("JSON lines") << "results.jsonl" << true;
        QTest::newRow("plain addresses") << "results.txt" << false;
    }

    void savedResultsOpenAgain() {
        QFETCH(QString, fileName);
        QFETCH(bool, restores);
        openForm();
        QVERIFY(analyse(url("/a.html") + '\n' + url("/b.html")));
        const QStringList pages = entries(m_form->ListBox1);
        const QStringList files = entries(m_form->ListBox2);
        QCOMPARE(pages.size(), 2);
        QCOMPARE(files.size(), 2);
        const QString path = m_dir.filePath(fileName);
        QFile::remove(path);
        m_dialogAnswers = {path};
        m_form->SaveResults1->trigger();
        QTRY_VERIFY(QFile::exists(path));

        // Other results in the lists meanwhile.
        QVERIFY(analyse(url("/c.html")));
        const QStringList other = entries(m_form->ListBox1);
        m_dialogAnswers = {path};
        m_form->OpenResults1->trigger();
        if (restores) {
            QTRY_COMPARE(entries(m_form->ListBox1), pages);
            QCOMPARE(entries(m_form->ListBox2), files);
            QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ (2)"));
            QVERIFY(boxTexts().isEmpty());
            // The page each was found on came back too: the Referer of its download.
            QVERIFY(m_form->GroupBox2->selectedItems().isEmpty());
            const QList<DownloadRequestItem> shown = m_form->GroupBox2->shownItems();
            QCOMPARE(shown.size(), 2);
            QCOMPARE(shown.first().referer, url("/a.html"));
        } else {
            QTRY_COMPARE(boxTexts().size(), 1);
            QVERIFY2(boxTexts().first().contains(QStringLiteral("ネピリカの結果")),
                     qPrintable(boxTexts().first()));
            QCOMPARE(entries(m_form->ListBox1), other);
        }
    }

    // Two downloads at once: each window names its folder, and the second stands beside the first.
    // F1 opens the user's guide.
    void downloadWindowsAndGuide() {
        openForm();
        QTest::keyClick(m_form->Memo1, Qt::Key_F1);
        QTRY_VERIFY(m_form->Help1->guideWindow() && m_form->Help1->guideWindow()->isVisible());
        const auto* text = m_form->Help1->guideWindow()->findChild<QTextBrowser*>();
        QVERIFY(text);
        QVERIFY(text->toPlainText().contains(QStringLiteral("解析開始")));
        QVERIFY(!text->toPlainText().contains(QStringLiteral("nepirika harvest [--json]")));
        m_form->Help1->guideWindow()->close();

        const QList<DownloadRequestItem> items{{url("/stuck.jpg"), url("/a.html")}};
        DownloadCommand::start(m_form.get(), items, m_dir.filePath(QStringLiteral("旅行の写真")), m_form->WB1,
                               1);
        DownloadCommand::start(m_form.get(), items, m_dir.filePath(QStringLiteral("DL")), m_form->WB1, 1);
        const QList<DownloadProgressDialog*> windows =
            m_form->findChildren<DownloadProgressDialog*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(windows.size(), 2);
        QVERIFY2(windows[0]->windowTitle().contains(QStringLiteral("旅行の写真")),
                 qPrintable(windows[0]->windowTitle()));
        QVERIFY2(windows[1]->windowTitle().contains(QStringLiteral("DL")),
                 qPrintable(windows[1]->windowTitle()));
        // The whole folder inside the window.
        QVERIFY(windows[0]->folderText().endsWith(
            QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("旅行の写真")))));
        // Side by side where the screen has room for both; never one exactly on top of the other.
        const QRect first = windows[0]->frameGeometry(), second = windows[1]->frameGeometry();
        const QRect area = windows[0]->screen()->availableGeometry();
        QVERIFY(first.topLeft() != second.topLeft());
        if (area.width() >= first.width() + second.width() + 16 ||
            area.height() >= first.height() + second.height() + 16)
            QVERIFY2(!first.intersects(second), qPrintable(QStringLiteral("%1,%2 %3,%4 in %5x%6")
                                                               .arg(first.x())
                                                               .arg(first.y())
                                                               .arg(second.x())
                                                               .arg(second.y())
                                                               .arg(area.width())
                                                               .arg(area.height())));
        for (DownloadProgressDialog* window : windows)
            window->cancelButton()->click();
        QTRY_COMPARE(m_form->findChildren<DownloadProgressDialog*>(Qt::FindDirectChildrenOnly).size(), 0);
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestWindowItems)
#include "tst_windowitems.moc"
