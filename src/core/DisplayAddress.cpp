#include "DisplayAddress.h"

#include "AddressInput.h"
#include "LocalFileName.h"

#include <QSet>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace DisplayAddress {
namespace {

// Code points that show nothing, or nothing that tells them apart from others, though they are not
// format characters: fillers, blanks, variation selectors and the rest of Unicode's default-ignorable
// characters, and the lock icons that could pass for the address bar's own. An address bar keeps
// them encoded.
bool isBlank(char32_t c) {
    return c == 0x00ad || c == 0x034f || c == 0x115f || c == 0x1160 || c == 0x17b4 || c == 0x17b5 ||
           (c >= 0x180b && c <= 0x180f) || c == 0x2800 || c == 0x3164 || (c >= 0xfe00 && c <= 0xfe0f) ||
           c == 0xffa0 || (c >= 0xfff0 && c <= 0xfff8) || (c >= 0x1f50f && c <= 0x1f513) ||
           (c >= 0xe0000 && c <= 0xe0fff);
}

// Characters that a reader would not see, or that would reorder what is seen.
bool hidesSomething(const QString& text) {
    for (const char32_t c : text.toUcs4()) {
        if (isBlank(c))
            return true;
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        case QChar::Separator_Space:
            if (c != U' ')
                return true;
            break;
        default:
            break;
        }
    }
    return false;
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// A "%" not followed by two hexadecimal digits.
bool hasStrayPercent(const QString& address) {
    for (qsizetype i = address.indexOf(u'%'); i >= 0; i = address.indexOf(u'%', i + 1)) {
        if (i + 2 >= address.size() || !isHexDigit(address[i + 1]) || !isHexDigit(address[i + 2]))
            return true;
    }
    return false;
}

// Cyrillic letters that pass for Latin ones: a name made of nothing else ("аррӏе") reads as a Latin
// name it is not.
bool isLatinLookalike(char32_t c) {
    static const QString lookalikes = QStringLiteral("асԁеһіјӏорԛѕԝхуъьҽпгѵѡ");
    return c <= 0xffff && lookalikes.contains(QChar(static_cast<char16_t>(c)));
}

// Top-level domains whose names are written in Cyrillic: there a Cyrillic name is no imitation.
bool isCyrillicDomain(const QString& tld) {
    static const QStringList countries{QStringLiteral("ru"), QStringLiteral("su"), QStringLiteral("ua"),
                                       QStringLiteral("by"), QStringLiteral("kz"), QStringLiteral("bg"),
                                       QStringLiteral("mk"), QStringLiteral("rs"), QStringLiteral("kg"),
                                       QStringLiteral("mn"), QStringLiteral("tj"), QStringLiteral("uz")};
    if (countries.contains(tld.toLower()))
        return true;
    const QList<uint> points = tld.toUcs4();
    return !points.isEmpty() && std::all_of(points.cbegin(), points.cend(), [](uint c) {
        return QChar::script(c) == QChar::Script_Cyrillic;
    });
}

// Whether a decoded label may be shown as it reads, by the address bar's rules against look-alike
// names: one script (digits, hyphens and marks aside), or Latin with the scripts of Chinese,
// Japanese or Korean writing; and no Cyrillic name made only of letters that look Latin, unless its
// top-level domain is a Cyrillic one.
bool isSafeLabel(const QString& label, const QString& tld) {
    QSet<int> scripts;
    bool onlyLookalikes = true;
    for (const char32_t c : label.toUcs4()) {
        const QChar::Script script = QChar::script(c);
        if (script == QChar::Script_Common || script == QChar::Script_Inherited)
            continue;
        scripts.insert(script);
        if (!isLatinLookalike(c))
            onlyLookalikes = false;
    }
    if (scripts.size() > 1) {
        static const QList<QSet<int>> mixes{
            {QChar::Script_Latin, QChar::Script_Han, QChar::Script_Hiragana, QChar::Script_Katakana},
            {QChar::Script_Latin, QChar::Script_Han, QChar::Script_Bopomofo},
            {QChar::Script_Latin, QChar::Script_Han, QChar::Script_Hangul},
        };
        if (std::none_of(mixes.cbegin(), mixes.cend(),
                         [&scripts](const QSet<int>& allowed) { return allowed.contains(scripts); }))
            return false;
    }
    if (scripts == QSet<int>{int(QChar::Script_Cyrillic)} && onlyLookalikes && !isCyrillicDomain(tld))
        return false;
    return true;
}

// The host as the address bar shows it: each international label decoded where it is safe to
// read (isSafeLabel), otherwise left in its ASCII form. Decoding never folds one character into
// another: a label that would not encode back to itself stays encoded.
QString displayHost(const QString& ace) {
    QStringList labels = ace.split(u'.');
    QStringList decoded = labels;
    for (QString& label : decoded) {
        if (label.startsWith(QLatin1String("xn--"), Qt::CaseInsensitive)) {
            const QString text = QUrl::fromAce(label.toLatin1(), QUrl::IgnoreIDNWhitelist);
            if (!text.isEmpty() &&
                QUrl::toAce(text, QUrl::IgnoreIDNWhitelist).toLower() == label.toLower().toLatin1())
                label = text;
        }
    }
    qsizetype last = decoded.size() - 1;
    if (last > 0 && decoded.at(last).isEmpty())
        --last;
    const QString tld = last >= 0 ? decoded.at(last) : QString();
    for (qsizetype i = 0; i < labels.size(); ++i) {
        if (decoded.at(i) != labels.at(i) && isSafeLabel(decoded.at(i), tld))
            labels[i] = decoded.at(i);
    }
    return labels.join(u'.');
}

// The shown form with its host replaced by displayHost; empty when the host cannot be found in it.
QString withDisplayHost(const QUrl& url, const QString& shown) {
    const QString ace = url.host(QUrl::FullyEncoded);
    const QString qtHost = url.host(QUrl::PrettyDecoded);
    // Qt has no ASCII form for a name it cannot encode (a label of over 63 characters), yet shows
    // it decoded, unchecked by the rules above: such a host is shown as written.
    if (ace.isEmpty() && !qtHost.isEmpty())
        return {};
    if (ace.isEmpty() || ace.startsWith(u'['))
        return shown;
    qsizetype start = url.scheme().size() + 3;
    const QString userInfo = url.userInfo(QUrl::PrettyDecoded);
    if (!userInfo.isEmpty())
        start += userInfo.size() + 1;
    if (QStringView(shown).mid(start, qtHost.size()) != qtHost)
        return {};
    return shown.left(start) + displayHost(ace) + shown.mid(start + qtHost.size());
}

// The address that the input box reads text as, its percent-escapes in capitals ("%e5" and "%E5" are
// the same byte to a server); empty when the box reads no address.
QString inputBoxReading(const QString& text) {
    QString encoded = AddressInput::toUrl(text).toString(QUrl::FullyEncoded);
    for (qsizetype i = encoded.indexOf(u'%'); i >= 0 && i + 2 < encoded.size();
         i = encoded.indexOf(u'%', i + 1)) {
        encoded[i + 1] = encoded[i + 1].toUpper();
        encoded[i + 2] = encoded[i + 2].toUpper();
    }
    return encoded;
}

} // namespace

