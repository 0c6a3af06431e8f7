#pragma once

#include "WorkLimits.h"

#include <QString>

#include <functional>

class QWebEnginePage;
struct PageAddresses;

// Collects every address of a page's document tree: its links, images and embeds (srcset
// candidates, lazy loaders' attributes, media, posters, background images and share images
// included), those inside open shadow roots and those of its frames, same-origin and cross-origin.
//
// The work is done by a script (PageScan.js) that install() places in every frame of a page, in the
// application's own script world. The top frame walks what it can reach and asks each cross-origin
// frame over a message channel; collect() starts it and, while frames are still answering, asks the
// top frame again every few milliseconds.
class AddressCollector {
public:
    using Done = std::function<void(bool ok, const PageAddresses& addresses, const QString& reason)>;

    // The most addresses taken from one page, its frames included; a page with more is cut there
    // and says so (PageAddresses::truncated).
    static constexpr int Limit = WorkLimits::MostRecordsPerPage;
    // How long at most the top frame waits for its cross-origin frames to answer.
    static constexpr int FrameBudgetMs = 2000;

    // Places the collector in every frame that the page loads from now on (once for a page).
    static void install(QWebEnginePage* page);
    // Collects the page's current document tree. done runs once, from the event loop, unless the
    // page goes away first; generation is the number that the current navigation's documents
    // carry (-1 for none), which tells them from a document that showed before.
    static void collect(QWebEnginePage* page, qint64 generation, int frameBudgetMs, Done done,
                        int limit = Limit);

    // The script that starts a collection, and the one that asks for a waiting one's answer.
    static QString startScript(QWebEnginePage* page, int limit, int frameBudgetMs);
    static QString takeScript(const QString& ticket);

    enum class Answer { Complete, Waiting, Unreadable };
    // Reads an answer of either script: Complete fills addresses; Waiting gives the ticket to ask
    // again with.
    static Answer read(const QString& answer, qint64 generation, PageAddresses& addresses, QString& ticket);
};
