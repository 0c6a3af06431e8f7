#include "AppSettings.h"
#include "GuiTestMain.h"
#include "PictureControls.h"
#include "PicturePreview.h"
#include "PictureStore.h"
#include "ResultListModel.h"
#include "ResultListPanel.h"
#include "TForm1.h"
#include "TestHttpServer.h"
#include "tlinksys.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <memory>

// The picture view of the data files, over the tests' own server: both views share the entries and
// the selection, a cell gets its facts and thumbnail, failures say why, and the narrowing by size
// applies to the entries.
class TestPictures : public QObject {
    Q_OBJECT

    TestHttpServer m_server;
    std::unique_ptr<TForm1> m_form;

    static constexpr int GallerySmall = 24;

    // The share of a cell's pixels near a colour.
    static double share(const QImage& cell, const QColor& colour) {
        qint64 near = 0;
        for (int y = 0; y < cell.height(); ++y)
            for (int x = 0; x < cell.width(); ++x) {
                const QColor pixel = cell.pixelColor(x, y);
                near += std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                            std::abs(pixel.blue() - colour.blue()) <
                        60;
            }
        return double(near) / std::max(1, cell.width() * cell.height());
    }

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

        // A gallery for the picture view's behaviours: small pictures, a few large ones after them,
        // each answered a little late, so that measuring takes a while.
        auto slow = [](const QByteArray& type, const QByteArray& body) {
            TestHttpResponse response = TestHttpResponse::withType(type, body);
            response.delayMs = 150;
            return response;
        };
        const QByteArray small = picture(64, 48, "PNG");
        for (int i = 0; i < GallerySmall; ++i)
            m_server.route(QStringLiteral("/g/s%1.png").arg(i), slow("image/png", small));
        m_server.route(QStringLiteral("/g/large.jpg"), slow("image/jpeg", picture(1200, 900, "JPEG")));
        m_server.route(QStringLiteral("/g/wide.png"), slow("image/png", picture(1600, 400, "PNG")));
        m_server.route(QStringLiteral("/g/tall.png"), slow("image/png", picture(400, 1000, "PNG")));
        m_server.route(QStringLiteral("/g/huge.jpg"), slow("image/jpeg", picture(3600, 2700, "JPEG")));
        // A name in Shift_JIS ("写真1.jpg"), and a file said to be larger than a thumbnail is made of.
        m_server.route(QStringLiteral("/g/%8E%CA%90%5E1.jpg"), slow("image/jpeg", picture(64, 48, "JPEG")));
        TestHttpResponse over = slow("image/jpeg", picture(640, 480, "JPEG"));
        over.declaredLength = PictureStore::MaxThumbnailSource + 1024 * 1024;
        m_server.route(QStringLiteral("/g/over.jpg"), over);
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

