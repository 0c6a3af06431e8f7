#include "CommandLanguage.h"

#include <QByteArray>
#include <QtGlobal>

namespace CommandLanguage {

bool isJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return value.startsWith("ja");
    }
    return false;
}

} // namespace CommandLanguage
