#pragma once

#include "ImageNarrowing.h"
#include "LinkFollowing.h"
#include "WorkLimits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class QSettings;

// What the program remembers between runs, kept in an INI file in the user's configuration folder
// (~/.config/nepirika/nepirika.ini). Each value has a typed accessor with its default; a value missing
// from the file or out of range reads as the default. Changes are written when the object goes or
// sync() is called.
class AppSettings {
public:
    // Settings kept in memory only: nothing is read or written (a window that remembers nothing).
    AppSettings();
    // The settings in the INI file at path.
    explicit AppSettings(const QString& path);
    // The user's settings file: nepirika/nepirika.ini in the user's configuration folder.
    static QString defaultFile();
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // Empty for settings kept in memory.
    QString fileName() const;
    // Writes pending changes; false when the file cannot be written.
    bool sync();

    // The folder boxes of the linked pages and of the data files.
    QString pagesFolder() const;
    void setPagesFolder(const QString& folder);
    QString filesFolder() const;
    void setFilesFolder(const QString& folder);

    // The filter boxes of the two lists.
    QString pagesFilter() const;
    void setPagesFilter(const QString& text);
    QString filesFilter() const;
    void setFilesFilter(const QString& text);

    // The 保存名 box of a band ("pages" or "files"): its mask (empty: names as without one) and the
    // last masks used there, the latest first, at most RecentMasksKept.
    static constexpr int RecentMasksKept = 10;
    QString nameMask(const QString& band) const;
    void setNameMask(const QString& band, const QString& mask);
    QStringList recentNameMasks(const QString& band) const;
    // Puts mask first (moving it there when it is in the list already); blank masks are not kept.
    void addRecentNameMask(const QString& band, const QString& mask);
    // The folder of the file last opened or saved through the file dialogs; empty when none.
    QString lastFileFolder() const;
    void setLastFileFolder(const QString& folder);

    // The main window's geometry as QWidget::saveGeometry gives it; empty when none was kept.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

    // The last analysed inputs, the latest first, each the input box's text (its first
    // RecentLinesKept address lines); at most RecentLimit.
    QStringList recentInputs() const;
    // For each of recentInputs(), how many address lines past RecentLinesKept were left out.
    QList<qsizetype> recentLinesLeftOut() const;
    // Puts input first (moving it there when it is in the list already) and drops the oldest beyond the
    // limit. Blank inputs are not kept; a long one keeps its first RecentLinesKept lines, so that the
    // settings file stays small.
    void addRecentInput(const QString& input);
    void clearRecentInputs();

    // Pages are loaded without running their scripts.
    bool noScripts() const;
    void setNoScripts(bool on);
    // Each page is scrolled to its end before it is harvested; off unless set.
    bool scrollToEnd() const;
    void setScrollToEnd(bool on);
    // How many pages an analysis loads at the same time (1 to WorkLimits::MostPagesAtOnce).
    int parallelPages() const;
    void setParallelPages(int count);
    // How many files a download fetches at the same time (1 to WorkLimits::MostTransfersAtOnce).
    int downloadJobs() const;
    void setDownloadJobs(int count);

    // Every file saved is recorded in the download history; on unless turned off.
    bool recordHistory() const;
    void setRecordHistory(bool on);

    // The data files are shown as pictures rather than as a list.
    bool filesAsPictures() const;
    void setFilesAsPictures(bool on);
    // The narrowing of the data files by size and kind, and their order; damaged values read as none.
    ImageNarrowing::Criteria filesNarrowing() const;
    void setFilesNarrowing(const ImageNarrowing::Criteria& criteria);
    // Following links from the analysed pages (depth 0: not at all); damaged values read as the
    // defaults, numbers out of range as the nearest allowed.
    LinkFollowing::Settings following() const;
    void setFollowing(const LinkFollowing::Settings& settings);
    // How the window divides its height between the two result lists (QSplitter::saveState); empty
    // when none was kept. And whether the data files fill the window.
    QByteArray bandSizes() const;
    void setBandSizes(const QByteArray& state);
    bool filesFillWindow() const;
    void setFilesFillWindow(bool on);

    static constexpr int RecentLimit = 20;
    static constexpr int RecentLinesKept = 200;
    static constexpr int DefaultParallelPages = WorkLimits::DefaultPagesAtOnce;
    static constexpr int DefaultDownloadJobs = WorkLimits::DefaultTransfersAtOnce;

    static inline const QString DefaultPagesFolder = QStringLiteral("Page");
    static inline const QString DefaultFilesFolder = QStringLiteral("DL");
    static inline const QString DefaultPagesFilter = QStringLiteral(".htm");
    static inline const QString DefaultFilesFilter = QStringLiteral(".jpg");

private:
    struct RecentInput {
        QString text;
        qsizetype linesLeftOut = 0;
    };
    QList<RecentInput> recentEntries() const;
    void writeRecentEntries(const QList<RecentInput>& entries);
    int boundedInt(const QString& key, int most, int fallback) const;
    QVariant read(const QString& key, const QVariant& fallback = {}) const;
    void write(const QString& key, const QVariant& value);

    std::unique_ptr<QSettings> m_settings; // null: kept in m_memory only
    QVariantMap m_memory;
};
