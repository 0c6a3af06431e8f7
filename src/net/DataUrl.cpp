#include "DataUrl.h"

#include <QUrl>

namespace DataUrl {

bool decode(const QString& text, QByteArray* content) {
    if (!text.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return false;
    const qsizetype comma = text.indexOf(u',');
    if (comma < 0)
        return false;
    const QString header = text.mid(5, comma - 5).trimmed();
    QString payload = text.mid(comma + 1);
    if (const qsizetype hash = payload.indexOf(u'#'); hash >= 0)
        payload.truncate(hash);
    // Characters outside ASCII stand for their UTF-8 bytes, as a browser takes them.
    QByteArray bytes = QByteArray::fromPercentEncoding(payload.toUtf8());
    if (header.endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)) {
        QByteArray compact;
        compact.reserve(bytes.size());
        for (char c : std::as_const(bytes)) {
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                compact.append(c);
        }
        auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        *content = decoded.decoded;
        return true;
    }
    *content = bytes;
    return true;
}

} // namespace DataUrl
