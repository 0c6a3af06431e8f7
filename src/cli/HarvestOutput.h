#pragma once

#include "ImageProbe.h"
#include "tURLData.h"

#include <QHash>
#include <QObject>

#include <deque>
#include <functional>

// What "nepirika harvest" prints of the records, page by page in harvest order: with probing on,
// each page's images are probed first (several at once, the pages after it going on meanwhile) and
// the page is printed once its facts are in; --largest and --min-width/--min-height leave out what
// they do not keep.
class HarvestOutput : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool json = false;
        bool probe = false;
        bool largest = false;
        qint64 minWidth = 0;
        qint64 minHeight = 0;
        // Image sets reach from one page into the pages it links to (following links): with
        // --largest, the pages are printed together once the last is done.
        bool setsAcrossPages = false;
        // The connection rules and identity of the probes (user agent, cookies).
        DownloadOptions network;
        // For addresses, the path of the latest saved file of each that the download history has
        // saved (and whose file is still there); a --json record of one carries it as "saved".
        // None: nothing is looked up.
        std::function<QHash<QString, QString>(const QStringList& urls)> savedLookup;
        // Records with a saved file are left out (and counted).
        bool newOnly = false;
    };
    using Print = std::function<void(const QString& line)>;

    // print gets each line; printed runs after each page's lines.
    HarvestOutput(const Options& options, Print print, std::function<void()> printed,
                  QObject* parent = nullptr);

    // The records of one more page (or what remains at the end), in harvest order.
    void addPage(const QList<tURLData>& records);
    // No more pages come; done() follows once everything is printed.
    void finish();
    // Images left out by a minimum size because their size could not be read.
    int unsized() const;
    // Records left out by newOnly.
    int savedLeftOut() const;

Q_SIGNALS:
    void done();

private:
    struct Page {
        // With the probes' facts written in as they come.
        QList<tURLData> records;
        int waiting = 0;
        bool probed = false;
    };

    void flush();
    void printPage(const Page& page);

    Options m_options;
    Print m_print;
    std::function<void()> m_printed;
    ImageProbe* m_probe = nullptr;
    std::deque<Page> m_pages;
    // Pages printed before the front of m_pages.
    qint64 m_printedPages = 0;
    // Probe index: the page (counted from the first ever) and the record in it.
    QHash<int, QPair<qint64, qsizetype>> m_probed;
    int m_unsized = 0;
    int m_savedLeftOut = 0;
    bool m_finishing = false;
    bool m_done = false;
};
