#include "AppMessages.h"
#include "DownloadCommand.h"
#include "DownloadProgressDialog.h"
#include "DownloadQueue.h"
#include "DownloadQueueOffer.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

struct ShownBox {
    QMessageBox::Icon icon;
    QString text;
    QStringList buttons;
};

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

DownloadProgressDialog* progressWindow() {
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* dialog = qobject_cast<DownloadProgressDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

} // namespace

class TestDownloadCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void nothingSelected();
    void noticeCountsSuccessesAndFailures();
    void longFailureListIsCut();
    void folderCannotBeCreated();
    void cancelStopsWhatRemains();
    void unwritableRecordIsTold();
    void keptBatchOffered_data();
    void keptBatchOffered();
    void requestsCarryTheBrowsersIdentity();
    void failuresCanBeRetried();
    void failureListSaved();

private:
    QList<ShownBox> m_boxes;
    // The button that the next box is answered with; empty answers OK.
    QString m_answer;
    TestHttpServer m_server;
    QWidget* m_window = nullptr;
};

void TestDownloadCommand::initTestCase() {
    QVERIFY(m_server.start());
    AppMessages::setOpenHook([this](QMessageBox* box) {
        // The command adds its own buttons right after the box has opened.
        QTimer::singleShot(0, box, [this, box] {
            QStringList buttons;
            QAbstractButton* answer = nullptr;
            const auto all = box->buttons();
            for (QAbstractButton* button : all) {
                buttons.append(button->text());
                if (button->text() == m_answer)
                    answer = button;
            }
            m_boxes.append({box->icon(), box->text(), buttons});
            m_answer.clear();
            if (answer)
                answer->click();
            else
                box->accept();
        });
    });
}

void TestDownloadCommand::init() {
    m_boxes.clear();
    m_answer.clear();
    m_window = new QWidget;
    m_window->show();
}

void TestDownloadCommand::cleanup() {
    delete m_window;
    m_window = nullptr;
}

void TestDownloadCommand::nothingSelected() {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("program/DL"));
    DownloadCommand::start(m_window, {}, folder, nullptr);
    QTRY_COMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(m_boxes[0].text, QStringLiteral("ダウンロードが完了しました\n成功 0 件、失敗 0 件"));
    QVERIFY(QFileInfo(folder).isDir());
}

void TestDownloadCommand::noticeCountsSuccessesAndFailures() {
    m_server.route(QStringLiteral("/a/logo.gif"), TestHttpResponse::withType("image/gif", "first"));
    m_server.route(QStringLiteral("/b/logo.gif"), TestHttpResponse::withType("image/gif", "second"));
    TestHttpResponse slow = TestHttpResponse::withType("image/png", "slow");
    slow.delayMs = 300;
    m_server.route(QStringLiteral("/c.png"), slow);
    // 無い.jpg, percent-encoded as a page would hold it.
    const QString missing = m_server.urlText(QStringLiteral("/%E7%84%A1%E3%81%84.jpg"));
    const QString ftp = QStringLiteral("ftp://127.0.0.1/file.zip");
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("DL"));
    DownloadCommand::start(m_window,
                           {{m_server.urlText(QStringLiteral("/a/logo.gif")), QString()},
                            {missing, QString()},
                            {m_server.urlText(QStringLiteral("/b/logo.gif")), QString()},
                            {ftp, QString()},
                            {m_server.urlText(QStringLiteral("/c.png")), QString()}},
                           folder, nullptr);
    // While it runs, the modal progress window shows the count.
    DownloadProgressDialog* dialog = progressWindow();
    QVERIFY(dialog);
    // Not modal: the main window can still be closed while it runs.
    QVERIFY(!dialog->isModal());
    QVERIFY(dialog->countText().endsWith(QStringLiteral("/ 5 ファイル")));
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 15000);
    QVERIFY(!progressWindow());
    const QString text = m_boxes[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("ダウンロードが完了しました\n成功 3 件、失敗 2 件\n")),
             qPrintable(text));
    // Failed addresses read as the lists show them.
    QVERIFY2(text.contains(m_server.urlText(QStringLiteral("/")) + QStringLiteral("無い.jpg — ")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("404")));
    // The file that got a number because its name was taken is named.
    QVERIFY(text.contains(QStringLiteral("番号を付けて保存しました（1 件）:\nlogo (2).gif\n")));
    QVERIFY(text.contains(ftp + QStringLiteral(" — ")));
    QCOMPARE(entries(folder), (QStringList{QStringLiteral("c.png"), QStringLiteral("logo (2).gif"),
                                           QStringLiteral("logo.gif")}));
}

