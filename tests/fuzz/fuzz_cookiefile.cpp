// The Netscape cookie-file reader: never more cookies than lines, every cookie taken one a browser
// takes and read back the same when written again, every line named one of the file's, and no cookie's
// value in what is said about the file.

#include "CookieFile.h"
#include "FuzzInput.h"

namespace {

QByteArray written(const FileCookie& c) {
    const QByteArray host = c.domain.contains(u':') ? '[' + c.domain.toLatin1() + ']' : c.domain.toLatin1();
    return (c.httpOnly ? "#HttpOnly_" : "") + (c.hostOnly ? host : '.' + host) + '\t' +
           (c.hostOnly ? "FALSE" : "TRUE") + '\t' + c.path.toUtf8() + '\t' + (c.secure ? "TRUE" : "FALSE") +
           '\t' + QByteArray::number(c.expires) + '\t' + c.name + '\t' + c.value + '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString shown = FuzzInput::printable(QString::fromLatin1(input.left(300)));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);
    const CookieFile::Reading r = CookieFile::parse(input, now);
    const qsizetype lines = input.count('\n') + 1;

    FuzzInput::require(r.cookies.size() + r.problems.size() + r.expired + r.overLimit <= lines,
                       "never more cookies and problems than lines", shown);
    int last = 0;
    for (const CookieFile::Problem& p : r.problems) {
        FuzzInput::require(p.line > last && p.line <= lines, "problems named by their lines, in order",
                           shown);
        last = p.line;
    }
    QByteArray again;
    for (const FileCookie& c : r.cookies) {
        FuzzInput::require(
            !c.domain.isEmpty() && !c.domain.startsWith(u'.') && c.domain == c.domain.toLower() &&
                c.path.startsWith(u'/') && c.name.size() + c.value.size() <= 4096 && !c.value.contains(';') &&
                (c.expires == 0 || c.expires > now.toSecsSinceEpoch()) && c.line >= 1 && c.line <= lines,
            "a cookie taken is one a browser takes", shown, c.domain + u' ' + c.path);
        again += written(c);
    }
    const CookieFile::Reading reread = CookieFile::parse(again, now);
    FuzzInput::require(reread.problems.isEmpty() && reread.cookies.size() == r.cookies.size(),
                       "the cookies taken, written again, are all taken", shown,
                       QString::fromLatin1(again.left(300)));
    for (qsizetype i = 0; i < r.cookies.size(); ++i) {
        FileCookie a = r.cookies[i], b = reread.cookies[i];
        a.line = b.line = 0;
        FuzzInput::require(a == b, "a cookie written again reads the same", shown,
                           QString::fromLatin1(written(a)));
    }

    // What is said of the file does not depend on any value, and shows none.
    CookieFile::Reading blank = r;
    for (FileCookie& c : blank.cookies)
        c.value.clear();
    for (const bool japanese : {false, true}) {
        const QStringList notes = CookieFile::notes(QStringLiteral("cookies.txt"), r, japanese);
        FuzzInput::require(notes == CookieFile::notes(QStringLiteral("cookies.txt"), blank, japanese),
                           "messages do not depend on values", shown);
        const QString all = notes.join(u'\n');
        for (const FileCookie& c : r.cookies)
            if (c.value.size() >= 8)
                FuzzInput::require(!all.contains(QString::fromUtf8(c.value)), "no value in a message", shown);
    }
    return 0;
}
