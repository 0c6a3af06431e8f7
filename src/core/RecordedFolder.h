#pragma once

#include <QString>

// The folder a kept record (a download batch to continue) names as where its files go. The record
// is a file on disk that anything may have changed, so the folder is taken only when it is plainly
// a folder of the file system: an absolute path ("/…"; never ":dl", which Qt would read as a
// resource path and save under the working folder), of at most 4095 bytes, of printable characters
// only: no NUL or other control character, no line or paragraph separator, no invisible format
// character (the marks and overrides that turn text around them among them; the joiners of emoji
// and scripts allowed), no half of a surrogate pair and no noncharacter.
namespace RecordedFolder {

bool isUsable(const QString& folder);

} // namespace RecordedFolder
