#include "RecordedFolder.h"

#include <QList>
#include <QStringView>

namespace {

bool printable(char32_t c) {
    if (QChar::isNonCharacter(c))
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    case QChar::Other_Format:
        return c == 0x200C || c == 0x200D; // zero-width non-joiner and joiner
    default:
        return true;
    }
}

bool absolute(const QString& folder) {
#ifdef Q_OS_WIN
    // "C:/…" or "C:\…", or a share "\\server\…".
    const bool drive = folder.size() >= 3 && folder.at(0).isLetter() && folder.at(0).unicode() < 0x80 &&
                       folder.at(1) == u':' && (folder.at(2) == u'/' || folder.at(2) == u'\\');
    return drive || folder.startsWith(QLatin1String("\\\\")) || folder.startsWith(QLatin1String("//"));
#else
    return folder.startsWith(u'/');
#endif
}

} // namespace

namespace RecordedFolder {

bool isUsable(const QString& folder) {
    if (!absolute(folder) || !QStringView(folder).isValidUtf16() || folder.toUtf8().size() > 4095)
        return false;
    for (const char32_t c : QStringView(folder).toUcs4())
        if (!printable(c))
            return false;
    return true;
}

} // namespace RecordedFolder
