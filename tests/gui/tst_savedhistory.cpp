#include "AppMessages.h"
#include "GuiTestMain.h"
#include "HistoryWindow.h"
#include "ResultListModel.h"
#include "ResultListPanel.h"
#include "SavedMarks.h"
#include "TForm1.h"
#include "TestHttpServer.h"
#include "WindowHistory.h"
#include "tlinksys.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>

// The download history in the window: saved entries marked and left out by 未保存のみ, the question
// before downloading saved entries again, copies not kept, and the list of 表示 → 保存の履歴.
class TestSavedHistory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void downloadAgain_data();
    void downloadAgain();
    void historyList();

private:
    // Adds the data files of selected to the list (once each), selects them, and clicks ダウンロード.
    void download(const QStringList& selected);
    QMessageBox* waitForBox(const QString& containing);
    QStringList rows() const;

    TestHttpServer m_server;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<TForm1> m_form;
    QList<QPointer<QMessageBox>> m_boxes;
    QStringList m_added;
};

void TestSavedHistory::initTestCase() {
    QVERIFY(m_server.start());
    m_server.route(QStringLiteral("/ads.txt"), TestHttpResponse::error(404));
    for (const QString& name : {u"a"_qs, u"b"_qs, u"c"_qs})
        m_server.route(u"/img/"_qs + name + u".jpg"_qs,
                       TestHttpResponse::withType("image/jpeg", name.toUtf8() + "-JPEG"));
    m_server.route(QStringLiteral("/mirror/copy.jpg"), TestHttpResponse::withType("image/jpeg", "a-JPEG"));
}

void TestSavedHistory::init() {
    m_home = std::make_unique<QTemporaryDir>();
    m_boxes.clear();
    m_added.clear();
    AppMessages::setOpenHook([this](QMessageBox* box) { m_boxes.append(box); });
    TForm1::Options options;
    options.adListUrl = m_server.url(QStringLiteral("/ads.txt"));
    options.historyFile = m_home->filePath(QStringLiteral("history.sqlite3"));
    m_form = std::make_unique<TForm1>(options);
    m_form->foruda->setText(m_home->filePath(QStringLiteral("files")));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestSavedHistory::cleanup() {
    m_form.reset();
    AppMessages::setOpenHook({});
    for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
        delete box.data();
    m_server.clearLog();
}

QMessageBox* TestSavedHistory::waitForBox(const QString& containing) {
    QMessageBox* found = nullptr;
    const auto look = [&] {
        for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
            if (box && box->isVisible() && box->text().contains(containing))
                found = box;
        return found != nullptr;
    };
    if (!QTest::qWaitFor(look, 30000))
        return nullptr;
    return found;
}

QStringList TestSavedHistory::rows() const {
    QStringList shown;
    const ResultListModel* model = m_form->GroupBox2->model();
    for (int row = 0; row < model->rowCount(); ++row)
        shown.append(model->index(row).data().toString());
    return shown;
}

void TestSavedHistory::download(const QStringList& selected) {
    for (const QString& path : selected) {
        const QString url = m_server.urlText(path);
        if (!m_added.contains(url)) {
            m_added.append(url);
            m_form->harvester()->List.Add(
                tURLData::make(url, tURLData::KindImage, 0, m_server.urlText(u"/page.html"_qs)));
        }
    }
    m_form->Button3Click();
    QListView* list = m_form->ListBox2;
    list->clearSelection();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QString entry = list->model()->index(row, 0).data().toString();
        if (selected.contains(QUrl(entry).path()))
            list->selectionModel()->select(list->model()->index(row, 0), QItemSelectionModel::Select);
    }
    QTest::mouseClick(m_form->Button4, Qt::LeftButton);
}

// Each row: a first download, then a second one of a selection, the question's answer when one is
// asked, and what the second one fetched and said.
void TestSavedHistory::downloadAgain_data() {
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<QString>("answer"); // empty: no question
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QString>("noticeSays"); // empty: no notice
    QTest::addColumn<int>("files");          // in the folder at the end

    QTest::newRow("saved entries skipped by default")
        << QStringList{u"/img/a.jpg"_qs, u"/img/b.jpg"_qs}
        << QStringList{u"/img/a.jpg"_qs, u"/img/b.jpg"_qs, u"/img/c.jpg"_qs} << u"保存済みを飛ばす"_qs
        << QStringList{u"/img/c.jpg"_qs} << u"保存済みの 2 件を飛ばしました"_qs << 3;
    QTest::newRow("saved again on request")
        << QStringList{u"/img/a.jpg"_qs} << QStringList{u"/img/a.jpg"_qs, u"/img/c.jpg"_qs}
        << u"すべて保存し直す"_qs << QStringList{u"/img/a.jpg"_qs, u"/img/c.jpg"_qs} << u"成功 2 件"_qs << 3;
    QTest::newRow("cancelled") << QStringList{u"/img/a.jpg"_qs} << QStringList{u"/img/a.jpg"_qs}
                               << u"キャンセル"_qs << QStringList{} << QString() << 1;
    QTest::newRow("a copy under another address is not kept")
        << QStringList{u"/img/a.jpg"_qs} << QStringList{u"/mirror/copy.jpg"_qs} << QString()
        << QStringList{u"/mirror/copy.jpg"_qs}
        << u"同じ内容のファイルが保存済みのため保存しませんでした（1 件）"_qs << 1;
}

