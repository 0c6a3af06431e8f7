#include "AddressImport.h"

#include "AddressInput.h"
#include "FileErrorText.h"
#include "RecordFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>

#include <cerrno>
#include <utility>

namespace AddressImport {
namespace {

// Larger files are not address lists.
constexpr qint64 LargestFile = 64 * 1024 * 1024;

QString decodeEntities(const QString& text) {
    if (!text.contains(QLatin1Char('&')))
        return text;
    static const QRegularExpression entity(QStringLiteral("&(#[0-9]+|#[xX][0-9a-fA-F]+|[a-zA-Z]+);"));
    QString out;
    qsizetype last = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        char32_t code = 0;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(nullptr, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt();
        else if (name == QLatin1String("amp"))
            code = U'&';
        else if (name == QLatin1String("lt"))
            code = U'<';
        else if (name == QLatin1String("gt"))
            code = U'>';
        else if (name == QLatin1String("quot"))
            code = U'"';
        else if (name == QLatin1String("apos"))
            code = U'\'';
        else if (name == QLatin1String("nbsp"))
            code = 0xA0;
        if (code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF))
            out += QString::fromUcs4(&code, 1);
        else
            out += m.captured(0);
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

// An attribute's value in any of HTML's three spellings.
QString attributeValue(const QRegularExpressionMatch& m, int first) {
    for (int i = first; i < first + 3; ++i)
        if (m.capturedStart(i) >= 0)
            return m.captured(i);
    return {};
}

bool looksLikeHtml(const QByteArray& content, const QString& fileName) {
    static const QStringList suffixes = {QStringLiteral("htm"), QStringLiteral("html"),
                                         QStringLiteral("xhtml"), QStringLiteral("shtml")};
    if (suffixes.contains(QFileInfo(fileName).suffix().toLower()))
        return true;
    const QByteArray head = content.left(512).trimmed().toLower();
    return head.startsWith("<!doctype html") || head.startsWith("<html") ||
           head.startsWith("\xef\xbb\xbf<!doctype html");
}

bool isCsv(const QString& text, const QString& fileName) {
    return QFileInfo(fileName).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0 ||
           text.startsWith(QLatin1String("kind,address,"));
}

// A CSV file's addresses: its "address" (or "url") column when the first record names one, as the
// program's own export does, else the first field of every record.
QStringList fromCsv(const QString& text) {
    QList<QStringList> records = RecordFormat::csvCells(text);
    qsizetype column = 0;
    if (!records.isEmpty()) {
        for (qsizetype i = 0; i < records.first().size(); ++i) {
            const QString name = records.first()[i].trimmed().toLower();
            if (name == u"address" || name == u"url") {
                column = i;
                records.removeFirst();
                break;
            }
        }
    }
    QStringList addresses;
    for (const QStringList& record : std::as_const(records)) {
        const QString address = RecordFormat::csvValue(record.value(column)).trimmed();
        if (isEntry(address))
            addresses.append(address);
    }
    return addresses;
}

// A link as the page's base makes it: "http:x" on an http page is relative, as browsers read it.
QUrl linkTarget(const QString& href, const QUrl& base) {
    static const QRegularExpression webScheme(QStringLiteral("^(https?):(?![/\\\\]{2})"),
                                              QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = webScheme.match(href);
        m.hasMatch() && !base.isEmpty() && m.captured(1).compare(base.scheme(), Qt::CaseInsensitive) == 0)
        return base.resolved(QUrl(href.mid(m.capturedEnd()), QUrl::TolerantMode));
    const QUrl target(href, QUrl::TolerantMode);
    if (!target.isRelative())
        return target;
    // A link relative to a page saved without its address points nowhere on the web.
    return base.isEmpty() ? QUrl() : base.resolved(target);
}

} // namespace

bool isEntry(const QString& text) {
    if (text.isEmpty() || !QStringView(text).isValidUtf16() || AddressInput::lines(text) != QStringList{text})
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0xa0) || u == 0x2028 || u == 0x2029 || u == 0xfdd0 || u == 0xfdd1)
            return false;
    }
    return true;
}

bool parseJsonLine(const QString& line, QString* url, QString* source) {
    tURLData record;
    if (!RecordFormat::fromJsonLine(line, &record))
        return false;
    *url = record.URL;
    if (source)
        *source = record.Source;
    return true;
}

