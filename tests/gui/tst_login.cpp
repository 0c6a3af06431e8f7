// The window's log-in: a cookie file read into its browser profile, the browser window on that
// profile (opened twice, closed during a load, open during an analysis), the log-ins cleared after a
// question, and the profile kept on disk for the next start and for `--use-window-login`.

#include "AppMessages.h"
#include "BrowserProfileFolder.h"
#include "FileDialogs.h"
#include "GuiTestMain.h"
#include "LoginActions.h"
#include "LoginBrowserWindow.h"
#include "ProgramRun.h"
#include "ResultListContextMenu.h"
#include "TForm1.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "WindowLoginCookies.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QListView>
#include <QMessageBox>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <memory>

class TestLogin : public QObject {
    Q_OBJECT

private:
    TestHttpServer m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<TForm1> m_form;
    QList<QPointer<QMessageBox>> m_boxes;
    QString m_cookieFile;

    QString url(const char* path) const { return m_server.urlText(QString::fromLatin1(path)); }
    static QString folder() { return BrowserProfileFolder::window(); }

    void openForm() {
        TForm1::Options o;
        o.adListUrl = m_server.url(QStringLiteral("/ads.txt"));
        o.pageTimeoutMs = 20000;
        o.browserFolder = folder();
        m_form = std::make_unique<TForm1>(o);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    QMessageBox* openBox() const {
        for (const QPointer<QMessageBox>& box : m_boxes)
            if (box && box->isVisible())
                return box;
        return nullptr;
    }

    QStringList jarNames() const {
        QStringList names;
        for (const QNetworkCookie& c :
             m_form->WB1->cookieJar()->cookiesForUrl(m_server.url(QStringLiteral("/"))))
            names.append(QString::fromLatin1(c.name()));
        names.sort();
        return names;
    }

    bool analyse(const QString& text) {
        m_form->Memo1->setPlainText(text);
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        return done.wait(60000) || done.size() == 1;
    }

    // The cookies of the last request for target, sorted (those of one path go oldest first, and
    // cookies set within one moment may be taken as of the same age).
    QByteArray lastCookie(const char* target) const {
        const QList<TestHttpRequest> seen = m_server.requestsFor(QString::fromLatin1(target));
        if (seen.isEmpty())
            return "(none)";
        QList<QByteArray> pairs = seen.last().header("cookie").split(';');
        for (QByteArray& p : pairs)
            p = p.trimmed();
        std::sort(pairs.begin(), pairs.end());
        return pairs.join("; ");
    }

    void loadCookieFile() {
        FileDialogs::setAnswerHook([this](QFileDialog*) { return m_cookieFile; });
        m_form->Login->LoadCookies->trigger();
        QTRY_VERIFY(openBox());
        const QString text = openBox()->text();
        QVERIFY2(text.contains(QStringLiteral("2 件")) && text.contains(m_cookieFile + QStringLiteral(":3:")),
                 qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("Zq8secret")));
        openBox()->accept();
        QTRY_COMPARE(jarNames(), (QStringList{"keep", "sid"}));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        QDir(folder()).removeRecursively();
        m_server.route(QStringLiteral("/ads.txt"), TestHttpResponse::error(404));
        m_server.route(QStringLiteral("/page.html"),
                       TestHttpResponse::html("<title>p</title><a href=\"linked.html\">l</a>"));
        m_server.route(QStringLiteral("/linked.html"), TestHttpResponse::html("<title>l</title>"));
        TestHttpResponse slow = TestHttpResponse::html("<title>slow</title>");
        slow.delayMs = 4000;
        m_server.route(QStringLiteral("/slow.html"), slow);
        m_cookieFile = m_dir.filePath(QStringLiteral("cookies.txt"));
        QFile f(m_cookieFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n"
                "127.0.0.1\tFALSE\t/\tFALSE\tsoon\tbad\tZq8secret\n"
                "127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tkeep\tk1\n");
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        AppMessages::setOpenHook([this](QMessageBox* box) { m_boxes.append(box); });
    }

    void cleanup() {
        m_form.reset();
        FileDialogs::setAnswerHook({});
        for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
            delete box.data();
        m_boxes.clear();
    }

