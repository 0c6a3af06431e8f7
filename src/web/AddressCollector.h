#pragma once

#include "CollectedAddress.h"
#include "TWebBrowser.h"
#include "WorkLimits.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>

class QWebEnginePage;

// Collects every address of a page's document tree: its links, images and embeds (srcset
// candidates, lazy loaders' attributes, media, posters, background images and share images
// included), those inside open shadow roots and those of its frames, same-origin and cross-origin.
//
// The work is done by a script (the PageScan*.js parts, joined by the build) that install() places
// in every frame of a page, in the application's own script world. The top frame walks what it can
// reach and asks each cross-origin frame over that frame's collector's own line; collect() starts it
// with a key of its own and, while frames are still answering, asks the top frame again every few
// milliseconds. The answer comes in pieces, each checked address by address (CollectedAddress) as
// it is added.
class AddressCollector {
public:
    using Done = std::function<void(bool ok, const PageAddresses& addresses, const QString& reason)>;

    // The most addresses taken from one page, its frames included; a page with more is cut there
    // and says so (PageAddresses::truncated). The page's address text is bounded too
    // (CollectedAddress::PageChars).
    static constexpr int Limit = WorkLimits::MostRecordsPerPage;
    // How long at most the top frame waits for its cross-origin frames to answer.
    static constexpr int FrameBudgetMs = 2000;

    // Places the collector in every frame that the page loads from now on (once for a page).
    static void install(QWebEnginePage* page);
    // Collects the page's current document tree. done runs once, from the event loop, unless the
    // page goes away first; generation is the number that the current navigation's documents
    // carry (-1 for none), which tells them from a document that showed before.
    // progress, when given, runs at each piece of the answer.
    static void collect(QWebEnginePage* page, qint64 generation, int frameBudgetMs, Done done,
                        int limit = Limit, qsizetype chars = CollectedAddress::PageChars,
                        std::function<void()> progress = {});

    // The script that asks for the next piece of an answer.
    static QString takeScript(const QString& ticket);

    // Puts an answer together from its pieces, keeping only what CollectedAddress takes and what
    // the bounds allow.
    class Assembly {
    public:
        Assembly(qint64 generation, int limit, qsizetype chars);
        enum class Step {
            Done,      // addresses() holds the whole answer
            More,      // ticket() names the next piece
            Waiting,   // frames are still answering: ask again with ticket()
            Unreadable // no answer, or not one of the collector's
        };
        Step add(const QString& answer);
        const QString& ticket() const;
        PageAddresses& addresses();

    private:
        bool addPiece(const QString& piece);
        // taken, when given, gets the index in to of each address of the piece (-1: not taken).
        struct Group {
            QStringList& to;
            QStringList& vias;
            QStringList& charsets;
            QStringList& titles;
        };
        void addGroup(const QJsonObject& piece, const QString& prefix, CollectedAddress::Role role,
                      Group group, QList<qsizetype>* taken = nullptr);
        void addImageFacts(const QJsonValue& facts, const QList<qsizetype>& taken);
        void addLinkSets(const QJsonValue& sets, const QList<qsizetype>& taken);
        void addImageAlts(const QJsonValue& alts, const QList<qsizetype>& taken);

        qint64 m_generation;
        int m_left;
        qsizetype m_chars;
        bool m_first = true;
        // The bounds were reached here (whatever the collector said).
        bool m_cut = false;
        QString m_ticket;
        QStringList m_vias;
        PageAddresses m_addresses;
    };
};