bool hasEncodedParts(const QString& address) {
    return address.contains(QLatin1Char('%')) || address.contains(QLatin1String("xn--"), Qt::CaseInsensitive);
}

QString forDisplay(const QString& address, const QString& pageCharset) {
    // Only an address whose last part is percent-encoded bytes of no UTF-8 reads otherwise.
    qsizetype end = address.size();
    for (QChar stop : {QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = address.indexOf(stop);
        if (at >= 0)
            end = std::min(end, at);
    }
    const qsizetype slash = address.lastIndexOf(QLatin1Char('/'), end - 1);
    const QStringView last = QStringView(address).mid(slash + 1, end - slash - 1);
    if (slash < 0 || !last.contains(QLatin1Char('%')) ||
        QByteArray::fromPercentEncoding(last.toUtf8()).isValidUtf8())
        return forDisplay(address);
    const QString legacy = LocalFileNames::legacyName(address, pageCharset);
    if (legacy.isEmpty())
        return forDisplay(address);
    return forDisplay(address.left(slash + 1)) + legacy + address.mid(end);
}

QString forDisplay(const QString& address) {
    if (!hasEncodedParts(address))
        return address;
    // Without a scheme and "//" the input box would guess what the address is, and might guess
    // otherwise once it is decoded.
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || QStringView(address).mid(url.scheme().size(), 3) != u"://")
        return address;
    // Qt reads a "%" that starts no escape by escaping every "%" of the address ("%02" becomes
    // "%2502"): that reading is another address, not this one shown.
    if (hasStrayPercent(address))
        return address;
    const QString shown = withDisplayHost(url, url.toString(QUrl::PrettyDecoded));
    // A space at either end would be trimmed away when the shown form is pasted back.
    if (shown.isEmpty() || shown.front() == u' ' || shown.back() == u' ' || hidesSomething(shown))
        return address;
    // The shown form is pasted into the input box as often as it is read, and must take the reader
    // to the same place. The box reads full-width forms before the end of the host as typed with
    // the input method left on: decoded, a full-width "／" in the user name ("http://Ａ／b@x.com/")
    // would end the host there for it, "a" instead of "x.com".
    if (AddressInput::hasFullWidthForms(shown) && inputBoxReading(shown) != inputBoxReading(address))
        return address;
    return shown;
}

QString forMatching(const QString& address) {
    if (!hasEncodedParts(address))
        return address;
    QString decoded = QUrl::fromPercentEncoding(address.toUtf8());
    const QUrl url(address, QUrl::StrictMode);
    const QString ace = url.isValid() ? url.host(QUrl::FullyEncoded) : QString();
    if (ace.contains(QLatin1String("xn--"), Qt::CaseInsensitive)) {
        const QString host = QUrl::fromAce(ace.toLatin1(), QUrl::IgnoreIDNWhitelist);
        if (!host.isEmpty())
            decoded.replace(ace, host, Qt::CaseInsensitive);
    }
    return decoded;
}

} // namespace DisplayAddress
