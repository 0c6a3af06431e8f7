#include "NameMask.h"

#include "LocalFileName.h"

#include <QHash>
#include <QMimeDatabase>
#include <QUrl>

#include <array>

namespace {

// The tokens as a person writes them, for the message that names an unknown one.
const QString KnownTokens =
    QStringLiteral("{name} {ext} {title} {alt} {host} {page} {n} {n:03} {date} {w} {h}");

// The widest {n:0W} that pads: more digits than any batch has.
constexpr int MostDigits = 9;

// Where the extension of a name begins (past its dot), or -1: the last dot that is not the first
// character, with at most 32 characters after it, as LocalFileName keeps extensions apart.
qsizetype extensionAt(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot - 1 > 32)
        return -1;
    return dot + 1;
}

} // namespace

bool NameMask::parse(const QString& text, QString* error, bool japanese) {
    m_text.clear();
    m_parts.clear();
    m_shared.clear();
    m_usesName = false;
    if (text.trimmed().isEmpty())
        return true;
    QList<Part> parts;
    Part current;
    auto addText = [&current](QStringView literal) {
        if (!current.isEmpty() && current.back().token == Token::Text)
            current.back().text += literal;
        else
            current.append(Piece{Token::Text, literal.toString(), 0});
    };
    auto fail = [&](const QString& ja, const QString& en) {
        *error = japanese ? ja : en;
        return false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool doubled = i + 1 < text.size() && text.at(i + 1) == c;
        if (c == u'{' && doubled) {
            addText(u"{");
            ++i;
        } else if (c == u'}' && doubled) {
            addText(u"}");
            ++i;
        } else if (c == u'}') {
            return fail(
                QStringLiteral(
                    "保存名の %1 文字目の「}」に対応する「{」がありません（括弧そのものは }} と書きます）")
                    .arg(i + 1),
                QStringLiteral("the \"}\" at character %1 of the name mask closes nothing (write }} for a "
                               "brace)")
                    .arg(i + 1));
        } else if (c == u'{') {
            const qsizetype close = text.indexOf(u'}', i + 1);
            const qsizetype open = text.indexOf(u'{', i + 1);
            if (close < 0 || (open >= 0 && open < close))
                return fail(
                    QStringLiteral(
                        "保存名の %1 文字目の「{」が閉じていません（括弧そのものは {{ と書きます）")
                        .arg(i + 1),
                    QStringLiteral(
                        "the \"{\" at character %1 of the name mask is not closed (write {{ for a brace)")
                        .arg(i + 1));
            const QString name = text.mid(i + 1, close - i - 1);
            Piece piece;
            static const QList<std::pair<QString, Token>> tokens = {
                {QStringLiteral("name"), Token::Name},   {QStringLiteral("ext"), Token::Ext},
                {QStringLiteral("title"), Token::Title}, {QStringLiteral("alt"), Token::Alt},
                {QStringLiteral("host"), Token::Host},   {QStringLiteral("page"), Token::Page},
                {QStringLiteral("n"), Token::N},         {QStringLiteral("date"), Token::Date},
                {QStringLiteral("w"), Token::W},         {QStringLiteral("h"), Token::H}};
            piece.token = Token::Text;
            for (const auto& [word, token] : tokens) {
                if (name == word)
                    piece.token = token;
            }
            // {n:03}: the position padded with zeros to the digits given.
            if (name.startsWith(QLatin1String("n:"))) {
                bool ok = false;
                const int width = name.mid(2).toInt(&ok);
                if (ok && name.size() > 2 && name.at(2).isDigit() && width >= 1 && width <= MostDigits) {
                    piece.token = Token::N;
                    piece.width = width;
                }
            }
            if (piece.token == Token::Text)
                return fail(
                    QStringLiteral("保存名に不明なトークン {%1} があります（使えるのは %2）")
                        .arg(name, KnownTokens),
                    QStringLiteral("unknown token {%1} in the name mask (known: %2)").arg(name, KnownTokens));
            m_usesName = m_usesName || piece.token == Token::Name || piece.token == Token::Ext;
            current.append(piece);
            i = close;
        } else if (c == u'/') {
            // Empty parts ("a//b", a leading "/") make no folder.
            if (!current.isEmpty())
                parts.append(current);
            current.clear();
        } else {
            addText(QStringView(text).mid(i, 1));
        }
    }
    if (current.isEmpty())
        return fail(QStringLiteral("保存名「%1」はフォルダだけで、ファイル名の部分がありません").arg(text),
                    QStringLiteral("the name mask \"%1\" names only folders, no file name").arg(text));
    parts.append(current);
    if (parts.size() - 1 > MostFolders)
        return fail(QStringLiteral("保存名のフォルダが深すぎます（%1 階層まで）").arg(MostFolders),
                    QStringLiteral("the name mask makes folders more than %1 deep").arg(MostFolders));
    m_text = text;
    m_parts = parts;
    for (const Part& part : std::as_const(m_parts)) {
        bool shared = true;
        for (const Piece& piece : part) {
            switch (piece.token) {
            case Token::Text:
            case Token::Title:
            case Token::Host:
            case Token::Page:
            case Token::Date:
                break;
            default:
                shared = false;
            }
        }
        m_shared.append(shared);
    }
    return true;
}

