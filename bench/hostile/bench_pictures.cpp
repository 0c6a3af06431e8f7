// The picture view over a page of 12 hostile PNGs (48 bytes each, a tEXt chunk claiming 2³¹−1
// bytes) and 3 good pictures, served by a loopback server: how much the window's peak memory grows
// when the view opens, the longest pause of its event loop meanwhile, and what each cell says.
// With --damaged-cache, the thumbnail disk cache holds such a damaged file for every address first.
// Run: QT_QPA_PLATFORM=offscreen bench_pictures [--damaged-cache]
#include "NepirikaApplication.h"
#include "PictureStore.h"
#include "ResultListPanel.h"
#include "TForm1.h"
#include "TestHttpServer.h"
#include "ThumbnailDiskCache.h"
#include "WebEngineSetup.h"
#include "tlinksys.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace {

// VmRSS or VmHWM of this process, in KiB.
qint64 statusKiB(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The peak is counted again from the present size on.
void resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

QByteArray be32(quint32 v) {
    QByteArray out;
    for (int shift : {24, 16, 8, 0})
        out.append(char(v >> shift));
    return out;
}

QByteArray chunk(const char* type, const QByteArray& data) {
    const QByteArray body = type + data;
    return be32(quint32(data.size())) + body +
           be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

// The 48-byte PNG of the report.
QByteArray hostilePng() {
    return QByteArray("\x89PNG\r\n\x1A\n", 8) +
           chunk("IHDR", be32(1) + be32(1) + QByteArray("\x08\x06\0\0\0", 5)) + be32(0x7FFFFFFF) + "tEXt" +
           "Comment";
}

QByteArray picture(int width, int height, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(width % 360, 160, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A cache file for url whose first text chunk claims 2³¹−1 bytes (292 bytes in all).
void plantDamagedCacheFile(const QString& folder, const QString& url) {
    const QByteArray hash = QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex();
    const QString path = folder + u'/' + QLatin1String(hash.left(2)) + u'/' + QLatin1String(hash.mid(2)) +
                         QStringLiteral(".png");
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray file = QByteArray("\x89PNG\r\n\x1A\n", 8) +
                      chunk("IHDR", be32(1) + be32(1) + QByteArray("\x08\x06\0\0\0", 5)) +
                      chunk("tEXt", "nepirika-url\0" + url.toUtf8());
    file += QByteArray(292 - file.size() - 12, 'x');
    file = file.left(33) + be32(0x7FFFFFFF) + file.mid(37);
    file += chunk("IEND", {});
    QFile out(path);
    if (out.open(QIODevice::WriteOnly))
        out.write(file);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toUtf8());
    WebEngineSetup::prepareBeforeApplication();
    NepirikaApplication app(argc, argv);
    const bool damagedCache = app.arguments().contains(QStringLiteral("--damaged-cache"));
    TestHttpServer server;
    if (!server.start())
        return 1;
    server.route(QStringLiteral("/page.html"), TestHttpResponse::html("<html></html>"));
    QStringList urls;
    for (int i = 0; i < 12; ++i) {
        const QString path = QStringLiteral("/bad/%1.png").arg(i);
        server.route(path, TestHttpResponse::withType("image/png", hostilePng()));
        urls.append(server.url(path).toString());
    }
    const QList<QByteArray> good{picture(1600, 1200, "JPEG"), picture(800, 600, "PNG"),
                                 picture(640, 480, "BMP")};
    const char* const names[] = {"/good/0.jpg", "/good/1.png", "/good/2.bmp"};
    const char* const types[] = {"image/jpeg", "image/png", "image/bmp"};
    for (int i = 0; i < 3; ++i) {
        server.route(QString::fromLatin1(names[i]), TestHttpResponse::withType(types[i], good.at(i)));
        urls.append(server.url(QString::fromLatin1(names[i])).toString());
    }
    if (damagedCache)
        for (const QString& url : std::as_const(urls))
            plantDamagedCacheFile(ThumbnailDiskCache::defaultFolder(), url);

    TForm1 form{TForm1::Options{}};
    form.resize(1200, 900);
    form.show();
    QElapsedTimer settle;
    settle.start();
    const QString page = server.url(QStringLiteral("/page.html")).toString();
    for (const QString& url : std::as_const(urls))
        form.harvester()->List.Add(tURLData::make(url, tURLData::KindImage, 0, page));
    form.Button11Click();
    while (settle.elapsed() < 2000)
        app.processEvents();
    const qint64 baseline = statusKiB("VmRSS:");
    resetPeak();

    QElapsedTimer pass;
    QElapsedTimer total;
    total.start();
    form.GroupBox2->setPicturesShown(true);
    form.GroupBox2->grid->viewport()->repaint();
    qint64 longest = 0;
    // The cells on screen first, then those further down once scrolled to.
    for (const bool bottom : {false, true}) {
        if (bottom)
            form.GroupBox2->grid->scrollToBottom();
        QElapsedTimer wait;
        wait.start();
        do {
            pass.start();
            app.processEvents(QEventLoop::AllEvents, 5);
            longest = std::max(longest, pass.elapsed());
        } while ((form.Pictures->pending() > 0 || wait.elapsed() < 500) && wait.elapsed() < 60000);
    }
    const qint64 peak = statusKiB("VmHWM:");

    int shown = 0, damaged = 0;
    for (const QString& url : std::as_const(urls)) {
        shown += !form.Pictures->thumbnail(url).isNull();
        damaged += form.Pictures->facts(url).problem == QStringLiteral("画像が壊れています");
    }
    for (const QString& url : std::as_const(urls))
        if (form.Pictures->thumbnail(url).isNull() && !url.contains(QLatin1String("/bad/")))
            std::printf("%s: %s\n", qPrintable(url), qPrintable(form.Pictures->facts(url).toolTipText()));
    std::printf("cache %s\nbaseline RSS %lld MiB\npeak growth when the view opens %lld MiB\n"
                "longest event-loop pause %lld ms\nsettled in %lld ms\nthumbnails shown %d of 3\n"
                "cells saying 画像が壊れています %d of 12\n",
                damagedCache ? "damaged files for every address" : "empty", baseline / 1024,
                (peak - baseline) / 1024, longest, total.elapsed(), shown, damaged);
    return 0;
}
