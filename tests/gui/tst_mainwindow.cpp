// The main window and the text view window as laid out: controls, captions, defaults, places, tab
// order, menu, edit actions and keyboard.

#include "EditActions.h"
#include "GuiTestMain.h"
#include "TForm1.h"
#include "TForm3.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "Tkoukoku.h"
#include "WindowFont.h"
#include "tlinksys.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStringListModel>

#include <algorithm>
#include <memory>

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    TestHttpServer m_server;
    std::unique_ptr<TForm1> m_form;

    TForm1::Options options() const {
        TForm1::Options o;
        o.adListUrl = m_server.url(QStringLiteral("/ads.txt"));
        return o;
    }

    template <typename T> T* control(const char* name) const {
        T* found = m_form->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no control %s", name);
        return found;
    }

    static void checkEditActions(QWidget* window) {
        const auto* list = window->findChild<EditActions*>(QStringLiteral("ActionList1"));
        QVERIFY(list);
        struct Expected {
            const char* name;
            QString caption;
            QKeySequence shortcut;
            QString shortHint;
            QString longHint;
        };
        const QList<Expected> expected = {
            {"EditCut1", "切り取り(&T)", QKeySequence(Qt::CTRL | Qt::Key_X), "切り取り",
             "選択部分を切り取り、クリップボードに送る"},
            {"EditCopy1", "コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C), "コピー",
             "選択部分をコピーし、クリップボードに送る"},
            {"EditPaste1", "貼り付け(&P)", QKeySequence(Qt::CTRL | Qt::Key_V), "貼り付け",
             "クリップボードの内容を貼り付ける"},
            {"EditSelectAll1", "すべてを選択(&A)", QKeySequence(Qt::CTRL | Qt::Key_A), "すべてを選択",
             "ドキュメント全体を選択する"},
            {"EditUndo1", "元に戻す(&U)", QKeySequence(Qt::CTRL | Qt::Key_Z), "元に戻す",
             "直前の変更を元に戻す"},
            {"EditDelete1", "削除(&D)", QKeySequence(Qt::Key_Delete), "削除", "選択部分を削除する"},
        };
        for (const Expected& e : expected) {
            const auto* action = list->findChild<QAction*>(QString::fromLatin1(e.name));
            QVERIFY2(action, e.name);
            QCOMPARE(action->text(), e.caption);
            QCOMPARE(action->shortcut(), e.shortcut);
            QCOMPARE(EditActions::shortHint(action), e.shortHint);
            QCOMPARE(EditActions::longHint(action), e.longHint);
            QCOMPARE(action->toolTip(), e.shortHint);
            QCOMPARE(action->statusTip(), e.longHint);
            QCOMPARE(action->property("category").toString(), QStringLiteral("編集"));
            QVERIFY(window->actions().contains(const_cast<QAction*>(action)));
        }
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        m_server.route(QStringLiteral("/ads.txt"), TestHttpResponse::error(404));
    }

    void init() {
        m_form = std::make_unique<TForm1>(options());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void cleanup() { m_form.reset(); }

    void windowAndFont() {
        QCOMPARE(m_form->objectName(), QStringLiteral("Form1"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("ネピリカ"));
        QVERIFY(m_form->isVisible());
        QCOMPARE(m_form->font().family(), WindowFont::family());
        QVERIFY(
            QStringList({"ＭＳ Ｐゴシック", "IPAPGothic", "IPA Pゴシック"}).contains(WindowFont::family()));
        QCOMPARE(m_form->font().pixelSize(), 12);
        QCOMPARE(m_form->Memo1->font().pixelSize(), 12);
        QCOMPARE(m_form->Label1->font().pixelSize(), 15);
        QCOMPARE(m_form->Label1->font().family(), WindowFont::family());
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("text");

        QTest::newRow("Button5") << "Button5"
                                 << "Panel1"
                                 << "解析開始";
        QTest::newRow("Button2") << "Button2"
                                 << "Panel2"
                                 << "テキスト表示";
        QTest::newRow("foruda1") << "foruda1"
                                 << "Panel2"
                                 << "Page";
        QTest::newRow("Button7") << "Button7"
                                 << "Panel2"
                                 << "ダウンロード";
        QTest::newRow("kensaku1") << "kensaku1"
                                  << "Panel2"
                                  << ".htm";
        QTest::newRow("Button8") << "Button8"
                                 << "Panel2"
                                 << "検索";
        QTest::newRow("Button10") << "Button10"
                                  << "Panel2"
                                  << "C";
        QTest::newRow("Button6") << "Button6"
                                 << "Panel3"
                                 << "テキスト表示";
        QTest::newRow("foruda") << "foruda"
                                << "Panel3"
                                << "DL";
        QTest::newRow("Button4") << "Button4"
                                 << "Panel3"
                                 << "ダウンロード";
        QTest::newRow("kensaku2") << "kensaku2"
                                  << "Panel3"
                                  << ".jpg";
        QTest::newRow("Button9") << "Button9"
                                 << "Panel3"
                                 << "検索";
        QTest::newRow("Button11") << "Button11"
                                  << "Panel3"
                                  << "C";
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QString, text);

        auto* widget = m_form->findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), parentName);
        QVERIFY(widget->isVisible());
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->text(), text);
            QCOMPARE(button->accessibleName(), text);
        } else {
            auto* edit = qobject_cast<QLineEdit*>(widget);
            QVERIFY(edit);
            QCOMPARE(edit->text(), text);
            QVERIFY(!edit->accessibleName().isEmpty());
        }
    }

    void bandsAndLists() {
        QCOMPARE(control<Tkoukoku>("Tkoukoku1"), m_form->Tkoukoku1);
        QCOMPARE(m_form->GroupBox3->title(), QString());
        QCOMPARE(m_form->GroupBox1->title(), QStringLiteral("リンクしてるページ"));
        QCOMPARE(m_form->GroupBox2->title(), QStringLiteral("データファイル"));
        // Top to bottom: banner, input, linked pages, data files; each as wide as the client area.
        const QWidget* client = m_form->ScrollBox1->widget();
        QVERIFY(m_form->GroupBox3->mapTo(client, QPoint()).y() >
                m_form->Tkoukoku1->mapTo(client, QPoint()).y());
        QVERIFY(m_form->GroupBox1->mapTo(client, QPoint()).y() >
                m_form->GroupBox3->mapTo(client, QPoint()).y());
        QVERIFY(m_form->GroupBox2->mapTo(client, QPoint()).y() >
                m_form->GroupBox1->mapTo(client, QPoint()).y());
        for (const QWidget* band :
             {static_cast<QWidget*>(m_form->Tkoukoku1), static_cast<QWidget*>(m_form->GroupBox3),
              static_cast<QWidget*>(m_form->GroupBox1), static_cast<QWidget*>(m_form->GroupBox2)})
            QCOMPARE(band->width(), client->width());

        QCOMPARE(m_form->Memo1->toPlainText(), QString());
        QCOMPARE(m_form->Memo1->placeholderText(),
                 QStringLiteral("解析したいページのURL　もしくはURLのリストを入力"));
        QCOMPARE(m_form->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(m_form->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(m_form->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(m_form->Memo1->accessibleName(), QStringLiteral("解析したいページのURL"));
        // "完　了" tells of an analysis: none has run yet.
        QCOMPARE(m_form->Label1->text(), QString());
        // One line across the input band, under the input box.
        QCOMPARE(m_form->Label1->parentWidget(), m_form->GroupBox3);
        QVERIFY(!m_form->Label1->wordWrap());
        QVERIFY(m_form->Label1->geometry().top() >= m_form->Memo1->geometry().bottom());

        for (QListView* list : {m_form->ListBox1, m_form->ListBox2}) {
            QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
            QVERIFY(list->uniformItemSizes());
            QCOMPARE(list->model()->rowCount(), 0);
        }
        QCOMPARE(m_form->ListBox1->accessibleName(), QStringLiteral("リンクしてるページ"));
        QCOMPARE(m_form->ListBox2->accessibleName(), QStringLiteral("データファイル"));
        QCOMPARE(m_form->ListBox1->parentWidget(), m_form->GroupBox1);
        QCOMPARE(m_form->ListBox2->parentWidget(), m_form->GroupBox2);
        QVERIFY(m_form->foruda1->accessibleName().contains(QStringLiteral("リンクしてるページ")));
        QVERIFY(m_form->kensaku2->accessibleName().contains(QStringLiteral("データファイル")));
        QVERIFY(m_form->kensaku1->accessibleName() != m_form->foruda1->accessibleName());

        QCOMPARE(m_form->Button3->text(), QStringLiteral("結果表示"));
        QVERIFY(!m_form->Button3->isVisible());
        QVERIFY(m_form->WB1);
        QCOMPARE(m_form->WB1->objectName(), QStringLiteral("WB1"));
        QVERIFY(m_form->harvester());
    }

    void menuClosesWindowAndHarvester() {
        QCOMPARE(m_form->MainMenu1, m_form->menuBar());
        QCOMPARE(m_form->MainMenu1->objectName(), QStringLiteral("MainMenu1"));
        QCOMPARE(m_form->File1->title(), QStringLiteral("ファイル(&F)"));
        QCOMPARE(m_form->File1->objectName(), QStringLiteral("File1"));
        QCOMPARE(m_form->File1->actions().last(), m_form->Close1);
        QCOMPARE(m_form->Close1->text(), QStringLiteral("閉じる(&X)"));
        QCOMPARE(m_form->Close1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(m_form->Close1->objectName(), QStringLiteral("Close1"));

        QPointer<tlinksys> harvester = m_form->harvester();
        m_form->Close1->trigger();
        QVERIFY(!m_form->isVisible());
        QVERIFY(!harvester);
    }

    void systemCloseDestroysHarvester() {
        QPointer<tlinksys> harvester = m_form->harvester();
        QVERIFY(m_form->close());
        QVERIFY(!harvester);
    }

    void actionLists() {
        checkEditActions(m_form.get());
        QCOMPARE(m_form->Action1->text(), QStringLiteral("Action1"));
        QCOMPARE(m_form->Action1->parent(), m_form->ActionList1);
        TForm3 view;
        checkEditActions(&view);
    }

    void tabOrder() {
        // As the controls stand on the screen.
        const QList<QWidget*> expected = {
            m_form->Memo1,         m_form->Button5, m_form->ListBox1, m_form->Button2,      m_form->foruda1,
            m_form->forudaButton1, m_form->Button7, m_form->kensaku1, m_form->Button8,      m_form->Button10,
            m_form->ListBox2,      m_form->Button6, m_form->foruda,   m_form->forudaButton, m_form->Button4,
            m_form->kensaku2,      m_form->Button9, m_form->Button11};
        QList<QWidget*> seen;
        QWidget* w = m_form->Memo1;
        for (int steps = 0; steps < 500 && seen.size() < expected.size(); ++steps) {
            if (expected.contains(w) && !seen.contains(w))
                seen.append(w);
            w = w->nextInFocusChain();
        }
        QCOMPARE(seen, expected);
        // Tab and Shift+Tab walk it.
        m_form->kensaku1->setFocus();
        QTest::keyClick(m_form->kensaku1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_form->Button8);
        m_form->Memo1->setFocus();
        QTest::keyClick(m_form->Memo1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_form->Button5);
    }

    void inputBoxHasFocusAtStart() {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QTRY_COMPARE(QApplication::focusWidget(), m_form->Memo1);
    }

    void selectAllInTextControls() {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        m_form->Memo1->setPlainText(QStringLiteral("http://a.example/\nhttp://b.example/ページ"));
        m_form->Memo1->setFocus();
        QTest::keyClick(m_form->Memo1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_form->Memo1->textCursor().selectionStart(), 0);
        QCOMPARE(m_form->Memo1->textCursor().selectionEnd(), m_form->Memo1->toPlainText().size());

        m_form->kensaku1->setFocus();
        QTest::keyClick(m_form->kensaku1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_form->kensaku1->selectedText(), QStringLiteral(".htm"));
        // The action itself works on whichever text box has the focus.
        m_form->foruda->setFocus();
        m_form->ActionList1->EditSelectAll1->trigger();
        QCOMPARE(m_form->foruda->selectedText(), QStringLiteral("DL"));
        m_form->ActionList1->EditCut1->trigger();
        QCOMPARE(m_form->foruda->text(), QString());
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("DL"));
        m_form->ActionList1->EditUndo1->trigger();
        QCOMPARE(m_form->foruda->text(), QStringLiteral("DL"));

        TForm3 view(m_form.get());
        view.kekka->setPlainText(QStringLiteral("line 1\nline 2\n"));
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.kekka->setFocus();
        QTest::keyClick(view.kekka, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(view.kekka->textCursor().selectionStart(), 0);
        QCOMPARE(view.kekka->textCursor().selectionEnd(), view.kekka->toPlainText().size());
    }

    void selectAllAndCopyInList() {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        auto* model = qobject_cast<QStringListModel*>(m_form->ListBox1->model());
        QVERIFY(model);
        model->setStringList({"http://h/1.htm", "http://h/2.htm", "http://h/3.htm"});
        m_form->ListBox1->setFocus();
        QTest::keyClick(m_form->ListBox1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_form->ListBox1->selectionModel()->selectedRows().size(), 3);
        QApplication::clipboard()->clear();
        QTest::keyClick(m_form->ListBox1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("http://h/1.htm\nhttp://h/2.htm\nhttp://h/3.htm"));

        // Selected out of order, copied in list order.
        m_form->ListBox1->selectionModel()->clearSelection();
        m_form->ListBox1->selectionModel()->select(model->index(2), QItemSelectionModel::Select);
        m_form->ListBox1->selectionModel()->select(model->index(0), QItemSelectionModel::Select);
        QTest::keyClick(m_form->ListBox1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://h/1.htm\nhttp://h/3.htm"));
    }

    void textViewWindow() {
        TForm3 view;
        QCOMPARE(view.windowTitle(), QStringLiteral("テキスト表示"));
        QCOMPARE(view.kekka->objectName(), QStringLiteral("kekka"));
        QCOMPARE(view.kekka->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(view.kekka->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(view.kekka->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(view.font().pixelSize(), 12);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // kekka fills the client area.
        QCOMPARE(view.kekka->geometry(), view.rect());
    }

    void extraHeightGoesToTheLists() {
        const int before1 = m_form->GroupBox1->height();
        const int before2 = m_form->GroupBox2->height();
        m_form->resize(805, 900);
        QTRY_VERIFY(m_form->GroupBox1->height() > before1 + 100);
        QVERIFY(m_form->GroupBox2->height() > before2 + 100);
        QCOMPARE(m_form->GroupBox3->height(), 149);
        QTRY_VERIFY(!m_form->ScrollBox1->verticalScrollBar()->isVisible());

        m_form->resize(805, 400);
        QTRY_VERIFY(m_form->ScrollBox1->verticalScrollBar()->isVisible());
        QCOMPARE(m_form->GroupBox1->height(), 145);
        QCOMPARE(m_form->GroupBox3->height(), 149);
    }

    // What the mouse and the keys select in a list of 200 entries, scrolled down by 50 rows first
    // (so that a place on the screen and a row number differ), and what survives entries appended
    // after it: the selection and the scroll position stay, the new rows are there.
    void listSelectsByMouseAndKeys_data() {
        QTest::addColumn<QList<int>>("clicks");                    // rows clicked, in the order given
        QTest::addColumn<Qt::KeyboardModifiers>("clickModifiers"); // held for every click after the first
        QTest::addColumn<int>("key");                              // then pressed once (0: none)
        QTest::addColumn<QList<int>>("selected");                  // the rows selected at the end
        QTest::addColumn<int>("current");

        QTest::newRow("click") << QList<int>{57} << Qt::KeyboardModifiers() << 0 << QList<int>{57} << 57;
        QTest::newRow("click another")
            << QList<int>{57, 60} << Qt::KeyboardModifiers() << 0 << QList<int>{60} << 60;
        QTest::newRow("ctrl+click adds") << QList<int>{52, 58} << Qt::KeyboardModifiers(Qt::ControlModifier)
                                         << 0 << QList<int>{52, 58} << 58;
        QTest::newRow("shift+click takes the range")
            << QList<int>{53, 56} << Qt::KeyboardModifiers(Qt::ShiftModifier) << 0
            << QList<int>{53, 54, 55, 56} << 56;
        QTest::newRow("down") << QList<int>{55} << Qt::KeyboardModifiers() << int(Qt::Key_Down)
                              << QList<int>{56} << 56;
        QTest::newRow("up") << QList<int>{55} << Qt::KeyboardModifiers() << int(Qt::Key_Up) << QList<int>{54}
                            << 54;
        QTest::newRow("end") << QList<int>{55} << Qt::KeyboardModifiers() << int(Qt::Key_End)
                             << QList<int>{199} << 199;
        QTest::newRow("home") << QList<int>{55} << Qt::KeyboardModifiers() << int(Qt::Key_Home)
                              << QList<int>{0} << 0;
    }

    void listSelectsByMouseAndKeys() {
        QFETCH(QList<int>, clicks);
        QFETCH(Qt::KeyboardModifiers, clickModifiers);
        QFETCH(int, key);
        QFETCH(QList<int>, selected);
        QFETCH(int, current);

        QListView* list = m_form->ListBox1;
        auto* model = qobject_cast<QStringListModel*>(list->model());
        QStringList entries;
        for (int i = 0; i < 200; ++i)
            entries.append(QStringLiteral("http://h/%1.htm").arg(i));
        model->setStringList(entries);
        m_form->resize(805, 900);
        list->scrollTo(model->index(50), QAbstractItemView::PositionAtTop);
        QTRY_COMPARE(list->indexAt(QPoint(5, 1)).row(), 50);
        for (qsizetype i = 0; i < clicks.size(); ++i) {
            const QRect place = list->visualRect(model->index(clicks.at(i)));
            QVERIFY(list->viewport()->rect().contains(place.center()));
            QCOMPARE(list->indexAt(place.center()).row(), clicks.at(i));
            QTest::mouseClick(list->viewport(), Qt::LeftButton,
                              i == 0 ? Qt::KeyboardModifiers() : clickModifiers, place.center());
        }
        if (key != 0)
            QTest::keyClick(list, Qt::Key(key));
        const auto rowsSelected = [list] {
            QList<int> rows;
            for (const QModelIndex& index : list->selectionModel()->selectedRows())
                rows.append(index.row());
            std::sort(rows.begin(), rows.end());
            return rows;
        };
        QCOMPARE(rowsSelected(), selected);
        QCOMPARE(list->currentIndex().row(), current);
        // The current row is scrolled into view.
        QVERIFY(list->viewport()->rect().intersects(list->visualRect(list->currentIndex())));

        const int scrolled = list->verticalScrollBar()->value();
        const int maximum = list->verticalScrollBar()->maximum();
        const int rows = 250;
        model->insertRows(200, rows - 200);
        for (int i = 200; i < rows; ++i)
            model->setData(model->index(i), QStringLiteral("http://h/%1.htm").arg(i));
        QCOMPARE(rowsSelected(), selected);
        QCOMPARE(list->verticalScrollBar()->value(), scrolled);
        QTRY_VERIFY(list->verticalScrollBar()->maximum() > maximum);
        list->scrollToBottom();
        QTRY_COMPARE(list->indexAt(list->visualRect(model->index(rows - 1)).center()).row(), rows - 1);
    }

    void listsExposeTheirItemsToAccessibility() {
        auto* model = qobject_cast<QStringListModel*>(m_form->ListBox2->model());
        model->setStringList({"http://h/a.jpg", "http://h/b.jpg", "http://h/%E5%86%99.jpg"});
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_form->ListBox2);
        QVERIFY(list);
        QCOMPARE(list->text(QAccessible::Name), QStringLiteral("データファイル"));
        QVERIFY(list->childCount() >= 2);
        QStringList texts;
        for (int i = 0; i < list->childCount(); ++i)
            texts.append(list->child(i)->text(QAccessible::Name));
        QVERIFY(texts.contains(QStringLiteral("http://h/b.jpg")));
        // An entry is read as the list shows it, not percent-encoded.
        QVERIFY(texts.contains(QStringLiteral("http://h/写.jpg")));
        QVERIFY(!texts.contains(QStringLiteral("http://h/%E5%86%99.jpg")));
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