void TestDownloadCommand::longFailureListIsCut() {
    QList<DownloadRequestItem> items;
    for (int i = 0; i < 25; ++i)
        items.append({m_server.urlText(QStringLiteral("/gone/%1.jpg").arg(i)), QString()});
    QTemporaryDir dir;
    DownloadCommand::start(m_window, items, dir.path(), nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 15000);
    const QString text = m_boxes[0].text;
    QVERIFY(text.contains(QStringLiteral("成功 0 件、失敗 25 件")));
    QCOMPARE(text.count(QStringLiteral(" — ")), 20);
    QVERIFY(text.contains(m_server.urlText(QStringLiteral("/gone/19.jpg"))));
    QVERIFY(!text.contains(m_server.urlText(QStringLiteral("/gone/20.jpg"))));
    QVERIFY(text.endsWith(QStringLiteral("ほか 5 件")));
}

void TestDownloadCommand::folderCannotBeCreated() {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("program")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_server.clearLog();
    DownloadCommand::start(m_window, {{m_server.urlText(QStringLiteral("/a/logo.gif")), QString()}},
                           dir.filePath(QStringLiteral("program/DL")), nullptr);
    QTRY_COMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(m_boxes[0].text, QStringLiteral("ダウンロード先のフォルダ「%1」を作成できません。")
                                  .arg(QDir::toNativeSeparators(dir.filePath(QStringLiteral("program/DL")))));
    QVERIFY(!progressWindow());
    QTest::qWait(100);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_server.requests().isEmpty());
}

void TestDownloadCommand::keptBatchOffered_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("recordKept");
    QTest::newRow("continued") << QStringLiteral("前回のダウンロードを再開")
                               << QStringList{QStringLiteral("a.gif"), QStringLiteral("b.gif"),
                                              QStringLiteral("c.gif")}
                               << false;
    QTest::newRow("discarded") << QStringLiteral("破棄") << QStringList{QStringLiteral("a.gif")} << false;
    QTest::newRow("left for later") << QStringLiteral("あとで") << QStringList{QStringLiteral("a.gif")}
                                    << true;
}

// A batch that an earlier run left unfinished is offered at the start; continued, it fetches
// only what was not saved, with the same Referer, into the same folder.
void TestDownloadCommand::keptBatchOffered() {
    QFETCH(QString, answer);
    QFETCH(QStringList, files);
    QFETCH(bool, recordKept);
    QDir(DownloadQueue::queuesFolder()).removeRecursively();
    for (const char* name : {"a", "b", "c"})
        m_server.route(QStringLiteral("/kept/%1.gif").arg(QLatin1String(name)),
                       TestHttpResponse::withType("image/gif", name));
    QTemporaryDir dir;
    DownloadQueue queue;
    queue.folder = dir.filePath(QStringLiteral("DL"));
    QVERIFY(QDir().mkpath(queue.folder));
    QFile saved(queue.folder + QStringLiteral("/a.gif"));
    QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write("a") == 1);
    saved.close();
    const QString page = m_server.urlText(QStringLiteral("/page.html"));
    using State = DownloadQueue::Entry::State;
    queue.entries = {
        {m_server.urlText(QStringLiteral("/kept/a.gif")), page, {}, State::Claimed, QStringLiteral("a.gif")},
        {m_server.urlText(QStringLiteral("/kept/b.gif")), page, {}, State::Claimed, QStringLiteral("b.gif")},
        {m_server.urlText(QStringLiteral("/kept/c.gif")), page, {}, State::Waiting, {}}};
    queue.batch = QStringLiteral("kept1");
    const QString record = DownloadQueue::fileFor(queue.folder, queue.batch);
    QString error;
    QVERIFY2(queue.write(record, &error), qPrintable(error));
    // A second batch kept for the same folder, begun later: offered after the first, whatever the
    // answer to the first.
    DownloadQueue later = queue;
    later.batch = QStringLiteral("kept2");
    later.entries = {{m_server.urlText(QStringLiteral("/kept/d.gif")), page, {}, State::Waiting, {}}};
    const QString laterRecord = DownloadQueue::fileFor(later.folder, later.batch);
    QVERIFY2(later.write(laterRecord, &error), qPrintable(error));
    {
        QFile file(laterRecord);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(
            file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    }
    m_server.clearLog();

    m_answer = answer;
    DownloadQueueOffer::offer(m_window, nullptr);
    QTRY_VERIFY(!m_boxes.isEmpty());
    QVERIFY2(m_boxes[0].text.contains(QStringLiteral("残り 2 件（保存済み 1 件）")),
             qPrintable(m_boxes[0].text));
    QVERIFY(m_boxes[0].buttons.contains(QStringLiteral("破棄")));
    QTRY_VERIFY(m_boxes.size() >= 2);
    QVERIFY2(m_boxes[1].text.contains(QStringLiteral("（2 / 2）")) &&
                 m_boxes[1].text.contains(QStringLiteral("残り 1 件（保存済み 0 件）")),
             qPrintable(m_boxes[1].text));
    if (answer == QStringLiteral("前回のダウンロードを再開")) {
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 3, 15000);
        QVERIFY2(m_boxes[2].text.contains(QStringLiteral("成功 2 件、失敗 0 件")),
                 qPrintable(m_boxes[2].text));
    }
    QVERIFY(QFile::exists(laterRecord));
    QTest::qWait(100);
    QCOMPARE(entries(queue.folder), files);
    QVERIFY(m_server.requestsFor(QStringLiteral("/kept/a.gif")).isEmpty());
    if (!m_server.requests().isEmpty())
        QCOMPARE(m_server.requestsFor(QStringLiteral("/kept/b.gif")).value(0).header("referer"),
                 page.toUtf8());
    QCOMPARE(QFile::exists(record), recordKept);
}

