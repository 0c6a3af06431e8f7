#include "GuiTestMain.h"
#include "ResultListModel.h"
#include "ResultListPanel.h"
#include "TForm1.h"
#include "tlinksys.h"

#include <QAction>
#include <QLineEdit>
#include <QListView>
#include <QTest>

// The result lists take each page of an analysis with the same work however long they have grown.
// Work is counted, not timed (the machine is shared): the entries looked up by the views and the
// panels while a page's records reach the lists. 200 pages of 300 records arrive one at a time; the
// last fifty pages may take at most 1.5 times the lookups of the first fifty. bench/lists times the
// same step over 1,000 pages.
class TestListGrowth : public QObject {
    Q_OBJECT

    static constexpr int Pages = 200;
    static constexpr int PerPage = 300;

    // Records as a page gives them: three linked pages to two images. Addresses on a closed port of
    // this machine, so that the picture view's fetches go nowhere.
    static void addRecords(tlinksys* harvester, int first) {
        for (int i = first; i < first + PerPage; ++i) {
            const bool page = i % 5 < 3;
            harvester->List.Add(tURLData::make(
                page ? QStringLiteral("http://127.0.0.1:9/%E6%97%A5%E6%9C%AC/page-%1.html").arg(i)
                     : QStringLiteral("http://127.0.0.1:9/photos/photo-%1.JPG").arg(i),
                page ? tURLData::KindPage : tURLData::KindImage, 0, QStringLiteral("http://127.0.0.1:9/")));
        }
    }

private Q_SLOTS:
    void pageWorkStaysFlat_data() {
        QTest::addColumn<bool>("pictures");
        QTest::addColumn<QString>("filter");
        QTest::newRow("both lists") << false << QString();
        QTest::newRow("data files as pictures") << true << QString();
        QTest::newRow("filtered while they grow") << false << QStringLiteral("photo-1");
    }

    void pageWorkStaysFlat() {
        QFETCH(bool, pictures);
        QFETCH(QString, filter);
        TForm1::Options options;
        options.adListUrl = QUrl(QStringLiteral("http://127.0.0.1:9/ads.txt"));
        TForm1 form(options);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Pictures1->setChecked(pictures);
        if (!filter.isEmpty()) {
            form.kensaku2->setText(filter);
            form.Button9Click();
        }
        tlinksys* harvester = form.harvester();
        const QList<const ResultListModel*> models = {form.GroupBox1->model(), form.GroupBox2->model()};
        auto lookups = [&] {
            quint64 sum = 0;
            for (const ResultListModel* model : models)
                sum += model->lookups();
            return sum;
        };
        QList<quint64> work;
        for (int page = 0; page < Pages; ++page) {
            addRecords(harvester, page * PerPage);
            const quint64 before = lookups();
            Q_EMIT harvester->pageFinished(QStringLiteral("http://127.0.0.1:9/page-%1.html").arg(page), true,
                                           QString());
            // Laid out and painted as between two pages of an analysis.
            QCoreApplication::processEvents();
            form.ListBox1->viewport()->repaint();
            form.GroupBox2->currentView()->viewport()->repaint();
            work.append(lookups() - before);
        }
        QCOMPARE(form.GroupBox1->model()->rowCount(), Pages * PerPage * 3 / 5);
        quint64 first = 0, last = 0;
        for (int i = 0; i < 50; ++i) {
            first += work.at(i);
            last += work.at(Pages - 50 + i);
        }
        QVERIFY(first > 0);
        QVERIFY2(
            double(last) <= 1.5 * double(first),
            qPrintable(QStringLiteral("first fifty pages: %1 lookups, last fifty: %2").arg(first).arg(last)));
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestListGrowth)
#include "tst_listgrowth.moc"