    // Cookies read from a file go with the hidden pages and the browser window; the browser window
    // is one, safe to close during a load and to leave open during an analysis; clearing forgets all.
    void loadBrowseAndClear() {
        openForm();
        loadCookieFile();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(analyse(url("/page.html")));
        QCOMPARE(lastCookie("/page.html"), QByteArray("keep=k1; sid=abc"));

        // From the right-click menu of a linked page; then again from the menu: the same window.
        m_form->Memo1->setPlainText(url("/page.html"));
        m_form->ListBox1->selectionModel()->select(m_form->ListBox1->model()->index(0, 0),
                                                   QItemSelectionModel::ClearAndSelect);
        m_server.clearLog();
        m_form->ListMenu1->OpenInLoginBrowser->trigger();
        QPointer<LoginBrowserWindow> browser = m_form->Login->browserWindow();
        QVERIFY(browser);
        QTRY_COMPARE(lastCookie("/linked.html"), QByteArray("keep=k1; sid=abc"));
        m_form->Login->OpenBrowser->trigger();
        QCOMPARE(m_form->Login->browserWindow(), browser.data());
        QTRY_COMPARE(lastCookie("/page.html"), QByteArray("keep=k1; sid=abc"));
        QTRY_COMPARE(browser->shownUrl().toString(), url("/page.html"));
        // 入力欄へ: the shown page's address.
        m_form->Memo1->clear();
        for (QToolButton* b : browser->findChildren<QToolButton*>())
            if (b->text() == QStringLiteral("入力欄へ"))
                b->click();
        QCOMPARE(m_form->Memo1->toPlainText().trimmed(), url("/page.html"));

        // Open during an analysis; then closed during a load.
        QVERIFY(analyse(url("/linked.html")));
        browser->open(QUrl(url("/slow.html")));
        QTRY_VERIFY(!m_server.requestsFor(QStringLiteral("/slow.html")).isEmpty());
        browser->close();
        QTRY_VERIFY(!browser);

        // Cleared after the question: nothing is sent any more.
        m_form->Login->ClearLogIns->trigger();
        QTRY_VERIFY(openBox());
        QMessageBox* question = openBox();
        for (QAbstractButton* b : question->buttons())
            if (b->text() == QStringLiteral("消去"))
                b->click();
        QTRY_VERIFY(jarNames().isEmpty());
        m_server.clearLog();
        QVERIFY(analyse(url("/page.html")));
        QCOMPARE(lastCookie("/page.html"), QByteArray());
    }

    // The profile lives in the user's data folder, owner-only; its cookies, session cookies too,
    // are there at the next start, and `nepirika download --use-window-login` sends them without
    // changing the profile.
    void keptForTheNextStartAndTheCommandLine() {
        openForm();
        QSignalSpy stored(m_form->WB1->profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded);
        loadCookieFile();
        if (QTest::currentTestFailed())
            return;
        // The engine takes them without a page being loaded.
        QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 2, 20000);
        m_form.reset();
        QCOMPARE(QFile::permissions(folder()) & 0x0077, QFileDevice::Permissions());
        // The engine writes its store once the profile goes.
        QTRY_COMPARE_WITH_TIMEOUT(WindowLoginCookies::read(folder()).cookies.size(), 2, 20000);
        openForm();
        QVERIFY(analyse(url("/page.html")));
        QCOMPARE(lastCookie("/page.html"), QByteArray("keep=k1; sid=abc"));
        m_form.reset();

        const QString database = QDir(folder()).filePath(QStringLiteral("Cookies"));
        const auto digest = [&] {
            QFile f(database);
            return f.open(QIODevice::ReadOnly)
                       ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                       : QByteArray();
        };
        const QByteArray before = digest();
        m_server.clearLog();
        ProgramRun program;
        program.binary = ProgramRun::builtProgram();
        program.arguments = {QStringLiteral("download"), QStringLiteral("--use-window-login"),
                             QStringLiteral("--dir"), m_dir.filePath(QStringLiteral("DL")),
                             url("/linked.html")};
        const ProgramRun::Outcome ran = program.run();
        QVERIFY2(ran.finished && ran.exitCode == 0, ran.err.constData());
        QCOMPARE(lastCookie("/linked.html"), QByteArray("keep=k1; sid=abc"));
        QCOMPARE(digest(), before);
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestLogin)
#include "tst_login.moc"
