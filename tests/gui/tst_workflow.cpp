// A week's use of the real main window: folders chosen and typed, lists read decoded and copied exact,
// the right-click menu, addresses read from files and dropped, results saved and read back, failures
// saved, and the state remembered between runs. Pages are served on 127.0.0.1.

#include "AddressImport.h"
#include "AppMessages.h"
#include "AppSettings.h"
#include "EditActions.h"
#include "FileDialogs.h"
#include "FolderBox.h"
#include "GuiTestMain.h"
#include "NameMaskBar.h"
#include "ResultListContextMenu.h"
#include "ResultListDelegate.h"
#include "ResultListPanel.h"
#include "TForm1.h"
#include "TForm3.h"
#include "TestHttpServer.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTemporaryDir>

#include <memory>

// Stands in for the system's browser.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class TestWorkflow : public QObject {
    Q_OBJECT

private:
    TestHttpServer m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<TForm1> m_form;
    QList<QPointer<QMessageBox>> m_boxes;
    QStringList m_dialogAnswers; // the paths the file choosers answer, in turn
    QStringList m_dialogCaptions;
    BrowserStandIn m_browser;

    QString url(const char* path) const { return m_server.urlText(QString::fromLatin1(path)); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    TForm1::Options options(const QString& settingsFile = {}) const {
        TForm1::Options o;
        o.adListUrl = m_server.url(QStringLiteral("/ads.txt"));
        o.pageTimeoutMs = 20000;
        o.collectTimeoutMs = 5000;
        o.settingsFile = settingsFile;
        // A window of its own settings keeps a download history of its own: the files that other
        // cases saved (the same bytes) are no copies of its own.
        if (!settingsFile.isEmpty())
            o.historyFile = settingsFile + QStringLiteral(".history.sqlite3");
        return o;
    }

    void openForm(const QString& settingsFile = {}) {
        m_form = std::make_unique<TForm1>(options(settingsFile));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    QList<QMessageBox*> openBoxes() const {
        QList<QMessageBox*> boxes;
        for (const QPointer<QMessageBox>& box : m_boxes)
            if (box && box->isVisible())
                boxes.append(box);
        return boxes;
    }

    bool analyse(const QString& text) {
        m_form->Memo1->setPlainText(text);
        QSignalSpy done(m_form.get(), &TForm1::analysisFinished);
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        return done.wait(60000) || done.size() == 1;
    }

    static QStringList shown(QListView* list) {
        QStringList texts;
        auto* delegate = static_cast<ResultListDelegate*>(list->itemDelegate());
        for (int row = 0; row < list->model()->rowCount(); ++row)
            texts.append(delegate->displayText(list->model()->index(row, 0).data(), QLocale()));
        return texts;
    }

    static QStringList held(QListView* list) {
        return static_cast<QStringListModel*>(list->model())->stringList();
    }

    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QString encodedPage() const { return url("/%E5%86%99%E7%9C%9F.html"); }
    QString encodedImage() const { return url("/%E5%86%99.jpg"); }
    static QString idnPage() { return QStringLiteral("http://xn--r8jz45g.jp/x.html"); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        QVERIFY(m_dir.isValid());
        m_server.route(QStringLiteral("/ads.txt"), TestHttpResponse::error(404));
        m_server.route(QStringLiteral("/jp.html"),
                       TestHttpResponse::html("<html><body>"
                                              "<a href='/%E5%86%99%E7%9C%9F.html'>photo</a>"
                                              "<a href='http://xn--r8jz45g.jp/x.html'>idn</a>"
                                              "<img src='/%E5%86%99.jpg'>"
                                              "</body></html>"));
        m_server.route(QStringLiteral("/%E5%86%99.jpg"), TestHttpResponse::withType("image/jpeg", "JPEG"));
        m_server.route(QStringLiteral("/gone.html"), TestHttpResponse::error(404));
        m_server.route(QStringLiteral("/named.html"),
                       TestHttpResponse::html("<title>旅/夏</title><img src='/%E5%86%99.jpg' alt='猫'>"));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_browser, "open");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

    void init() {
        m_boxes.clear();
        m_dialogAnswers.clear();
        m_dialogCaptions.clear();
        m_browser.opened.clear();
        AppMessages::setOpenHook([this](QMessageBox* box) { m_boxes.append(box); });
        FileDialogs::setAnswerHook([this](QFileDialog* dialog) {
            m_dialogCaptions.append(dialog->windowTitle());
            return m_dialogAnswers.isEmpty() ? QString() : m_dialogAnswers.takeFirst();
        });
    }

    void cleanup() {
        m_form.reset();
        AppMessages::setOpenHook({});
        FileDialogs::setAnswerHook({});
        for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
            delete box.data();
    }

    void folderBoxesChooseAndShowTheirFolder() {
        openForm();
        // A folder inside the program's folder stays a name; any other is kept whole.
        const QString program = QCoreApplication::applicationDirPath();
        m_dialogAnswers = {program + QStringLiteral("/pics/new"), path(QStringLiteral("elsewhere"))};
        QTest::mouseClick(m_form->forudaButton, Qt::LeftButton);
        QTRY_COMPARE(m_form->foruda->text(), QStringLiteral("pics/new"));
        QCOMPARE(m_dialogCaptions, QStringList{QStringLiteral("保存先フォルダ")});
        QCOMPARE(m_form->foruda->toolTip(),
                 QStringLiteral("保存先フォルダ: ") +
                     QDir::toNativeSeparators(program + QStringLiteral("/pics/new")));
        QTest::mouseClick(m_form->forudaButton1, Qt::LeftButton);
        QTRY_COMPARE(m_form->foruda1->text(), path(QStringLiteral("elsewhere")));
        QVERIFY(
            m_form->foruda1->toolTip().endsWith(QDir::toNativeSeparators(path(QStringLiteral("elsewhere")))));
        // Cancelled: the box keeps its text.
        QTest::mouseClick(m_form->forudaButton1, Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(m_form->foruda1->text(), path(QStringLiteral("elsewhere")));
        // Too long for the box: a name shortened in the middle, a path with its last folders shown;
        // the text used stays whole, and the tooltip gives the whole folder.
        for (const QString& text :
             {QStringLiteral("ページを保存しておくフォルダ"), QStringLiteral("/srv/共有/写真/2024-旅行")}) {
            m_form->foruda1->setText(text);
            const QString shown = static_cast<FolderBox*>(m_form->foruda1)->shownText();
            QVERIFY2(shown.startsWith(text.front() == u'/' ? u'…' : text.front()) &&
                         shown.endsWith(text.back()) && shown.contains(u'…') && shown != text,
                     qPrintable(shown));
            QVERIFY(m_form->foruda1->toolTip().endsWith(QDir::toNativeSeparators(text)));
        }
        // A short name is shown whole, in a smaller size when it must be.
        for (const QString& name : {QStringLiteral("旅行の写真"), QStringLiteral("DL")}) {
            m_form->foruda1->setText(name);
            QCOMPARE(static_cast<FolderBox*>(m_form->foruda1)->shownText(), name);
        }
        QCOMPARE(m_form->Button10->toolTip(), QStringLiteral("絞り込みを解除"));
        QVERIFY(m_form->kensaku2->toolTip().startsWith(QStringLiteral("絞り込み")));
    }

    void listsReadDecodedAndGiveExactAddresses() {
        openForm();
        QVERIFY(analyse(url("/jp.html")));
        QCOMPARE(held(m_form->ListBox1), QStringList({encodedPage(), idnPage()}));
        QCOMPARE(shown(m_form->ListBox1), QStringList({url("/") + QStringLiteral("写真.html"),
                                                       QStringLiteral("http://例え.jp/x.html")}));
        QCOMPARE(shown(m_form->ListBox2), QStringList{url("/") + QStringLiteral("写.jpg")});
        QCOMPARE(ResultListDelegate::toolTipFor(encodedImage()),
                 url("/") + QStringLiteral("写.jpg\n") + encodedImage());

        // The text view reads as the list does.
        QTest::mouseClick(m_form->Button2, Qt::LeftButton);
        QTRY_COMPARE(m_form->textViews().size(), 1);
        QCOMPARE(m_form->textViews().first()->kekka->toPlainText(),
                 url("/") + QStringLiteral("写真.html\nhttp://例え.jp/x.html\n"));
        m_form->textViews().first()->close();

        // Ctrl+C and the menu's コピー give the exact addresses.
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        m_form->ListBox1->setFocus();
        m_form->ListBox1->selectAll();
        QApplication::clipboard()->clear();
        QTest::keyClick(m_form->ListBox1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), encodedPage() + QLatin1Char('\n') + idnPage());
        QApplication::clipboard()->clear();
        m_form->ListMenu1->Copy->trigger();
        QCOMPARE(QApplication::clipboard()->text(), encodedPage() + QLatin1Char('\n') + idnPage());

        // The filter finds the international host name as it reads.
        m_form->kensaku1->setText(QStringLiteral("例え"));
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QCOMPARE(held(m_form->ListBox1), QStringList{idnPage()});
        m_form->kensaku1->setText(QStringLiteral("写真"));
        QTest::mouseClick(m_form->Button8, Qt::LeftButton);
        QCOMPARE(held(m_form->ListBox1), QStringList{encodedPage()});
    }

    void rightClickMenu() {
        openForm();
        QVERIFY(analyse(url("/jp.html")));
        // A right click on an entry selects it and opens the menu.
        const QRect second = m_form->ListBox1->visualRect(m_form->ListBox1->model()->index(1, 0));
        QTest::mouseClick(m_form->ListBox1->viewport(), Qt::RightButton, {}, second.center());
        emit m_form->ListBox1->customContextMenuRequested(second.center());
        QTRY_VERIFY(m_form->ListMenu1->menu->isVisible());
        m_form->ListMenu1->menu->close();
        QCOMPARE(m_form->ListMenu1->selectedAddresses(), QStringList{idnPage()});

        m_form->ListBox1->selectAll();
        m_form->ListMenu1->OpenInBrowser->trigger();
        QCOMPARE(m_browser.opened, QList<QUrl>({QUrl(encodedPage()), QUrl(idnPage())}));

        // The pages go into the input box for another analysis; undo brings the old text back.
        m_form->ListMenu1->ToInput->trigger();
        QCOMPARE(m_form->Memo1->toPlainText(), encodedPage() + QLatin1Char('\n') + idnPage());
        m_form->Memo1->undo();
        QCOMPARE(m_form->Memo1->toPlainText(), url("/jp.html"));

        // ダウンロード saves the selected data files into an absolute folder typed into the box.
        m_form->foruda->setText(path(QStringLiteral("abs/dl")));
        m_form->ListBox2->selectAll();
        m_form->ListMenu2->Download->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(
            openBoxes().size() == 1 && openBoxes().first()->text().contains(QStringLiteral("完了")), 30000);
        QCOMPARE(read(path(QStringLiteral("abs/dl/写.jpg"))), QByteArray("JPEG"));
        // The notice names the folder and opens it.
        QMessageBox* notice = openBoxes().first();
        QVERIFY(notice->informativeText().contains(path(QStringLiteral("abs/dl")).toHtmlEscaped()));
        auto* openFolder = notice->findChild<QPushButton*>(QStringLiteral("OpenFolder"));
        QVERIFY(openFolder);
        QCOMPARE(openFolder->text(), QStringLiteral("フォルダを開く"));
        m_browser.opened.clear();
        openFolder->click();
        QCOMPARE(m_browser.opened, QList<QUrl>{QUrl::fromLocalFile(path(QStringLiteral("abs/dl")))});
    }

    void addressesReadFromFilesAndDrops() {
        openForm();
        QFile text(path(QStringLiteral("list.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("http://a.example/1\r\n\r\nhttp://a.example/2\r\n");
        text.close();
        QFile html(path(QStringLiteral("saved.html")));
        QVERIFY(html.open(QIODevice::WriteOnly));
        html.write("<!-- saved from url=(0021)http://b.example/d/ -->\n<html><a href='x.html'>x</a></html>");
        html.close();

        m_form->Memo1->setPlainText(QStringLiteral("http://typed.example/"));
        m_dialogAnswers = {text.fileName(), html.fileName()};
        m_form->OpenAddresses1->trigger();
        QTRY_COMPARE(m_form->Memo1->toPlainText(),
                     QStringLiteral("http://typed.example/\nhttp://a.example/1\nhttp://a.example/2"));
        QCOMPARE(m_form->OpenAddresses1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
        m_form->Memo1->clear();
        m_form->OpenAddresses1->trigger();
        QTRY_COMPARE(m_form->Memo1->toPlainText(), QStringLiteral("http://b.example/d/x.html"));

        // A file and a link dropped from elsewhere.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(text.fileName()), QUrl(QStringLiteral("http://c.example/p"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_form->Memo1->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_form->Memo1->viewport(), &drop);
        QCOMPARE(
            m_form->Memo1->toPlainText(),
            QStringLiteral(
                "http://b.example/d/x.html\nhttp://a.example/1\nhttp://a.example/2\nhttp://c.example/p"));

        // A file without addresses is reported, and the box is left alone.
        m_dialogAnswers = {path(QStringLiteral("missing.txt"))};
        m_form->OpenAddresses1->trigger();
        QTRY_COMPARE(openBoxes().size(), 1);
        QCOMPARE(openBoxes().first()->icon(), QMessageBox::Critical);
        QVERIFY(openBoxes().first()->text().contains(QStringLiteral("missing.txt")));
    }

    void resultsSavedInThreeFormats() {
        openForm();
        QVERIFY(analyse(url("/jp.html")));
        // Nothing selected: both lists.
        m_dialogAnswers = {path(QStringLiteral("all.csv"))};
        m_form->SaveResults1->trigger();
        QTRY_VERIFY(QFile::exists(path(QStringLiteral("all.csv"))));
        const QString source = url("/jp.html");
        // Each row: kind, address, page, how it was found, the page's encoding, what the picture view
        // measured (nothing here), the page's title and an image's alternative text, and the name it
        // is saved under.
        QCOMPARE(
            QString::fromUtf8(read(path(QStringLiteral("all.csv"))).mid(3)),
            QStringLiteral("kind,address,source,via,charset,width,height,bytes,type,title,alt,name\r\n"
                           "page,%1,%3,a@href,UTF-8,,,,,,,写真.html\r\npage,%2,%3,a@href,UTF-8,,,,,,,x.html\r\n"
                           "image,%4,%3,img@src,UTF-8,,,,,,,写.jpg\r\n")
                .arg(encodedPage(), idnPage(), source, encodedImage()));

        m_dialogAnswers = {path(QStringLiteral("all.txt"))};
        m_form->SaveResults1->trigger();
        QTRY_VERIFY(QFile::exists(path(QStringLiteral("all.txt"))));
        QCOMPARE(AddressImport::fromFile(path(QStringLiteral("all.txt"))).addresses,
                 QStringList({encodedPage(), idnPage(), encodedImage()}));

        // The selected entries only.
        m_form->ListBox2->selectAll();
        m_dialogAnswers = {path(QStringLiteral("picked.jsonl"))};
        m_form->SaveResults1->trigger();
        QTRY_VERIFY(QFile::exists(path(QStringLiteral("picked.jsonl"))));
        const QList<QByteArray> lines = read(path(QStringLiteral("picked.jsonl"))).trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        const QJsonObject o = QJsonDocument::fromJson(lines.first()).object();
        QCOMPARE(o.value(u"url").toString(), encodedImage());
        QCOMPARE(o.value(u"kind").toString(), QStringLiteral("image"));
        QCOMPARE(o.value(u"source").toString(), source);
        QCOMPARE(o.value(u"via").toString(), QStringLiteral("img@src"));
        QCOMPARE(openBoxes().size(), 0);
    }

    void failureListSavedAsText() {
        openForm();
        QVERIFY(analyse(url("/gone.html") + QLatin1Char('\n') + url("/jp.html")));
        QTRY_COMPARE(openBoxes().size(), 1);
        QMessageBox* report = openBoxes().first();
        QVERIFY(report->text().startsWith(QStringLiteral("読み込めなかったページがあります（1 件）。")));
        QVERIFY(report->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        auto* save = report->findChild<QPushButton*>(QStringLiteral("SaveFailures"));
        QVERIFY(save);
        m_dialogAnswers = {path(QStringLiteral("failed"))};
        save->click();
        QTRY_VERIFY(QFile::exists(path(QStringLiteral("failed.txt"))));
        const QString saved = QString::fromUtf8(read(path(QStringLiteral("failed.txt"))));
        QVERIFY2(saved.startsWith(url("/gone.html") + QLatin1Char('\t')), qPrintable(saved));
        QCOMPARE(AddressImport::fromFile(path(QStringLiteral("failed.txt"))).addresses,
                 QStringList{url("/gone.html")});
    }

    void stateRememberedBetweenRuns() {
        const QString ini = path(QStringLiteral("config/nepirika.ini"));
        openForm(ini);
        QCOMPARE(m_form->foruda->text(), QStringLiteral("DL"));
        QCOMPARE(m_form->Recent1->actions().size(), 1); // （なし）
        m_form->foruda->setText(QStringLiteral("~/写真"));
        m_form->foruda1->setText(QStringLiteral("/srv/pages"));
        m_form->kensaku1->setText(QStringLiteral(".php"));
        m_form->kensaku2->clear();
        m_form->NoScripts1->setChecked(true);
        m_form->move(40, 50);
        m_form->resize(700, 500);
        QVERIFY(analyse(url("/jp.html")));
        const QRect place = m_form->geometry();
        m_form->close();
        m_form.reset();

        openForm(ini);
        QCOMPARE(m_form->foruda->text(), QStringLiteral("~/写真"));
        QCOMPARE(m_form->foruda1->text(), QStringLiteral("/srv/pages"));
        QCOMPARE(m_form->kensaku1->text(), QStringLiteral(".php"));
        QCOMPARE(m_form->kensaku2->text(), QString());
        QVERIFY(m_form->NoScripts1->isChecked());
        QVERIFY(m_form->settings()->noScripts());
        QCOMPARE(m_form->geometry(), place);
        const QList<QAction*> recent = m_form->Recent1->actions();
        QVERIFY(recent.size() >= 1);
        m_form->Memo1->clear();
        recent.first()->trigger();
        QCOMPARE(m_form->Memo1->toPlainText(), url("/jp.html"));
        m_form.reset();

        // A place on a screen that is gone comes back onto the screen.
        {
            QWidget far;
            far.move(20000, 20000);
            far.resize(640, 480);
            AppSettings settings(ini);
            settings.setWindowGeometry(far.saveGeometry());
        }
        openForm(ini);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.intersects(m_form->frameGeometry()), qPrintable(QString::number(m_form->x())));
    }

    // The 保存名 box: a mistake named before anything is made, a live preview of the first selected
    // entry's name, the download saved under it, the mask kept for its band.
    void nameMaskNamesDownloads() {
        const QString ini = path(QStringLiteral("config/masks.ini"));
        openForm(ini);
        QVERIFY(analyse(url("/named.html")));
        NameMaskBar* bar = m_form->GroupBox2->nameMaskBar;
        m_form->foruda->setText(path(QStringLiteral("masked")));
        m_form->ListBox2->selectAll();
        bar->box->setEditText(QStringLiteral("{titel}/{n}"));
        QVERIFY(bar->preview->text().contains(QStringLiteral("{titel}")));
        QTest::mouseClick(m_form->Button4, Qt::LeftButton);
        QTRY_COMPARE(openBoxes().size(), 1);
        QCOMPARE(openBoxes().first()->icon(), QMessageBox::Critical);
        QVERIFY(openBoxes().first()->text().contains(QStringLiteral("{titel}")));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("masked"))));
        openBoxes().first()->close();

        bar->box->setEditText(QStringLiteral("{title}/{n:03}_{alt}"));
        QCOMPARE(bar->preview->text(), QStringLiteral("→ 旅_夏/001_猫.jpg"));
        QTest::mouseClick(m_form->Button4, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            openBoxes().size() == 1 && openBoxes().first()->text().contains(QStringLiteral("完了")), 30000);
        QCOMPARE(read(path(QStringLiteral("masked/旅_夏/001_猫.jpg"))), QByteArray("JPEG"));
        m_form->close();
        m_form.reset();

        openForm(ini);
        QCOMPARE(m_form->GroupBox2->nameMaskBar->mask(), QStringLiteral("{title}/{n:03}_{alt}"));
        QCOMPARE(m_form->GroupBox2->nameMaskBar->recent(),
                 QStringList{QStringLiteral("{title}/{n:03}_{alt}")});
        QCOMPARE(m_form->GroupBox1->nameMaskBar->mask(), QString());
    }

    void f10OpensTheMenu() {
        openForm();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QTest::keyClick(m_form->Memo1, Qt::Key_F10);
        QTRY_COMPARE(m_form->MainMenu1->activeAction(), m_form->File1->menuAction());
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
