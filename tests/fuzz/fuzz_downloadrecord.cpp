// The kept download record: whatever a record file holds, one that is read names a plain folder of
// the file system and entries whose names stay inside it, and writes back to the same record; a
// record made of any folder and names reads back as written exactly when the folder rule takes the
// folder and the names are plain.

#include "DownloadQueue.h"
#include "FuzzInput.h"
#include "LocalFileName.h"
#include "RecordedFolder.h"

#include <QDir>

namespace {

bool same(const DownloadQueue& a, const DownloadQueue& b) {
    if (a.folder != b.folder || a.entries.size() != b.entries.size())
        return false;
    for (qsizetype i = 0; i < a.entries.size(); ++i) {
        const DownloadQueue::Entry& x = a.entries.at(i);
        const DownloadQueue::Entry& y = b.entries.at(i);
        if (x.url != y.url || x.referer != y.referer || x.charset != y.charset || x.state != y.state ||
            x.name != y.name)
            return false;
    }
    return true;
}

// The folder rule, written out again from its description.
bool plainFolder(const QString& folder) {
    if (!folder.startsWith(u'/') || !QStringView(folder).isValidUtf16())
        return false;
    for (const QChar c : folder) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x061c || u == 0x200e || u == 0x200f ||
            (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029)
            return false;
    }
    return true;
}

void requireSound(const DownloadQueue& queue, const QString& input) {
    FuzzInput::require(RecordedFolder::isUsable(queue.folder) && plainFolder(queue.folder),
                       "a record read names a plain absolute folder", input, queue.folder);
    const QString root = QDir::cleanPath(queue.folder);
    for (const DownloadQueue::Entry& entry : queue.entries) {
        if (entry.name.isEmpty()) {
            FuzzInput::require(entry.state == DownloadQueue::Entry::State::Waiting,
                               "only a waiting entry has no name", input, entry.url);
            continue;
        }
        // A name may hold folders (a name mask's), each part a plain name, all inside the folder.
        const QString path = QDir::cleanPath(QDir(queue.folder).filePath(entry.name));
        const QString inside = root.endsWith(u'/') ? root : root + u'/';
        FuzzInput::require(LocalFileNames::isRelativePath(entry.name) && path.startsWith(inside),
                           "no name leaves its folder", input, entry.name);
    }
    DownloadQueue again;
    QString error;
    FuzzInput::require(DownloadQueue::fromJson(queue.toJson(), &again, &error) && same(again, queue),
                       "a record read writes back to the same record", input, error);
}

} // namespace

// Input: a byte choosing the mode, then a record file (mode even) or, separated by NULs, a folder and
// the names of some entries (mode odd).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString text = FuzzInput::text(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        DownloadQueue queue;
        QString error;
        if (DownloadQueue::fromJson(rest, &queue, &error))
            requireSound(queue, text);
        else
            FuzzInput::require(!error.isEmpty(), "a refused record says why", text);
        return 0;
    }
    // Half a surrogate pair cannot be written as JSON (it becomes U+FFFD): no record holds one.
    if (!QStringView(text).isValidUtf16())
        return 0;
    const QStringList parts = text.split(QChar(0));
    DownloadQueue made;
    made.folder = parts.first();
    bool plainNames = true;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        DownloadQueue::Entry entry;
        entry.url = QStringLiteral("http://h/%1").arg(i);
        entry.name = parts.at(i);
        entry.state = entry.name.isEmpty() ? DownloadQueue::Entry::State::Waiting
                                           : DownloadQueue::Entry::State::Claimed;
        plainNames = plainNames && (entry.name.isEmpty() || LocalFileNames::isRelativePath(entry.name));
        made.entries.append(entry);
    }
    DownloadQueue read;
    QString error;
    const bool accepted = DownloadQueue::fromJson(made.toJson(), &read, &error);
    FuzzInput::require(accepted == (RecordedFolder::isUsable(made.folder) && plainNames),
                       "a record is read exactly when its folder and names are sound", text, error);
    if (accepted) {
        FuzzInput::require(same(read, made), "a record reads back as written", text);
        requireSound(read, text);
    }
    return 0;
}
