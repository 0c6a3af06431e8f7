#include "AddressImport.h"

#include "FileErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>

#include <cerrno>

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

} // namespace

bool parseJsonLine(const QString& line, QString* url, QString* source, QString* charset) {
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('{')))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(trimmed.toUtf8());
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    if (!o.value(QLatin1String("url")).isString())
        return false;
    *url = o.value(QLatin1String("url")).toString();
    if (source)
        *source = o.value(QLatin1String("source")).toString();
    if (charset)
        *charset = o.value(QLatin1String("charset")).toString();
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
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    for (const QString& raw : text.split(lineBreak)) {
        QString line = raw.trimmed();
        QString url;
        if (parseJsonLine(line, &url, nullptr))
            line = url.trimmed();
        else if (const qsizetype tab = line.indexOf(QLatin1Char('\t')); tab >= 0)
            line = line.left(tab).trimmed();
        if (!line.isEmpty())
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

    QUrl baseUrl(savedFrom.match(html).captured(1), QUrl::TolerantMode);
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
        QUrl target(href, QUrl::TolerantMode);
        if (target.isRelative()) {
            // A link relative to a page saved without its address points nowhere on the web.
            if (baseUrl.isEmpty())
                continue;
            target = baseUrl.resolved(target);
        }
        if (!target.isValid() || skipped.contains(target.scheme().toLower()))
            continue;
        target.setFragment(QString());
        const QString address = target.toString(QUrl::FullyEncoded);
        if (!seen.contains(address)) {
            seen.insert(address);
            addresses.append(address);
        }
    }
    return addresses;
}

QStringList fromContent(const QByteArray& content, const QString& fileName) {
    const QString text = decode(content);
    return looksLikeHtml(content, fileName) ? fromHtml(text) : fromText(text);
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
