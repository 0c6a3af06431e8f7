#include "NameMask.h"

#include "LocalFileName.h"

#include <QMimeDatabase>
#include <QUrl>

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

QString NameMask::value(const Piece& piece, const Values& values, const QString& stem, const QString& ext) {
    switch (piece.token) {
    case Token::Text:
        return piece.text;
    case Token::Name:
        return stem;
    case Token::Ext:
        return ext;
    case Token::Title:
        return values.title;
    case Token::Alt:
        return values.alt;
    case Token::Host:
        return values.host;
    case Token::Page:
        return values.page;
    case Token::N:
        return QStringLiteral("%1").arg(values.n, piece.width, 10, QChar(u'0'));
    case Token::Date:
        return values.date;
    case Token::W:
        return values.width >= 0 ? QString::number(values.width) : QString();
    case Token::H:
        return values.height >= 0 ? QString::number(values.height) : QString();
    }
    return {};
}

QString NameMask::path(const Values& values) const {
    if (m_parts.isEmpty())
        return {};
    QString stem;
    QString ext;
    if (m_usesName) {
        const qsizetype at = extensionAt(values.name);
        stem = at < 0 ? values.name : values.name.left(at - 1);
        ext = at < 0 ? QString() : values.name.mid(at);
    }
    QString path;
    for (const Part& part : m_parts) {
        QString text;
        for (const Piece& piece : part)
            text += value(piece, values, stem, ext);
        // The part as a whole is made safe: a value's "/" or "\" is a character here, never a folder.
        QString safe = LocalFileNames::safePart(text);
        if (safe.isEmpty())
            safe = QStringLiteral("_");
        if (!path.isEmpty())
            path += u'/';
        path += safe;
    }
    return path;
}

QString NameMask::finalPath(const Values& values, const QString& contentType) const {
    const QString masked = path(values);
    const QString folder = folderPart(masked);
    QString file = fileNamePart(masked);
    // A title or an alternative text often has a dot of its own ("Mr. Smith", "v1.2 gallery"): only
    // an extension that some type has counts as the name's extension here.
    static const QMimeDatabase database;
    if (file.contains(u'.') && database.suffixForFileName(file).isEmpty()) {
        const QString type = contentType.section(u';', 0, 0).trimmed().toLower();
        const QMimeType mime = type.isEmpty() || type == u"application/octet-stream"
                                   ? QMimeType()
                                   : database.mimeTypeForName(type);
        if (mime.isValid() && !mime.preferredSuffix().isEmpty())
            file = LocalFileNames::safePart(file + u'.' + mime.preferredSuffix());
    } else {
        file = LocalFileNames::withTypeExtension(file, contentType);
    }
    return folder.isEmpty() ? file : folder + u'/' + file;
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

QString NameMask::pageName(const QString& pageAddress) {
    if (pageAddress.isEmpty())
        return {};
    const QUrl url(pageAddress);
    QString name = url.host() + url.path();
    while (name.endsWith(u'/'))
        name.chop(1);
    return name;
}

QString NameMask::hostName(const QString& address) {
    return QUrl(address).host();
}

QString NameMask::dateText(const QDate& date) {
    return date.isValid() ? date.toString(u"yyyy-MM-dd") : QString();
}

QString NameMask::fileNamePart(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString NameMask::folderPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash);
}
