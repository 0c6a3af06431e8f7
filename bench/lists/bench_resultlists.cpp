// Benchmark of the main window's result lists: 100,000 records shown, filtered, unfiltered and
// viewed as text, each step timed until the window has painted it. The target is well under one
// second a step; the exit status is 1 when a step takes a second or more.
//
//   build/bench/lists/bench_resultlists [RECORDS] [RUNS]
//
// Runs offscreen; the banner's list address is a closed port on 127.0.0.1, so nothing leaves the
// machine.

#include "NepirikaApplication.h"
#include "TForm1.h"
#include "TForm3.h"
#include "WebEngineSetup.h"
#include "tlinksys.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

qint64 timed(const std::function<void()>& step, const QList<QWidget*>& painted) {
    QElapsedTimer clock;
    clock.start();
    step();
    for (QWidget* widget : painted)
        widget->repaint();
    return clock.elapsed();
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    WebEngineSetup::prepareBeforeApplication();
    NepirikaApplication app(argc, argv);
    const int records = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    TForm1::Options options;
    options.adListUrl = QUrl(QStringLiteral("http://127.0.0.1:9/ads.txt"));
    TForm1 form(options);
    form.show();
    // Measure painting, not an unexposed window.
    QElapsedTimer exposure;
    exposure.start();
    while ((!form.windowHandle() || !form.windowHandle()->isExposed()) && exposure.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    QList<qint64> fill, filterMost, filterFew, filterNone, unfilter, text;
    for (int run = 0; run < runs; ++run) {
        // A fresh harvester, as a new analysis makes one.
        form.Memo1->clear();
        form.Button5Click();
        tlinksys* harvester = form.harvester();
        for (int i = 0; i < records; ++i) {
            const bool page = i % 5 < 3;
            harvester->List.Add(tURLData::make(
                page ? QStringLiteral("http://www.example.com/%E6%97%A5%E6%9C%AC%E8%AA%9E/sub/page-%1.html")
                           .arg(i)
                     : QStringLiteral("http://img.example.com/photos/2024/photo-%1.JPG").arg(i),
                page ? tURLData::KindPage : tURLData::KindImage, 0,
                QStringLiteral("http://www.example.com/")));
        }
        const QList<QWidget*> lists = {form.ListBox1->viewport(), form.ListBox2->viewport()};
        fill.append(timed([&] { form.Button3Click(); }, lists));
        form.kensaku1->setText(QStringLiteral(".HTM"));
        filterMost.append(timed([&] { form.Button8Click(); }, lists));
        form.kensaku1->setText(QStringLiteral("page-4242"));
        filterFew.append(timed([&] { form.Button8Click(); }, lists));
        // Nothing matches: every percent-encoded address is decoded and searched too.
        form.kensaku1->setText(QStringLiteral("zzz"));
        filterNone.append(timed([&] { form.Button8Click(); }, lists));
        unfilter.append(timed([&] { form.Button10Click(); }, lists));
        text.append(timed(
            [&] {
                form.Button2Click();
                form.textViews().constLast()->kekka->viewport()->repaint();
            },
            {}));
        for (TForm3* view : form.textViews())
            delete view;
    }

    struct Row {
        const char* name;
        const QList<qint64>& times;
    };
    const Row rows[] = {{"show results (both lists)", fill},
                        {"filter, most entries match", filterMost},
                        {"filter, few entries match", filterFew},
                        {"filter, nothing matches", filterNone},
                        {"unfilter", unfilter},
                        {"view as text (linked pages)", text}};
    std::printf("%d records, best and worst of %d runs:\n", records, runs);
    bool slow = false;
    for (const Row& row : rows) {
        const qint64 best = *std::min_element(row.times.begin(), row.times.end());
        const qint64 worst = *std::max_element(row.times.begin(), row.times.end());
        std::printf("  %-30s %6lld ms %6lld ms\n", row.name, best, worst);
        slow = slow || worst >= 1000;
    }
    std::printf(slow ? "a step took a second or more\n" : "every step under one second\n");
    return slow ? 1 : 0;
}
