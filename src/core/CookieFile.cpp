#include "CookieFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

namespace CookieFile {
namespace {

constexpr char HttpOnlyPrefix[] = "#HttpOnly_";
// QDateTime's range ends long before this: later expiries are clamped here (year 9999).
constexpr qint64 LatestExpiry = 253402300799;

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

std::optional<bool> flag(const QByteArray& field) {
    const QByteArray f = field.trimmed().toUpper();
    if (f == "TRUE")
        return true;
    if (f == "FALSE")
        return false;
    return std::nullopt;
}

// The host of a domain field as a browser keeps it; empty when it is none. A port is dropped:
// browsers' cookies are not kept per port.
QString canonicalHost(const QByteArray& field) {
    if (field.isEmpty() || field.size() > MostAttributeBytes)
        return {};
    for (const char c : field)
        if (isControl(c) || c == ' ' || c == '/' || c == '@' || c == '?' || c == '#' || c == '\\')
            return {};
    const QUrl url(QStringLiteral("http://") + QString::fromUtf8(field) + u'/', QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString host = url.host(QUrl::FullyEncoded);
    if (host.endsWith(u'.') || host.contains(QLatin1String("..")))
        return {};
    return host;
}

// Seconds since 1970, or 0 for a session cookie; false when it is no number. Some exporters write
// a fraction.
bool expiry(const QByteArray& field, qint64* seconds) {
    const QByteArray f = field.trimmed();
    if (f.isEmpty()) {
        *seconds = 0;
        return true;
    }
    bool ok = false;
    const double value = f.toDouble(&ok);
    if (!ok || value != value)
        return false;
    *seconds = value >= double(LatestExpiry) ? LatestExpiry : value <= -1.0 ? -1 : qint64(value);
    return true;
}

std::optional<Fault> readLine(QByteArray line, FileCookie* cookie) {
    if (line.startsWith(HttpOnlyPrefix)) {
        cookie->httpOnly = true;
        line.remove(0, qsizetype(sizeof HttpOnlyPrefix) - 1);
    }
    QList<QByteArray> fields = line.split('\t');
    // curl writes a cookie with an empty value without its last tab.
    if (fields.size() == 6)
        fields.append(QByteArray());
    if (fields.size() != 7)
        return Fault::Fields;
    QByteArray domain = fields[0].trimmed();
    const bool leadingDot = domain.startsWith('.');
    if (leadingDot)
        domain.remove(0, 1);
    cookie->domain = canonicalHost(domain);
    if (cookie->domain.isEmpty())
        return Fault::Domain;
    const std::optional<bool> subdomains = flag(fields[1]);
    const std::optional<bool> secure = flag(fields[3]);
    if (!subdomains || !secure)
        return Fault::Flag;
    // A leading dot is how a browser writes a domain cookie, whatever the flag says; an address or a
    // name without a dot ("localhost") can only have its own cookies.
    cookie->hostOnly =
        !(*subdomains || leadingDot) || isIpAddress(cookie->domain) || !cookie->domain.contains(u'.');
    cookie->secure = *secure;
    const QByteArray path = fields[2];
    if (path.isEmpty())
        cookie->path = QStringLiteral("/");
    else if (!path.startsWith('/') || path.size() > MostAttributeBytes || path.contains(';') ||
             std::any_of(path.cbegin(), path.cend(), isControl))
        return Fault::Path;
    else
        cookie->path = QString::fromUtf8(path);
    if (!expiry(fields[4], &cookie->expires))
        return Fault::Expiry;
    cookie->name = fields[5];
    cookie->value = fields[6];
    if ((cookie->name.isEmpty() && cookie->value.isEmpty()) || cookie->name.contains('=') ||
        cookie->name.contains(';') || std::any_of(cookie->name.cbegin(), cookie->name.cend(), isControl) ||
        cookie->name != cookie->name.trimmed())
        return Fault::Name;
    if (cookie->value.contains(';') || std::any_of(cookie->value.cbegin(), cookie->value.cend(), isControl))
        return Fault::Value;
    if (cookie->name.size() + cookie->value.size() > MostNameAndValueBytes)
        return Fault::TooLarge;
    return std::nullopt;
}

QString faultText(Fault fault, bool japanese) {
    switch (fault) {
    case Fault::Fields:
        return japanese ? QStringLiteral("タブで区切った 7 つの欄がありません")
                        : QStringLiteral("not the 7 tab-separated fields of a cookie");
    case Fault::Domain:
        return japanese ? QStringLiteral("ドメインがホスト名ではありません")
                        : QStringLiteral("the domain is no host name");
    case Fault::Flag:
        return japanese ? QStringLiteral("2 番目か 4 番目の欄が TRUE でも FALSE でもありません")
                        : QStringLiteral("the 2nd or 4th field is neither TRUE nor FALSE");
    case Fault::Path:
        return japanese ? QStringLiteral("パスが / で始まらないか、長すぎます")
                        : QStringLiteral("the path does not start with / or is too long");
    case Fault::Expiry:
        return japanese ? QStringLiteral("有効期限が数ではありません")
                        : QStringLiteral("the expiry is no number");
    case Fault::Name:
        return japanese ? QStringLiteral("名前が空か、使えない文字を含みます")
                        : QStringLiteral("the name is empty or has a character cookies cannot have");
    case Fault::Value:
        return japanese ? QStringLiteral("値に使えない文字（; や制御文字）を含みます")
                        : QStringLiteral(
                              "the value has a character cookies cannot have (; or a control character)");
    case Fault::TooLarge:
        return japanese ? QStringLiteral("名前と値が 4096 バイトを超えています（ブラウザは使いません）")
                        : QStringLiteral("name and value are over 4096 bytes (a browser does not take it)");
    case Fault::PublicSuffix:
        return japanese
                   ? QStringLiteral("公開サフィックス全体へのドメイン Cookie です（ブラウザは使いません）")
                   : QStringLiteral("a cookie for a whole public suffix (a browser does not take it)");
    }
    return {};
}

} // namespace

bool isIpAddress(const QString& host) {
    if (host.contains(u':'))
        return true;
    const QStringList parts = host.split(u'.');
    return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](const QString& part) {
               return !part.isEmpty() &&
                      std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c.isDigit(); });
           });
}

