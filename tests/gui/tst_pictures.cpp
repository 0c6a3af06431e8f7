#include "GuiTestMain.h"
#include "PictureStore.h"
#include "ResultListModel.h"
#include "ResultListPanel.h"
#include "TForm1.h"
#include "TestHttpServer.h"
#include "tlinksys.h"

#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QSpinBox>
#include <QTest>

#include <cstdlib>
#include <memory>

// The picture view of the data files, over the tests' own server: both views share the entries and
// the selection, a cell gets its facts and thumbnail, failures say why, and the narrowing by size
// applies to the entries.
class TestPictures : public QObject {
    Q_OBJECT

    TestHttpServer m_server;
    std::unique_ptr<TForm1> m_form;

    // With see-through, the right half is transparent.
    static QByteArray picture(int width, int height, const char* format, bool seeThrough = false) {
        QImage image(width, height, seeThrough ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        image.fill(seeThrough ? Qt::transparent : Qt::darkCyan);
        if (seeThrough)
            QPainter(&image).fillRect(0, 0, width / 2, height, Qt::darkCyan);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return bytes;
    }

    QString address(const char* path) const { return m_server.url(QString::fromLatin1(path)).toString(); }

    QStringList shown() const {
        QStringList names;
        for (const QString& url : m_form->GroupBox2->model()->stringList())
            names.append(url.section(QLatin1Char('/'), -1));
        return names;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        m_server.route(QStringLiteral("/small.png"),
                       TestHttpResponse::withType("image/png", picture(64, 48, "PNG")));
        m_server.route(QStringLiteral("/big.jpg"),
                       TestHttpResponse::withType("image/jpeg", picture(200, 100, "JPEG")));
        m_server.route(QStringLiteral("/tall.bmp"),
                       TestHttpResponse::withType("image/bmp", picture(120, 160, "BMP")));
        m_server.route(QStringLiteral("/wide.png"),
                       TestHttpResponse::withType("image/png", picture(300, 50, "PNG", true)));
        // An error page labelled as a picture, and a picture that is not there.
        m_server.route(
            QStringLiteral("/fake.jpg"),
            TestHttpResponse::withType("image/jpeg", "<!DOCTYPE html><html><body>no</body></html>"));
        m_server.route(QStringLiteral("/gone.png"), TestHttpResponse::error(404));
    }

    void init() {
        m_form = std::make_unique<TForm1>(TForm1::Options{});
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        const QString page = address("/page.html");
        for (const char* path :
             {"/small.png", "/big.jpg", "/tall.bmp", "/wide.png", "/fake.jpg", "/gone.png"})
            m_form->harvester()->List.Add(tURLData::make(address(path), tURLData::KindImage, 0, page));
        m_form->harvester()->List.Add(tURLData::make(address("/clip.mp4"), tURLData::KindEmbed, 0, page));
        m_form->Button11Click();
    }

    void cleanup() { m_form.reset(); }

    void picturesAndNarrowing_data() {
        QTest::addColumn<int>("minWidth");
        QTest::addColumn<int>("minHeight");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no minimum: every entry, failures and media too")
            << 0 << 0 << QStringList{"small.png", "big.jpg",  "tall.bmp", "wide.png",
                                     "fake.jpg",  "gone.png", "clip.mp4"};
        QTest::newRow("width") << 100 << 0 << QStringList{"big.jpg", "tall.bmp", "wide.png"};
        QTest::newRow("height") << 0 << 150 << QStringList{"tall.bmp"};
        QTest::newRow("both, at the edge") << 300 << 50 << QStringList{"wide.png"};
        QTest::newRow("none that large") << 301 << 301 << QStringList{};
    }

    void picturesAndNarrowing() {
        QFETCH(int, minWidth);
        QFETCH(int, minHeight);
        QFETCH(QStringList, expected);
        ResultListPanel* band = m_form->GroupBox2;
        QCOMPARE(band->model()->rowCount(), 7);

        // Ctrl+G shows the pictures in place of the list, over the same entries and selection.
        QVERIFY(!band->picturesShown());
        QTest::keyClick(m_form.get(), Qt::Key_G, Qt::ControlModifier);
        QVERIFY(band->picturesShown());
        QVERIFY(band->grid->isVisible() && !m_form->ListBox2->isVisible());
        QVERIFY(m_form->Pictures1->isChecked());
        QCOMPARE(band->grid->selectionModel(), m_form->ListBox2->selectionModel());
        band->grid->selectionModel()->select(band->model()->index(1), QItemSelectionModel::Select);
        QCOMPARE(band->selectedItems().value(0).url, address("/big.jpg"));
        QCOMPARE(band->selectedItems().value(0).referer, address("/page.html"));

        // The cells on screen get their facts and thumbnails.
        PictureStore* store = m_form->Pictures;
        const QString big = address("/big.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(!store->thumbnail(big).isNull(), 10000);
        QCOMPARE(store->facts(big).pixelText(), QStringLiteral("200×100"));
        QCOMPARE(store->facts(big).typeName, QStringLiteral("JPEG"));
        QVERIFY(store->facts(big).byteText().endsWith(QLatin1String(" KB")) ||
                store->facts(big).byteText().endsWith(QLatin1String(" B")));
        // Kept as drawn: opaque colours exact, transparency only where the picture has it.
        const QImage opaque = store->thumbnail(big);
        QVERIFY(!opaque.hasAlphaChannel());
        const QColor middle = opaque.pixelColor(opaque.width() / 2, opaque.height() / 2);
        QVERIFY2(middle.red() < 4 && std::abs(middle.green() - 128) < 4 && std::abs(middle.blue() - 128) < 4,
                 qPrintable(middle.name()));
        QTRY_VERIFY_WITH_TIMEOUT(!store->thumbnail(address("/wide.png")).isNull(), 10000);
        const QImage clear = store->thumbnail(address("/wide.png"));
        QCOMPARE(clear.pixelColor(2, clear.height() / 2), QColor(Qt::darkCyan));
        QCOMPARE(clear.pixelColor(clear.width() - 3, clear.height() / 2).alpha(), 0);
        // Cells further down are fetched once they come on screen.
        band->grid->scrollTo(band->model()->index(4));
        QTRY_COMPARE_WITH_TIMEOUT(store->facts(address("/fake.jpg")).state, PictureFacts::State::Failed,
                                  10000);
        QCOMPARE(store->facts(address("/fake.jpg")).problem, QStringLiteral("画像ではありません"));
        band->grid->scrollTo(band->model()->index(5));
        QTRY_COMPARE_WITH_TIMEOUT(store->facts(address("/gone.png")).state, PictureFacts::State::Failed,
                                  10000);
        QVERIFY2(store->facts(address("/gone.png")).problem.contains(QLatin1String("404")),
                 qPrintable(store->facts(address("/gone.png")).problem));

        // Narrowed by size in both views; what is not known or failed is left out once a size is asked.
        band->minWidthBox->setValue(minWidth);
        band->minHeightBox->setValue(minHeight);
        QTRY_COMPARE_WITH_TIMEOUT(shown(), expected, 10000);
        QCOMPARE(m_form->ListBox2->model(), band->grid->model());

        // Back to the list, the selection kept where the entry is still shown.
        QTest::keyClick(m_form.get(), Qt::Key_G, Qt::ControlModifier);
        QVERIFY(!band->picturesShown() && m_form->ListBox2->isVisible());
        QCOMPARE(band->hasSelection(), expected.contains(QStringLiteral("big.jpg")));
    }
};

NEPIRIKA_GUI_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