    void pictureView_data();
    void pictureView();

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

// The picture view as a person works in it: restored as left, narrowed by size while every picture
// it needs is measured (and said so), selected cells seen and counted, a picture opened large and
// stepped through, and an emptied size box meaning none.
void TestPictures::pictureView_data() {
    QTest::addColumn<bool>("restoredAsPictures");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("measured");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("幅, the list shown at start") << false << "1000"
                                                 << ""
                                                 << "幅" << QStringList{"large.jpg", "wide.png", "huge.jpg"};
    QTest::newRow("高さ, the pictures shown at start")
        << true << ""
        << "800"
        << "高さ" << QStringList{"large.jpg", "tall.png", "huge.jpg"};
    QTest::newRow("both") << true << "1000"
                          << "800"
                          << "幅と高さ" << QStringList{"large.jpg", "huge.jpg"};
}

void TestPictures::pictureView() {
    QFETCH(bool, restoredAsPictures);
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(QString, measured);
    QFETCH(QStringList, expected);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString settingsFile = folder.filePath(QStringLiteral("nepirika.ini"));
    {
        AppSettings settings(settingsFile);
        settings.setFilesAsPictures(restoredAsPictures);
        settings.sync();
    }
    m_form.reset();
    TForm1::Options options;
    options.settingsFile = settingsFile;
    m_form = std::make_unique<TForm1>(options);
    m_form->resize(900, 700);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    ResultListPanel* band = m_form->GroupBox2;
    // Restored as it was left, and still kept so.
    QCOMPARE(band->picturesShown(), restoredAsPictures);
    QCOMPARE(m_form->Pictures1->isChecked(), restoredAsPictures);
    QCOMPARE(m_form->settings()->filesAsPictures(), restoredAsPictures);

    const QString page = address("/g/index.html");
    QStringList images;
    for (int i = 0; i < GallerySmall; ++i)
        images.append(m_server.url(QStringLiteral("/g/s%1.png").arg(i)).toString());
    for (const char* path : {"/g/large.jpg", "/g/wide.png", "/g/tall.png", "/g/huge.jpg", "/g/over.jpg"})
        images.append(address(path));
    const QString legacy = address("/g/%8E%CA%90%5E1.jpg");
    images.append(legacy);
    tlinksys* harvester = m_form->harvester();
    harvester->List.Add(tURLData::make(QStringLiteral("javascript:void(0)"), tURLData::KindScript, 0, page));
    for (const QString& image : std::as_const(images))
        harvester->List.Add(tURLData::make(image, tURLData::KindImage, 0, page, {},
                                           image == legacy ? QStringLiteral("Shift_JIS") : QString()));
    m_form->Button11Click();
    // A script link is no data file; a Shift_JIS name reads as it is saved.
    QCOMPARE(band->model()->rowCount(), images.size());
    QVERIFY2(band->text().contains(QStringLiteral("/g/写真1.jpg\n")), qPrintable(band->text()));

    // Typed and confirmed with Enter: every picture the narrowing needs is measured, not only those
    // on screen, and until then the bar and the title say so.
    const QRegularExpression measuring(QStringLiteral("^%1を確認中 (\\d+)/(\\d+)$").arg(measured));
    for (auto [box, text] : {std::pair{band->minWidthBox, width}, std::pair{band->minHeightBox, height}}) {
        if (text.isEmpty())
            continue;
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
    const QRegularExpressionMatch status = measuring.match(band->controls->statusLabel->text());
    QVERIFY2(status.hasMatch(), qPrintable(band->controls->statusLabel->text()));
    QVERIFY(status.captured(1).toInt() < status.captured(2).toInt());
    QCOMPARE(status.captured(2).toInt(), images.size());
    QVERIFY2(band->title().contains(QStringLiteral("確認中")), qPrintable(band->title()));
    QTRY_COMPARE_WITH_TIMEOUT(band->title(), QStringLiteral("データファイル (%1)").arg(expected.size()),
                              30000);
    QCOMPARE(shown(), expected);
    QCOMPARE(band->controls->statusLabel->text(), QString());
    for (const QString& image : std::as_const(images))
        QVERIFY2(m_form->Pictures->facts(image).state != PictureFacts::State::Unknown, qPrintable(image));
    // A picture over the thumbnail limit says why it has none.
    QCOMPARE(m_form->Pictures->facts(address("/g/over.jpg")).problem, PictureStore::tooLargeText());

    // Selected cells are filled with the highlight colour, their captions in its text colour, and
    // counted.
    m_form->Pictures1->setChecked(true);
    QListView* grid = band->grid;
    QVERIFY(grid->isVisible());
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(band->controls->selectionLabel->text(), QStringLiteral("選択 %1 件").arg(expected.size()));
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->Pictures->thumbnail(address("/g/large.jpg")).isNull(), 20000);
    // Room for whole cells: the data files fill the window, as "広げる" lets a person do.
    band->controls->fillButton->setChecked(true);
    QTRY_VERIFY(grid->viewport()->height() > grid->visualRect(band->model()->index(0)).bottom());
    const QImage painted = grid->viewport()->grab().toImage();
    const QPalette colours = grid->palette();
    for (int row = 0; row < expected.size(); ++row) {
        const QImage cell = painted.copy(grid->visualRect(band->model()->index(row)));
        QVERIFY2(share(cell, colours.color(QPalette::Active, QPalette::Highlight)) > 0.25,
                 qPrintable(expected[row]));
        QVERIFY(share(cell, colours.color(QPalette::Active, QPalette::HighlightedText)) > 0.002);
    }

    // Space opens the current picture large, beside a grid that stays usable; the arrows step
    // through the entries, Escape closes it.
    grid->selectionModel()->setCurrentIndex(band->model()->index(0), QItemSelectionModel::NoUpdate);
    QTest::keyClick(grid, Qt::Key_Space);
    PicturePreview* preview = band->preview();
    QVERIFY(preview);
    QVERIFY(preview->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(preview->row(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!preview->picture().isNull(), 20000);
    QVERIFY2(preview->factsText().contains(QStringLiteral("1200×900")), qPrintable(preview->factsText()));
    QCOMPARE(preview->picture().width() * 900, preview->picture().height() * 1200);
    QTest::keyClick(preview, Qt::Key_Right);
    QCOMPARE(preview->row(), 1);
    QCOMPARE(grid->currentIndex().row(), 1);
    QVERIFY(preview->factsText().contains(expected[1]));
    QTest::keyClick(preview, Qt::Key_Left);
    QCOMPARE(preview->row(), 0);
    QTest::keyClick(preview, Qt::Key_Escape);
    QVERIFY(!preview->isVisible());
    // A double click opens it again.
    const QPoint second = grid->visualRect(band->model()->index(1)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, second);
    QVERIFY(preview->isVisible());
    QCOMPARE(preview->row(), 1);
    preview->close();

    // An emptied size box and Enter: no least size.
    for (QSpinBox* box : {band->minWidthBox, band->minHeightBox}) {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(box->value(), 0);
        QCOMPARE(box->text(), QStringLiteral("指定なし"));
    }
    QCOMPARE(band->title(), QStringLiteral("データファイル (%1)").arg(images.size()));

    // The height shared between the lists, and the picture view filling the window, are kept.
    const bool fill = !restoredAsPictures;
    m_form->Bands1->setSizes({100, 400});
    m_form->FillFiles1->setChecked(fill);
    QCOMPARE(m_form->GroupBox1->isHidden(), fill);
    m_form->close();
    m_form = std::make_unique<TForm1>(options);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QCOMPARE(m_form->FillFiles1->isChecked(), fill);
    QCOMPARE(m_form->GroupBox1->isHidden(), fill);
    QVERIFY(m_form->GroupBox2->picturesShown());
    m_form->FillFiles1->setChecked(false);
    QTRY_VERIFY(m_form->GroupBox1->height() * 2 < m_form->GroupBox2->height());
}

NEPIRIKA_GUI_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
