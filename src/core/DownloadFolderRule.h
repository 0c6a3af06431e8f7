#pragma once

#include <QString>

// Where the "ダウンロード" buttons save: the folder that a folder box's text stands for.
//
// A name is taken under the base folder: the program's own folder for a portable copy (one with the
// file "nepirika.portable" beside it, in a folder the user can write to), otherwise the folder
// "ネピリカ" in the user's download folder. Where the program file happens to sit says nothing: a
// copy in ~/.local/bin or /usr/bin saves into the download folder. An absolute path is used as it
// is; "~" and "~/…" stand for the home folder.
class DownloadFolderRule {
public:
    // The folders the rule works with; fromSystem() takes those of this program and user.
    struct Places {
        QString programFolder;  // the folder of the executable
        QString downloadFolder; // the user's download folder
        QString homeFolder;     // the user's home folder
    };

    explicit DownloadFolderRule(const Places& places);
    static DownloadFolderRule fromSystem();

    // The folder under which names are taken.
    QString baseFolder() const;
    // The absolute, cleaned path that boxText stands for; the base folder for an empty text.
    QString resolve(const QString& boxText) const;

    // The folder under the user's download folder that an installed program uses.
    static inline const QString InstalledFolderName = QStringLiteral("ネピリカ");
    // The file beside the program that makes a copy portable.
    static inline const QString PortableMarker = QStringLiteral("nepirika.portable");

private:
    Places m_places;
};
