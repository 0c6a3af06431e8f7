// The picture view of the data files with 5,000 image records served by a loopback server: the time
// to switch the band from the list to the grid, the longest pause of the event loop while the
// thumbnails load as the grid is scrolled through, and the memory over the window's own baseline
// once every thumbnail has been seen. Run: QT_QPA_PLATFORM=offscreen bench_grid
#include "NepirikaApplication.h"
#include "PictureStore.h"
#include "ResultListPanel.h"
#include "TForm1.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"
#include "tlinksys.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

QByteArray picture(int width, int height, const char* format, int shade) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(shade % 360, 160, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    NepirikaApplication app(argc, argv);
    constexpr int Images = 5000;
    TestHttpServer server;
    if (!server.start())
        return 1;
    // A few hundred distinct pictures (photo-sized JPEGs, PNGs), each served under many names.
    QList<QByteArray> bodies;
    for (int i = 0; i < 40; ++i)
        bodies.append(picture(800 + i * 10, 600, i % 2 ? "PNG" : "JPEG", i * 9));
    server.route(QStringLiteral("/page.html"), TestHttpResponse::html("<html></html>"));
    for (int i = 0; i < Images; ++i)
        server.route(QStringLiteral("/img/%1.%2").arg(i).arg(i % 2 ? "png" : "jpg"),
                     TestHttpResponse::withType(i % 2 ? "image/png" : "image/jpeg", bodies.at(i % 40)));

    TForm1 form{TForm1::Options{}};
    form.resize(1200, 900);
    form.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500)
        app.processEvents();
    const qint64 baseline = residentKiB();
    const QString page = server.url(QStringLiteral("/page.html")).toString();
    for (int i = 0; i < Images; ++i)
        form.harvester()->List.Add(tURLData::make(
            server.url(QStringLiteral("/img/%1.%2").arg(i).arg(i % 2 ? "png" : "jpg")).toString(),
            tURLData::KindImage, 0, page));
    form.Button11Click();
    app.processEvents();

    QElapsedTimer timer;
    timer.start();
    form.GroupBox2->setPicturesShown(true);
    // Switched once the grid is laid out and painted.
    form.GroupBox2->grid->viewport()->repaint();
    app.processEvents();
    const qint64 switchMs = timer.elapsed();

    // Scroll through the grid a page at a time, waiting on each page until its thumbnails are in;
    // every pass of the event loop is timed.
    QListView* grid = form.GroupBox2->grid;
    QScrollBar* bar = grid->verticalScrollBar();
    qint64 longest = 0;
    QElapsedTimer pass;
    QElapsedTimer total;
    total.start();
    for (int value = 0;; value += grid->viewport()->height()) {
        bar->setValue(value);
        QElapsedTimer wait;
        wait.start();
        do {
            pass.start();
            app.processEvents(QEventLoop::AllEvents, 5);
            longest = std::max(longest, pass.elapsed());
        } while (form.Pictures->pending() > 0 && wait.elapsed() < 20000);
        if (value >= bar->maximum())
            break;
    }
    const qint64 memoryMiB = (residentKiB() - baseline) / 1024;
    std::printf("images %d\nswitch to grid %lld ms\nlongest event-loop pause %lld ms\n"
                "all thumbnails seen in %lld ms\nmemory over baseline %lld MiB\n",
                Images, switchMs, longest, total.elapsed(), memoryMiB);
    return 0;
}