void TestDownloadCommand::cancelStopsWhatRemains() {
    TestHttpResponse trickle =
        TestHttpResponse::withType("application/octet-stream", QByteArray(1024 * 1024, 'x'));
    trickle.bytesPerSecond = 64 * 1024;
    m_server.route(QStringLiteral("/trickle"), trickle);
    QList<DownloadRequestItem> items;
    for (int i = 0; i < 8; ++i)
        items.append({m_server.urlText(QStringLiteral("/trickle?part=%1").arg(i)), QString()});
    // An address far wider than the window, 写真 encoded many times over, then its own end.
    items[1].url = m_server.urlText(QStringLiteral("/trickle?name=") +
                                    QString(QStringLiteral("%E5%86%99%E7%9C%9F")).repeated(60) +
                                    QStringLiteral("&end=tail"));
    QTemporaryDir dir;
    DownloadCommand::start(m_window, items, dir.path(), nullptr);
    DownloadProgressDialog* dialog = progressWindow();
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->currentText().split(u'\n').size() == 6, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->bytesText().endsWith(QStringLiteral(" 0 bytes")), 5000);
    QCOMPARE(dialog->countText(), QStringLiteral("0 / 8 ファイル"));
    QVERIFY(dialog->currentText().startsWith(items[0].url));
    // Read as the lists show it, shortened in the middle: its beginning and its end both show.
    const QString second = dialog->currentText().section(u'\n', 1, 1);
    QVERIFY2(second.startsWith(m_server.urlText(QStringLiteral("/trickle?"))), qPrintable(second));
    QVERIFY2(second.endsWith(QStringLiteral("写真&end=tail")) && second.contains(QStringLiteral("…")),
             qPrintable(second));
    QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 5000);
    const QString text = m_boxes[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("ダウンロードを中止しました\n成功 0 件、失敗 8 件\n")),
             qPrintable(text));
    QCOMPARE(text.count(QStringLiteral("中止しました")), 9);
    QTRY_VERIFY(!progressWindow());
    QVERIFY(entries(dir.path()).isEmpty());
}