QString decode(const QByteArray& content) {
    if (auto fromBom = QStringConverter::encodingForData(content); fromBom) {
        QStringDecoder decoder(*fromBom);
        return decoder(content);
    }
    {
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = utf8(content);
        if (!utf8.hasError())
            return text;
    }
    static const QRegularExpression charset(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:\\-]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QString declared = charset.match(QString::fromLatin1(content.left(4096))).captured(1);
    for (const QString& name : {declared, QStringLiteral("Shift_JIS")}) {
        if (name.isEmpty())
            continue;
        QStringDecoder decoder(name.toLatin1().constData());
        if (decoder.isValid())
            return decoder(content);
    }
    return QString::fromLatin1(content);
}

QStringList fromText(const QString& text) {
    QStringList addresses;
    for (const RecordFormat::Entry& entry : RecordFormat::readText(text)) {
        QString line = entry.record.URL.trimmed();
        // A JSON object that gives no address is a record without one, not an address.
        if (!entry.isRecord && line.startsWith(QLatin1Char('{')) &&
            QJsonDocument::fromJson(line.toUtf8()).isObject())
            continue;
        // Not a record's line: a saved failure list gives the address before its tab.
        if (const qsizetype tab = line.indexOf(QLatin1Char('\t')); !entry.isRecord && tab >= 0)
            line = line.left(tab).trimmed();
        if (isEntry(line))
            addresses.append(line);
    }
    return addresses;
}

QStringList fromHtml(const QString& html) {
    static const QRegularExpression savedFrom(
        QStringLiteral("<!--\\s*saved from url=\\(\\d+\\)(\\S+?)\\s*-->"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression hidden(
        QStringLiteral("<!--.*?-->|<script\\b.*?</script\\s*>|<style\\b.*?</style\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression base(
        QStringLiteral("<base\\b[^>]*?\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression link(
        QStringLiteral("<(?:a|area)\\b[^>]*?\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    static const QStringList skipped = {QStringLiteral("mailto"), QStringLiteral("javascript"),
                                        QStringLiteral("data"), QStringLiteral("about")};

    // The address is read as the address bar reads it ("http:/host/" names a host).
    QUrl baseUrl = AddressInput::toUrl(savedFrom.match(html).captured(1));
    const QString page = QString(html).remove(hidden);
    if (const QRegularExpressionMatch m = base.match(page); m.hasMatch()) {
        const QUrl declared(decodeEntities(attributeValue(m, 1)).trimmed(), QUrl::TolerantMode);
        baseUrl = baseUrl.isValid() && !baseUrl.isRelative() ? baseUrl.resolved(declared) : declared;
    }
    if (baseUrl.isRelative())
        baseUrl.clear();

    QStringList addresses;
    QSet<QString> seen;
    for (auto it = link.globalMatch(page); it.hasNext();) {
        const QString href = decodeEntities(attributeValue(it.next(), 1)).trimmed();
        if (href.isEmpty() || href.startsWith(QLatin1Char('#')))
            continue;
        QUrl target = linkTarget(href, baseUrl);
        if (!target.isValid() || skipped.contains(target.scheme().toLower()))
            continue;
        target.setFragment(QString());
        // Written as the input box reads it back; a link that it would read as another address (or
        // as none) is left out.
        const QString address =
            AddressInput::toUrl(target.toString(QUrl::FullyEncoded)).toString(QUrl::FullyEncoded);
        if (!address.isEmpty() && AddressInput::toUrl(address).toString(QUrl::FullyEncoded) == address &&
            !seen.contains(address)) {
            seen.insert(address);
            addresses.append(address);
        }
    }
    return addresses;
}

QStringList fromContent(const QByteArray& content, const QString& fileName) {
    QString text = decode(content);
    if (text.startsWith(QChar::ByteOrderMark))
        text.remove(0, 1);
    if (looksLikeHtml(content, fileName))
        return fromHtml(text);
    return isCsv(text, fileName) ? fromCsv(text) : fromText(text);
}

Result fromFile(const QString& path) {
    Result result;
    QFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        const int error = errno ? errno : EIO;
        const QString what = QStringLiteral("「%1」を読み込めません").arg(shown);
        result.error = error == EACCES || error == EPERM ? what + QStringLiteral(": 読む権限がありません")
                                                         : FileErrorText::describe(what, error);
        return result;
    }
    if (file.size() > LargestFile) {
        result.error =
            QStringLiteral("「%1」は大きすぎます（%2 MB まで）").arg(shown).arg(LargestFile / (1024 * 1024));
        return result;
    }
    result.addresses = fromContent(file.readAll(), path);
    if (result.addresses.isEmpty())
        result.error = QStringLiteral("「%1」にアドレスがありません").arg(shown);
    return result;
}

} // namespace AddressImport
