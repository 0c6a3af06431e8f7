#pragma once

#include <QString>

#include <vector>

// Puts the data of finished downloads on the disk before they get their names, many at once.
namespace DataFlush {

// A copy of the descriptor fd that stays open after fd is closed (-1 on failure).
int duplicate(int fd);

// Flushes the data of the open files (copies made with duplicate), then closes them: each with
// fdatasync when they are few, else the whole file system's cache with one syncfs, which costs
// about as much as one fdatasync. Safe on any thread. Empty on success, else the reason for the user.
QString flush(const std::vector<int>& descriptors);

} // namespace DataFlush