// A batch whose record cannot be written says so at once, and counts as one that could not be
// continued if the window closed now.
void TestDownloadCommand::unwritableRecordIsTold() {
    TestHttpResponse trickle =
        TestHttpResponse::withType("application/octet-stream", QByteArray(256 * 1024, 'u'));
    trickle.bytesPerSecond = 32 * 1024;
    m_server.route(QStringLiteral("/unrecorded.bin"), trickle);
    QTemporaryDir dataHome;
    // The window tests run as a portable copy: its data folder is "data" under NEPIRIKA_FILES.
    QFile blocker(dataHome.filePath(QStringLiteral("data")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray before = qgetenv("NEPIRIKA_FILES");
    qputenv("NEPIRIKA_FILES", dataHome.path().toUtf8());
    QTemporaryDir dir;
    DownloadCommand::start(m_window, {{m_server.urlText(QStringLiteral("/unrecorded.bin")), QString()}},
                           dir.path(), nullptr);
    qputenv("NEPIRIKA_FILES", before);
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 5000);
    QCOMPARE(m_boxes[0].icon, QMessageBox::Critical);
    QVERIFY2(m_boxes[0].text.contains(QStringLiteral("中断したときは続けられません")),
             qPrintable(m_boxes[0].text));
    const DownloadCommand::Running running = DownloadCommand::running(m_window);
    QCOMPARE(running.downloads, 1);
    QCOMPARE(running.unrecorded, 1);
    DownloadCommand::stopAll(m_window);
    QVERIFY(!progressWindow());
    QCOMPARE(DownloadCommand::running(m_window).downloads, 0);
}

void TestDownloadCommand::requestsCarryTheBrowsersIdentity() {
    TWebBrowser browser;
    QVERIFY(!browser.userAgent().isEmpty());
    QVERIFY(browser.cookieJar());
    browser.cookieJar()->setCookiesFromUrl({QNetworkCookie("visit", "42")},
                                           m_server.url(QStringLiteral("/")));
    m_server.route(QStringLiteral("/img/p.jpg"), TestHttpResponse::withType("image/jpeg", "jpeg"));
    m_server.clearLog();
    const QString page = m_server.urlText(QStringLiteral("/gallery/index.html"));
    QTemporaryDir dir;
    DownloadCommand::start(m_window, {{m_server.urlText(QStringLiteral("/img/p.jpg")), page}}, dir.path(),
                           &browser);
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 10000);
    QVERIFY(m_boxes[0].text.contains(QStringLiteral("成功 1 件、失敗 0 件")));
    const QList<TestHttpRequest> requests = m_server.requestsFor(QStringLiteral("/img/p.jpg"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].header("user-agent"), browser.userAgent());
    QCOMPARE(requests[0].header("referer"), page.toUtf8());
    QVERIFY(requests[0].header("cookie").contains("visit=42"));
}

void TestDownloadCommand::failuresCanBeRetried() {
    // Missing at first, there the second time.
    auto calls = std::make_shared<std::atomic<int>>(0);
    m_server.route(QStringLiteral("/later/pic.jpg"), [calls](const TestHttpRequest&) {
        if (calls->fetch_add(1) == 0)
            return TestHttpResponse::error(404);
        return TestHttpResponse::withType("image/jpeg", "finally");
    });
    m_server.route(QStringLiteral("/now/ok.jpg"), TestHttpResponse::withType("image/jpeg", "ok"));
    QTemporaryDir dir;
    m_answer = QStringLiteral("失敗したものを再試行");
    DownloadCommand::start(m_window,
                           {{m_server.urlText(QStringLiteral("/now/ok.jpg")), QString()},
                            {m_server.urlText(QStringLiteral("/later/pic.jpg")), QString()}},
                           dir.path(), nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 2, 15000);
    QVERIFY2(m_boxes[0].text.contains(QStringLiteral("成功 1 件、失敗 1 件")), qPrintable(m_boxes[0].text));
    QVERIFY(m_boxes[0].buttons.contains(QStringLiteral("失敗したものを再試行")));
    QVERIFY(m_boxes[0].buttons.contains(QStringLiteral("失敗の一覧を保存…")));
    // Only the failed one is fetched again; nothing is left to retry after it.
    QVERIFY2(m_boxes[1].text.contains(QStringLiteral("成功 1 件、失敗 0 件")), qPrintable(m_boxes[1].text));
    QVERIFY(!m_boxes[1].buttons.contains(QStringLiteral("失敗したものを再試行")));
    QVERIFY(m_boxes[1].buttons.contains(QStringLiteral("OK")));
    QVERIFY(m_boxes[1].buttons.contains(QStringLiteral("フォルダを開く")));
    QCOMPARE(calls->load(), 2);
    QCOMPARE(entries(dir.path()), (QStringList{QStringLiteral("ok.jpg"), QStringLiteral("pic.jpg")}));
}

void TestDownloadCommand::failureListSaved() {
    DownloadResults results(3);
    results[0].url = QStringLiteral("http://a.example/ok.jpg");
    results[0].status = DownloadResult::Status::Succeeded;
    results[1].url = QStringLiteral("http://a.example/missing.jpg");
    results[1].message = QStringLiteral("サーバーがエラーを返しました (HTTP 404)");
    results[2].url = QStringLiteral("http://b.example/x.png");
    results[2].message = QStringLiteral("中止しました");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("failed.txt"));
    QString error;
    QVERIFY2(DownloadCommand::writeFailureList(path, results, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("http://a.example/missing.jpg\tサーバーがエラーを返しました (HTTP 404)\r\n"
                            "http://b.example/x.png\t中止しました\r\n"));
    // A folder that does not exist: a reason, and no file.
    QVERIFY(
        !DownloadCommand::writeFailureList(dir.filePath(QStringLiteral("none/failed.txt")), results, &error));
    QVERIFY(error.contains(QStringLiteral("failed.txt")));
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("ネピリカ"));
    TestDownloadCommand test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_downloadcommand.moc"
