#include "tURLData.h"

tURLData tURLData::make(const QString& url, qint32 kind, qint32 level, const QString& source,
                        const QString& via, const QString& charset) {
    tURLData d;
    d.StatusText = QStringLiteral("取得不能");
    d.URL = url;
    d.Kind = kind;
    d.Level = level;
    d.Source = source;
    d.Via = via;
    d.Charset = charset;
    return d;
}

QString tURLData::kindName(qint32 kind) {
    switch (kind) {
    case KindPage:
        return QStringLiteral("page");
    case KindImage:
        return QStringLiteral("image");
    case KindEmbed:
        return QStringLiteral("embed");
    case KindScript:
        return QStringLiteral("script");
    default:
        return QStringLiteral("kind%1").arg(kind);
    }
}

bool tURLData::isPage() const {
    return Kind == KindPage;
}

bool operator==(const tURLData& a, const tURLData& b) {
    return a.StatusText == b.StatusText && a.URL == b.URL && a.Kind == b.Kind && a.Level == b.Level &&
           a.Source == b.Source && a.Via == b.Via && a.Charset == b.Charset && a.Set == b.Set &&
           a.Descriptor == b.Descriptor && a.ElementWidth == b.ElementWidth &&
           a.ElementHeight == b.ElementHeight && a.Width == b.Width && a.Height == b.Height &&
           a.Bytes == b.Bytes && a.Type == b.Type && a.ProbeError == b.ProbeError && a.Depth == b.Depth &&
           a.Title == b.Title && a.Alt == b.Alt;
}
