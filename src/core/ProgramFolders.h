#pragma once

#include <QString>

// The folders of the files the program keeps, under one name everywhere: "nepirika" in the user's
// configuration, data and cache folders (~/.config/nepirika, ~/.local/share/nepirika,
// ~/.cache/nepirika). A portable copy (DownloadFolderRule::PortableMarker beside the program, in a
// folder the user can write to) keeps them beside the program instead, in
// "nepirika-files/config", "…/data" and "…/cache" (or under the absolute folder that the
// environment variable NEPIRIKA_FILES names).
namespace ProgramFolders {

enum class Kind { Config, Data, Cache };

inline const QString Name = QStringLiteral("nepirika");
inline const QString PortableFolder = QStringLiteral("nepirika-files");

// The folder of that kind (not made here).
QString folder(Kind kind);
// The same for a program in programFolder (a portable copy when the marker is there).
QString folder(Kind kind, const QString& programFolder);

} // namespace ProgramFolders
