#include "CommandOutput.h"

#include <QByteArray>

namespace CommandOutput {

void write(FILE* stream, const QString& text, bool flush) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    if (flush)
        std::fflush(stream);
}

QString oneLine(QString text) {
    text.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' ');
    return text;
}

} // namespace CommandOutput