NameMask NameMask::parsed(const QString& text, QString* error, bool japanese) {
    NameMask mask;
    if (!mask.parse(text, error, japanese))
        return {};
    return mask;
}

bool NameMask::isEmpty() const {
    return m_parts.isEmpty();
}

bool NameMask::namesFilesAlike() const {
    if (m_parts.isEmpty())
        return false;
    for (const Piece& piece : m_parts.back()) {
        switch (piece.token) {
        case Token::Name:
        case Token::N:
        case Token::Alt:
        case Token::W:
        case Token::H:
            return false;
        default:
            break;
        }
    }
    return true;
}

QString NameMask::text() const {
    return m_text;
}

void NameMask::appendValue(QString& text, const Piece& piece, const Values& values, QStringView stem,
                           QStringView ext) {
    switch (piece.token) {
    case Token::Text:
        text += piece.text;
        return;
    case Token::Name:
        text += stem;
        return;
    case Token::Ext:
        text += ext;
        return;
    case Token::Title:
        text += values.title;
        return;
    case Token::Alt:
        text += values.alt;
        return;
    case Token::Host:
        text += values.host;
        return;
    case Token::Page:
        text += values.page;
        return;
    case Token::N: {
        const QString digits = QString::number(values.n);
        for (qsizetype pad = digits.size(); pad < piece.width; ++pad)
            text += u'0';
        text += digits;
        return;
    }
    case Token::Date:
        text += values.date;
        return;
    case Token::W:
        if (values.width >= 0)
            text += QString::number(values.width);
        return;
    case Token::H:
        if (values.height >= 0)
            text += QString::number(values.height);
        return;
    }
}

QString NameMask::path(const Values& values) const {
    if (m_parts.isEmpty())
        return {};
    QStringView stem;
    QStringView ext;
    if (m_usesName) {
        const qsizetype at = extensionAt(values.name);
        stem = at < 0 ? QStringView(values.name) : QStringView(values.name).left(at - 1);
        ext = at < 0 ? QStringView() : QStringView(values.name).mid(at);
    }
    QString path;
    path.reserve(128);
    // The safe forms of parts that many files share (a host, a title): made once for each text.
    static thread_local QHash<QString, QString> sharedParts;
    for (qsizetype i = 0; i < m_parts.size(); ++i) {
        QString text;
        text.reserve(256);
        for (const Piece& piece : m_parts.at(i))
            appendValue(text, piece, values, stem, ext);
        // The part as a whole is made safe: a value's "/" or "\" is a character here, never a folder.
        QString safe;
        if (m_shared.at(i)) {
            if (const auto found = sharedParts.constFind(text); found != sharedParts.cend()) {
                safe = *found;
            } else {
                safe = LocalFileNames::safePart(text);
                if (sharedParts.size() >= 4096)
                    sharedParts.clear();
                sharedParts.insert(text, safe);
            }
        } else {
            safe = LocalFileNames::safePart(text);
        }
        if (!path.isEmpty())
            path += u'/';
        if (safe.isEmpty())
            path += u'_';
        else
            path += safe;
    }
    return path;
}

QString NameMask::finalPath(const Values& values, const QString& contentType) const {
    QString masked = path(values);
    const qsizetype slash = masked.lastIndexOf(u'/');
    const QStringView file = QStringView(masked).mid(slash + 1);
    // A title or an alternative text often has a dot of its own ("Mr. Smith", "v1.2 gallery"): only
    // an extension that some type has counts as the name's extension here; otherwise the type's
    // extension is added, as to a name without one.
    const qsizetype dot = file.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && file.size() - dot - 1 <= 32 && isKnownExtension(file.mid(dot + 1));
    if (hasExtension)
        return masked;
    const QString suffix = typeExtension(contentType);
    if (suffix.isEmpty())
        return masked;
    const QString typed = LocalFileNames::safePart(file.toString() + u'.' + suffix);
    masked.truncate(slash + 1);
    return masked + typed;
}