Reading parse(const QByteArray& bytes, const QDateTime& now) {
    Reading reading;
    const qint64 nowSeconds = now.toSecsSinceEpoch();
    QByteArrayView rest(bytes);
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    // The last line of a (domain, host-only, path, name): a later one replaces it, as a browser does.
    QHash<QString, qsizetype> seen;
    QList<FileCookie> cookies;
    int number = 0;
    while (!rest.isEmpty()) {
        ++number;
        const qsizetype end = rest.indexOf('\n');
        QByteArray line = (end < 0 ? rest : rest.first(end)).toByteArray();
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || (line.startsWith('#') && !line.startsWith(HttpOnlyPrefix)))
            continue;
        FileCookie cookie;
        cookie.line = number;
        if (const std::optional<Fault> fault = readLine(line, &cookie)) {
            reading.problems.append({number, *fault});
            continue;
        }
        const QString key = cookie.domain + u'\t' + (cookie.hostOnly ? u'h' : u'd') + cookie.path + u'\t' +
                            QString::fromLatin1(cookie.name.toHex());
        if (const auto it = seen.constFind(key); it != seen.cend())
            cookies[*it].line = 0; // replaced
        if (cookie.expires != 0 && cookie.expires <= nowSeconds) {
            ++reading.expired;
            seen.remove(key);
            continue;
        }
        seen.insert(key, cookies.size());
        cookies.append(std::move(cookie));
    }
    // A browser keeps the newest cookies of a domain, and of all, within its limits; here the later
    // lines of the file.
    QHash<QString, int> perDomain;
    int kept = 0;
    for (qsizetype i = cookies.size() - 1; i >= 0; --i) {
        if (cookies[i].line == 0)
            continue;
        int& count = perDomain[cookies[i].domain];
        if (count >= MostPerDomain || kept >= MostInAll) {
            ++reading.overLimit;
            cookies[i].line = 0;
            continue;
        }
        ++count;
        ++kept;
    }
    for (FileCookie& cookie : cookies)
        if (cookie.line != 0)
            reading.cookies.append(std::move(cookie));
    return reading;
}

Reading read(const QString& fileName, const QDateTime& now) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Reading failed;
        failed.error = fileName + QStringLiteral(": ") + file.errorString();
        return failed;
    }
    // A cookie file of a browser holds far less; a bigger one is no cookie file.
    constexpr qint64 MostBytes = qint64(256) << 20;
    if (file.size() > MostBytes) {
        Reading failed;
        failed.error = fileName + QStringLiteral(": larger than 256 MiB, no cookie file");
        return failed;
    }
    Reading reading = parse(file.readAll(), now);
    if (file.error() != QFileDevice::NoError)
        reading.error = fileName + QStringLiteral(": ") + file.errorString();
    const QFileDevice::Permissions permissions = file.permissions();
    reading.othersMayRead = permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return reading;
}

QString describe(const QString& fileName, const Problem& problem, bool japanese) {
    return QStringLiteral("%1:%2: %3")
        .arg(fileName)
        .arg(problem.line)
        .arg(faultText(problem.fault, japanese));
}

QStringList notes(const QString& fileName, const Reading& reading, bool japanese) {
    QStringList lines;
    for (const Problem& problem : reading.problems)
        lines.append(describe(fileName, problem, japanese));
    if (reading.expired > 0)
        lines.append(
            japanese
                ? QStringLiteral("%1: 期限切れの Cookie %2 件は使いません").arg(fileName).arg(reading.expired)
                : QStringLiteral("%1: %2 expired cookie(s) left out").arg(fileName).arg(reading.expired));
    if (reading.overLimit > 0)
        lines.append(japanese ? QStringLiteral("%1: ブラウザの上限（1 ドメイン %2 件、全体 %3 件）を超える "
                                               "Cookie %4 件は使いません")
                                    .arg(fileName)
                                    .arg(MostPerDomain)
                                    .arg(MostInAll)
                                    .arg(reading.overLimit)
                              : QStringLiteral("%1: %4 cookie(s) beyond a browser's limits (%2 a domain, %3 "
                                               "in all) left out")
                                    .arg(fileName)
                                    .arg(MostPerDomain)
                                    .arg(MostInAll)
                                    .arg(reading.overLimit));
    if (reading.othersMayRead)
        lines.append(japanese ? QStringLiteral("%1: 警告: ほかのユーザーも読めるファイルです。Cookie "
                                               "はログインそのものです（chmod 600 %1）")
                                    .arg(fileName)
                              : QStringLiteral("%1: warning: other users can read this file, and its "
                                               "cookies are a log-in (chmod 600 %1)")
                                    .arg(fileName));
    return lines;
}

} // namespace CookieFile