void TestSavedHistory::downloadAgain() {
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(QString, answer);
    QFETCH(QStringList, fetched);
    QFETCH(QString, noticeSays);
    QFETCH(int, files);

    download(first);
    QMessageBox* done = waitForBox(QStringLiteral("完了"));
    QVERIFY(done);
    done->close();
    // The saved entries are marked once the history has them, with their file in the tooltip role.
    const QString savedFile =
        m_home->filePath(QStringLiteral("files")) + QFileInfo(first.first()).fileName().prepend(u'/');
    QTRY_COMPARE_WITH_TIMEOUT(m_form->GroupBox2->model()->index(0).data(SavedMarks::SavedPathRole).toString(),
                              savedFile, 20000);
    QVERIFY(m_form->GroupBox2->model()->index(0).data(Qt::DecorationRole).isValid());

    m_server.clearLog();
    download(second);
    if (!answer.isEmpty()) {
        QMessageBox* question = waitForBox(QStringLiteral("保存済みです"));
        QVERIFY(question);
        QCOMPARE(question->defaultButton()->text(), QStringLiteral("保存済みを飛ばす"));
        bool clicked = false;
        for (QAbstractButton* button : question->buttons())
            if (button->text() == answer) {
                button->click();
                clicked = true;
            }
        QVERIFY(clicked);
    }
    if (!noticeSays.isEmpty()) {
        QMessageBox* notice = waitForBox(QStringLiteral("完了"));
        QVERIFY(notice);
        QVERIFY2(notice->text().contains(noticeSays), qPrintable(notice->text()));
    } else {
        QTest::qWait(300);
    }
    QStringList requested;
    for (const TestHttpRequest& request : m_server.requests())
        if (request.target != "/ads.txt") // the banner's list, whenever it comes
            requested.append(QString::fromUtf8(request.target));
    requested.sort();
    QCOMPARE(requested.join(u' '), fetched.join(u' '));
    QCOMPARE(QDir(m_home->filePath(QStringLiteral("files"))).entryList(QDir::Files).size(), files);
}

void TestSavedHistory::historyList() {
    download({u"/img/a.jpg"_qs, u"/img/b.jpg"_qs});
    QMessageBox* done = waitForBox(QStringLiteral("完了"));
    QVERIFY(done);
    done->close();
    QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_form->GroupBox2->model()->index(1).data(SavedMarks::SavedPathRole).isValid(),
                             20000);
    // 未保存のみ leaves the saved entries out, and a new entry stays.
    m_form->harvester()->List.Add(
        tURLData::make(m_server.urlText(u"/img/c.jpg"_qs), tURLData::KindImage, 0, {}));
    m_form->Button3Click();
    m_form->GroupBox2->unsavedOnlyBox->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(rows(), QStringList{m_server.urlText(u"/img/c.jpg"_qs)}, 20000);

    m_form->SavedHistory->History1->trigger();
    HistoryWindow* window = m_form->SavedHistory->historyWindow();
    QVERIFY(window);
    QTRY_COMPARE_WITH_TIMEOUT(window->list->topLevelItemCount(), 2, 20000);
    // Newest first: b was saved after a (in list order), or at the same time.
    QVERIFY(window->entries().at(0).id > window->entries().at(1).id);
    QSignalSpy listed(window, &HistoryWindow::listed);
    window->filterBox->setText(QStringLiteral("b.jpg"));
    QTRY_COMPARE_WITH_TIMEOUT(window->list->topLevelItemCount(), 1, 20000);
    QCOMPARE(QFileInfo(window->entries().first().path).fileName(), QStringLiteral("b.jpg"));
    // 履歴から削除: b is no longer saved, so the list shows it again.
    window->list->topLevelItem(0)->setSelected(true);
    QTest::mouseClick(window->forgetButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window->list->topLevelItemCount(), 0, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 2, 20000);
    QVERIFY(rows().contains(m_server.urlText(u"/img/b.jpg"_qs)));
    // 保存の履歴を消去…, after the question: nothing is saved any more, the files stay.
    window->filterBox->clear();
    m_form->SavedHistory->Clear1->trigger();
    QMessageBox* question = waitForBox(QStringLiteral("消去しますか"));
    QVERIFY(question);
    for (QAbstractButton* button : question->buttons())
        if (button->text() == u"消去")
            button->click();
    QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 3, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(window->list->topLevelItemCount(), 0, 20000);
    QCOMPARE(QDir(m_home->filePath(QStringLiteral("files"))).entryList(QDir::Files).size(), 2);
}

NEPIRIKA_GUI_TEST_MAIN(TestSavedHistory)
#include "tst_savedhistory.moc"