bool NameMask::isKnownExtension(QStringView extension) {
    // Asked for every file: the answers are kept (there are few extensions).
    static thread_local QString lastExtension;
    static thread_local bool lastKnown = false;
    if (extension == lastExtension)
        return lastKnown;
    static thread_local QHash<QString, bool> known;
    const QString key = extension.toString().toLower();
    lastExtension = extension.toString();
    if (const auto found = known.constFind(key); found != known.cend()) {
        lastKnown = *found;
        return lastKnown;
    }
    static const QMimeDatabase database;
    const bool isKnown = !database.suffixForFileName(QStringLiteral("x.") + key).isEmpty();
    if (known.size() < 1000)
        known.insert(key, isKnown);
    lastKnown = isKnown;
    return isKnown;
}

QString NameMask::typeExtension(const QString& contentType) {
    static thread_local QHash<QString, QString> suffixes;
    if (const auto found = suffixes.constFind(contentType); found != suffixes.cend())
        return *found;
    const QString type = contentType.section(u';', 0, 0).trimmed().toLower();
    QString suffix;
    if (!type.isEmpty() && type != u"application/octet-stream") {
        static const QMimeDatabase database;
        const QMimeType mime = database.mimeTypeForName(type);
        if (mime.isValid())
            suffix = mime.preferredSuffix();
    }
    if (suffixes.size() < 1000)
        suffixes.insert(contentType, suffix);
    return suffix;
}

NameMask::Values NameMask::valuesOf(const tURLData& record, int n, const QDate& date) {
    Values values;
    values.title = record.Title;
    values.alt = record.Alt;
    values.host = hostName(record.URL);
    values.page = pageName(record.Source);
    values.n = n;
    values.date = dateText(date);
    values.width = record.Width;
    values.height = record.Height;
    return values;
}

namespace {

// Where the host and port of an address stand: after "//", up to the path, query or fragment.
QStringView authorityOf(const QString& address) {
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return {};
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < address.size() && address.at(end) != u'/' && address.at(end) != u'?' &&
           address.at(end) != u'#')
        ++end;
    return QStringView(address).mid(start, end - start);
}

} // namespace

QString NameMask::pageName(const QString& pageAddress) {
    if (pageAddress.isEmpty())
        return {};
    // The records of a page follow one another: the last page's name is kept.
    static thread_local QString lastAddress;
    static thread_local QString lastName;
    if (pageAddress == lastAddress)
        return lastName;
    const QUrl url(pageAddress);
    QString name = url.host() + url.path();
    while (name.endsWith(u'/'))
        name.chop(1);
    lastAddress = pageAddress;
    lastName = name;
    return name;
}

QString NameMask::hostName(const QString& address) {
    // Hosts repeat among the files of a batch: an address is parsed only for a host part not seen.
    static thread_local QHash<QString, QString> hosts;
    const QStringView authority = authorityOf(address);
    if (authority.isEmpty())
        return QUrl(address).host();
    // The scheme and the host part, as they stand at the start of the address.
    const QStringView keyView =
        QStringView(address).left(address.indexOf(QLatin1String("://")) + 3 + authority.size());
    // The last few host parts are compared in place, without a copy of the key.
    static thread_local std::array<std::pair<QString, QString>, 8> recent;
    static thread_local std::size_t nextRecent = 0;
    for (const auto& [seen, host] : recent) {
        if (!seen.isEmpty() && keyView == seen)
            return host;
    }
    const QString key = keyView.toString();
    QString host;
    if (const auto found = hosts.constFind(key); found != hosts.cend()) {
        host = *found;
    } else {
        host = QUrl(key + u'/').host();
        if (hosts.size() >= 4096)
            hosts.clear();
        hosts.insert(key, host);
    }
    recent[nextRecent] = {key, host};
    nextRecent = (nextRecent + 1) % recent.size();
    return host;
}

QString NameMask::dateText(const QDate& date) {
    // One date for a whole batch: its text is made once.
    static thread_local QDate lastDate;
    static thread_local QString lastText;
    if (date != lastDate) {
        lastDate = date;
        lastText = date.isValid() ? date.toString(u"yyyy-MM-dd") : QString();
    }
    return lastText;
}

QString NameMask::fileNamePart(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString NameMask::folderPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash);
}
