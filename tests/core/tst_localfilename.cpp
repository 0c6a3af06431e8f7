#include "LocalFileName.h"

#include <QTest>

class TestLocalFileName : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void name_data();
    void name();
    void longNames_data();
    void longNames();
    void numbered_data();
    void numbered();
    void shortened_data();
    void shortened();
    void plainName_data();
    void plainName();
    void contentDisposition_data();
    void contentDisposition();
    void typeExtension_data();
    void typeExtension();
    void legacyNames_data();
    void legacyNames();
};

void TestLocalFileName::name_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");

    // The base rule: the part after the last "/", "\" or ":".
    QTest::newRow("last segment") << "http://host/dir/a.jpg"
                                  << "a.jpg";
    QTest::newRow("slash in query") << "http://host/a.cgi?p=x/y.jpg"
                                    << "a.cgi";
    QTest::newRow("no separator at all") << "logo.gif"
                                         << "logo.gif";
    QTest::newRow("backslash") << "http://host/dir\\b.png"
                               << "b.png";
    QTest::newRow("colon") << "http://host/x:y.txt"
                           << "y.txt";
    QTest::newRow("query dropped") << "http://host/cgi/view.php?id=3"
                                   << "view.php";
    QTest::newRow("version query dropped") << "http://host/pic1.jpg?v=2"
                                           << "pic1.jpg";
    QTest::newRow("query after slash") << "http://host/dir/?page=2"
                                       << "index.html";
    QTest::newRow("fragment dropped") << "http://host/a.jpg#top"
                                      << "a.jpg";
    QTest::newRow("fragment with slash") << "http://host/a.jpg#x/y"
                                         << "a.jpg";
    QTest::newRow("ends with slash") << "http://host/dir/"
                                     << "index.html";
    QTest::newRow("host only") << "http://host"
                               << "host";
    QTest::newRow("empty") << ""
                           << "index.html";

    // Percent-encoding decoded once.
    QTest::newRow("japanese") << "http://host/%E6%97%A5%E6%9C%AC%E8%AA%9E.jpg"
                              << QStringLiteral("日本語.jpg");
    QTest::newRow("japanese in query dropped")
        << "http://host/s%E7%94%BB?q=%E7%94%BB%E5%83%8F.png" << QStringLiteral("s画");
    QTest::newRow("space") << "http://host/a%20b.jpg"
                           << "a b.jpg";
    QTest::newRow("decoded once only") << "http://host/a%2541.jpg"
                                       << "a%41.jpg";
    QTest::newRow("lower-case hex") << "http://host/%e3%81%82.txt" << QStringLiteral("あ.txt");
    QTest::newRow("malformed escape kept") << "http://host/100%.txt"
                                           << "100%.txt";
    QTest::newRow("encoded slash stays encoded") << "http://host/a%2Fb.jpg"
                                                 << "a%2Fb.jpg";
    QTest::newRow("encoded backslash stays encoded") << "http://host/a%5cb.jpg"
                                                     << "a%5cb.jpg";
    QTest::newRow("encoded colon stays encoded") << "http://host/%E6%97%A5%3Ab"
                                                 << "%E6%97%A5%3Ab";
    QTest::newRow("encoded control stays encoded") << "http://host/a%0Ab.txt"
                                                   << "a%0Ab.txt";
    QTest::newRow("invalid utf-8 stays encoded") << "http://host/%FF%FE.bin"
                                                 << "%FF%FE.bin";
    QTest::newRow("truncated utf-8 stays encoded") << "http://host/%E6%97.txt"
                                                   << "%E6%97.txt";
    QTest::newRow("encoded question mark replaced") << "http://host/a%3Fb.txt"
                                                    << "a_b.txt";

    // Characters some file system cannot hold, controls and direction overrides.
    QTest::newRow("reserved characters") << "http://host/a<b>c\"d|e*f.txt"
                                         << "a_b_c_d_e_f.txt";
    QTest::newRow("control character") << QStringLiteral("http://host/a\u0001b\u007f.txt") << "a_b_.txt";
    QTest::newRow("right-to-left override") << QStringLiteral("http://host/a\u202Egpj.exe") << "a_gpj.exe";
    QTest::newRow("encoded override") << "http://host/a%E2%80%AEgpj.exe"
                                      << "a_gpj.exe";
    QTest::newRow("isolate") << QStringLiteral("http://host/\u2067x\u2069.txt") << "_x_.txt";

    // Dots and spaces at the ends.
    QTest::newRow("hidden file") << "http://host/.bashrc"
                                 << "bashrc";
    QTest::newRow("several leading dots") << "http://host/...profile"
                                          << "profile";
    QTest::newRow("dot") << "http://host/."
                         << "index.html";
    QTest::newRow("dot dot") << "http://host/.."
                             << "index.html";
    QTest::newRow("encoded dot dot") << "http://host/%2E%2E"
                                     << "index.html";
    QTest::newRow("trailing dots") << "http://host/a.txt..."
                                   << "a.txt";
    QTest::newRow("trailing spaces") << "http://host/a.txt%20%20"
                                     << "a.txt";
    QTest::newRow("inner dots kept") << "http://host/a..b.tar.gz"
                                     << "a..b.tar.gz";

    // Device names reserved on Windows.
    QTest::newRow("CON") << "http://host/CON"
                         << "_CON";
    QTest::newRow("nul.txt") << "http://host/nul.txt"
                             << "_nul.txt";
    QTest::newRow("com1.log") << "http://host/com1.log"
                              << "_com1.log";
    QTest::newRow("LPT9 with two extensions") << "http://host/LPT9.tar.gz"
                                              << "_LPT9.tar.gz";
    QTest::newRow("aux with space before dot") << "http://host/aux%20.txt"
                                               << "_aux .txt";
    QTest::newRow("com10 is free") << "http://host/com10.txt"
                                   << "com10.txt";
    QTest::newRow("console is free") << "http://host/console.txt"
                                     << "console.txt";
    QTest::newRow("prn inside a name is free") << "http://host/myprn.txt"
                                               << "myprn.txt";

    QTest::newRow("data address") << "data:text/plain,hello"
                                  << "data.txt";
    QTest::newRow("data image") << "data:image/gif;base64,R0lGODlh"
                                << "data.gif";
    QTest::newRow("data without type") << "data:,a?b/c"
                                       << "data.txt";
    QTest::newRow("data of unknown type") << "data:application/x-nothing-known,abc"
                                          << "data";
}

void TestLocalFileName::name() {
    QFETCH(QString, url);
    QFETCH(QString, expected);
    const QString name = LocalFileName(url);
    QCOMPARE(name, expected);
    QVERIFY(LocalFileNames::isPlainName(name));
}

void TestLocalFileName::longNames_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");

    const QString ascii(300, u'a');
    QTest::newRow("300 ascii characters") << "http://host/" + ascii + ".jpg" << QString(251, u'a') + ".jpg";
    const QString kana(300, QChar(0x3042)); // 3 bytes each
    QTest::newRow("300 kana characters")
        << "http://host/" + kana + ".png" << QString(83, QChar(0x3042)) + ".png";
    QString encoded;
    for (int i = 0; i < 300; ++i)
        encoded += QStringLiteral("%E3%81%82");
    QTest::newRow("300 encoded kana")
        << "http://host/" + encoded + ".png" << QString(83, QChar(0x3042)) + ".png";
    QString emoji;
    for (int i = 0; i < 100; ++i)
        emoji += QString::fromUcs4(U"\U0001F600"); // 4 bytes, a surrogate pair in UTF-16
    QString emoji62;
    for (int i = 0; i < 62; ++i)
        emoji62 += QString::fromUcs4(U"\U0001F600");
    QTest::newRow("pairs never split") << "http://host/" + emoji + ".gif" << emoji62 + ".gif";
    QString accents;
    for (int i = 0; i < 150; ++i)
        accents += QStringLiteral("e\u0301"); // 3 bytes: a letter and its combining accent
    QString accents83;
    for (int i = 0; i < 83; ++i)
        accents83 += QStringLiteral("e\u0301");
    QTest::newRow("accent stays with its letter") << "http://host/" + accents + ".txt" << accents83 + ".txt";
    // Qt's boundary finder cuts emoji in half when the text also holds a Thai letter.
    QString encodedEmoji;
    for (int i = 0; i < 64; ++i)
        encodedEmoji += QStringLiteral("%F0%9F%98%80");
    QTest::newRow("pairs never split after a thai letter")
        << "http://h/%E0%B8%81" + encodedEmoji + ".jpg" << QStringLiteral("\u0e01") + emoji62 + ".jpg";
    QTest::newRow("cluster longer than the limit is cut between code points")
        << "http://host/a" + QStringLiteral("\u0301").repeated(200) + ".txt"
        << "a" + QStringLiteral("\u0301").repeated(125) + ".txt";
    QTest::newRow("huge extension is no extension") << "http://host/a." + ascii << "a." + QString(253, u'a');
    QTest::newRow("device name left by shortening")
        << "http://host/CON" + QStringLiteral("%20").repeated(300) + "x"
        << "_CON";
    QTest::newRow("device name with a long extension")
        << "http://host/nul." + ascii << "_nul." + QString(250, u'a');
    QTest::newRow("255 bytes untouched")
        << "http://host/" + QString(251, u'b') + ".jpg" << QString(251, u'b') + ".jpg";
}

void TestLocalFileName::longNames() {
    QFETCH(QString, url);
    QFETCH(QString, expected);
    const QString name = LocalFileName(url);
    QCOMPARE(name, expected);
    QVERIFY(LocalFileNames::isPlainName(name));
}

void TestLocalFileName::numbered_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first is the name") << "logo.gif" << 1 << "logo.gif";
    QTest::newRow("second") << "logo.gif" << 2 << "logo (2).gif";
    QTest::newRow("last extension only") << "a.tar.gz" << 12 << "a.tar (12).gz";
    QTest::newRow("no extension") << "README" << 3 << "README (3)";
    QTest::newRow("full length stays within limit")
        << QString(251, u'c') + ".jpg" << 2 << QString(247, u'c') + " (2).jpg";
    QString emoji62;
    for (int i = 0; i < 62; ++i)
        emoji62 += QString::fromUcs4(U"\U0001F600");
    const QString emoji60 = emoji62.left(120);
    QTest::newRow("pairs never split in the last number")
        << QStringLiteral("\u0e01") + emoji62 + ".jpg" << 9999
        << QStringLiteral("\u0e01") + emoji60 + " (9999).jpg";
}

void TestLocalFileName::numbered() {
    QFETCH(QString, name);
    QFETCH(int, n);
    QFETCH(QString, expected);
    const QString numbered = LocalFileNames::numbered(name, n);
    QCOMPARE(numbered, expected);
    QVERIFY(LocalFileNames::isPlainName(numbered));
}

void TestLocalFileName::shortened_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("extension kept") << QStringLiteral("日本.txt") << 7 << QStringLiteral("日.txt");
    // Was ".jpeg", one byte over the limit.
    QTest::newRow("no room beside the extension") << "a.jpeg" << 4 << "a.jp";
}

void TestLocalFileName::shortened() {
    QFETCH(QString, name);
    QFETCH(int, maxBytes);
    QFETCH(QString, expected);
    QCOMPARE(LocalFileNames::shortened(name, maxBytes), expected);
}

void TestLocalFileName::plainName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");
    QTest::newRow("name") << "a.jpg" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("path") << "../a.jpg" << false;
    QTest::newRow("backslash path") << "..\\a.jpg" << false;
    QTest::newRow("too long") << QString(256, u'x') << false;
    QTest::newRow("lone surrogate") << QStringLiteral("a") + QChar(0xd800) + ".jpg" << false;
    QTest::newRow("Qt resource path") << ":dl" << false;
    QTest::newRow("colon inside") << "a:b.jpg" << true;
}

void TestLocalFileName::plainName() {
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(LocalFileNames::isPlainName(name), plain);
}

void TestLocalFileName::contentDisposition_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("expected");
    QTest::newRow("quoted") << QByteArray("attachment; filename=\"report 2024.pdf\"") << "report 2024.pdf";
    QTest::newRow("token") << QByteArray("inline; filename=a.jpg") << "a.jpg";
    QTest::newRow("extended before plain")
        << QByteArray("attachment; filename=\"fallback.txt\"; filename*=UTF-8''%E5%A0%B1%E5%91%8A.txt")
        << QStringLiteral("報告.txt");
    QTest::newRow("extended latin-1")
        << QByteArray("attachment; filename*=iso-8859-1''caf%E9.txt") << QStringLiteral("café.txt");
    QTest::newRow("raw utf-8") << QByteArray("attachment; filename=\"\xe5\x86\x99.png\"")
                               << QStringLiteral("写.png");
    QTest::newRow("escaped quote") << QByteArray("attachment; filename=\"a\\\"b.txt\"") << "a_b.txt";
    QTest::newRow("semicolon inside quotes")
        << QByteArray("attachment; filename=\"a;b.txt\"; size=3") << "a;b.txt";
    QTest::newRow("path stripped") << QByteArray("attachment; filename=\"../../etc/passwd\"") << "passwd";
    QTest::newRow("windows path stripped")
        << QByteArray("attachment; filename=\"C:\\\\x\\\\evil.exe\"") << "evil.exe";
    QTest::newRow("hidden name") << QByteArray("attachment; filename=\".bashrc\"") << "bashrc";
    QTest::newRow("device name") << QByteArray("attachment; filename=\"nul.txt\"") << "_nul.txt";
    QTest::newRow("override") << QByteArray("attachment; filename*=UTF-8''a%E2%80%AEgpj.exe") << "a_gpj.exe";
    QTest::newRow("parameter without a value before the name")
        << QByteArray("attachment; foo; filename=\"x.pdf\"") << "x.pdf";
    QTest::newRow("only dots") << QByteArray("attachment; filename=\"..\"") << "";
    QTest::newRow("no file name") << QByteArray("inline") << "";
    QTest::newRow("empty") << QByteArray() << "";
}

void TestLocalFileName::contentDisposition() {
    QFETCH(QByteArray, header);
    QFETCH(QString, expected);
    const QString name = LocalFileNames::fromContentDisposition(header);
    QCOMPARE(name, expected);
    QVERIFY(name.isEmpty() || LocalFileNames::isPlainName(name));
}

void TestLocalFileName::typeExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("expected");
    QTest::newRow("jpeg") << "photo"
                          << "image/jpeg"
                          << "photo.jpg";
    QTest::newRow("with parameters") << "page"
                                     << "text/html; charset=utf-8"
                                     << "page.html";
    QTest::newRow("upper case") << "pic"
                                << "IMAGE/PNG"
                                << "pic.png";
    QTest::newRow("has an extension") << "photo.jpeg"
                                      << "image/png"
                                      << "photo.jpeg";
    QTest::newRow("octet stream") << "blob"
                                  << "application/octet-stream"
                                  << "blob";
    QTest::newRow("unknown type") << "x"
                                  << "application/x-unheard-of"
                                  << "x";
    QTest::newRow("no type") << "x"
                             << ""
                             << "x";
    QTest::newRow("long name kept within limit")
        << QString(255, u'a') << "image/gif" << QString(251, u'a') + ".gif";
    QTest::newRow("device name left by making room for the extension")
        << "COM1" + QString(250, u' ') + "x"
        << "image/jpeg"
        << "_COM1" + QString(246, u' ') + ".jpg";
}

void TestLocalFileName::typeExtension() {
    QFETCH(QString, name);
    QFETCH(QString, contentType);
    QFETCH(QString, expected);
    QCOMPARE(LocalFileNames::withTypeExtension(name, contentType), expected);
}

void TestLocalFileName::legacyNames_data() {
    // An address (as harvested) or else the bytes of a Content-Disposition value, the response's
    // Content-Type and the encoding of the page it was found on. 写真 is 8E CA 90 5E in Shift_JIS and
    // BC CC BF BF in EUC-JP, which is ｼﾌｿｿ in Shift_JIS.
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    const auto address = [](const char* row, const char* url, const char* page, const QString& expected) {
        QTest::newRow(row) << QString::fromLatin1(url) << QByteArray() << QString() << page << expected;
    };
    const auto header = [](const char* row, const char* name, const char* contentType, const char* page,
                           const QString& expected) {
        QTest::newRow(row) << QString() << "attachment; filename=" + QByteArray(name) << contentType << page
                           << expected;
    };
    address("Shift_JIS, page unknown", "http://h/%8E%CA%90%5E2.jpg", "", QStringLiteral("写真2.jpg"));
    address("EUC-JP, page unknown: kanji before half-width katakana", "http://h/%BC%CC%BF%BF6.jpg", "",
            QStringLiteral("写真6.jpg"));
    address("the page's encoding decides", "http://h/%BC%CC%BF%BF6.jpg", "Shift_JIS",
            QStringLiteral("ｼﾌｿｿ6.jpg"));
    address("a page that names no encoding: Japanese first", "http://h/%8E%CA%90%5E2.jpg", "windows-1252",
            QStringLiteral("写真2.jpg"));
    address("a page that names no encoding: Latin-1 last", "http://h/caf%E9.jpg", "windows-1252",
            QStringLiteral("café.jpg"));
    address("a 5C trail byte is no backslash", "http://h/%95%5C.txt", "Shift_JIS", QStringLiteral("表.txt"));
    address("a backslash of its own keeps it encoded", "http://h/%8E%CA%5C.jpg", "", "%8E%CA%5C.jpg");
    address("name rules after decoding", "http://h/%8E%CA%3F%81%40.jpg..", "Shift_JIS",
            QStringLiteral("写_　.jpg"));
    header("Shift_JIS header",
           "\"\x8e\xca\x90\x5e"
           "3.jpg\"",
           "", "", QStringLiteral("写真3.jpg"));
    header("the page's encoding reads a header",
           "\"\xbc\xcc\xbf\xbf"
           "5.jpg\"",
           "", "Shift_JIS", QStringLiteral("ｼﾌｿｿ5.jpg"));
    header("the response's charset before the page's",
           "\"\xbc\xcc\xbf\xbf"
           "5.jpg\"",
           "application/octet-stream; charset=\"EUC-JP\"", "Shift_JIS", QStringLiteral("写真5.jpg"));
    header("a Latin-1 response with a Shift_JIS name",
           "\"\x8e\xca\x90\x5e"
           "3.jpg\"",
           "text/plain; charset=ISO-8859-1", "", QStringLiteral("写真3.jpg"));
    header("a 5C trail byte in a header is no path", "\x95\x5c.txt", "", "", QStringLiteral("表.txt"));
    // ソフト表 ends in the trail byte 5C, just before the closing quote.
    header("a 5C trail byte in a quoted header is no escape", "\"\x83\x5c\x83\x74\x83\x67\x95\x5c\"; size=4",
           "", "", QStringLiteral("ソフト表"));
    header("Latin-1 header", "\"caf\xe9.pdf\"", "", "", QStringLiteral("café.pdf"));
    header("cut UTF-8 is neither: the address names the file", "\"\xe6\x97.txt\"", "", "", QString());
    // As UTF-16, these ten bytes would read as five kanji-like characters.
    header("UTF16 without the hyphen is skipped",
           "\"\x8e\xca\x90\x5e"
           "32.jpg\"",
           "text/plain; charset=UTF16", "", QStringLiteral("写真32.jpg"));
    header("UCS-2 is skipped",
           "\"\x8e\xca\x90\x5e"
           "32.jpg\"",
           "text/plain; charset=UCS-2", "", QStringLiteral("写真32.jpg"));
    header("a lone surrogate in CESU-8 is no clean reading: Latin-1 last",
           "\"\xed\xa0\x80"
           "a.txt\"",
           "text/plain; charset=CESU-8", "", QStringLiteral("\u00ED\u00A0\u20ACa.txt"));
    header("a lone surrogate in UTF-7 is no clean reading", "\"+2AA-a.txt\"", "text/plain; charset=UTF-7", "",
           QStringLiteral("+2AA-a.txt"));
}

void TestLocalFileName::legacyNames() {
    QFETCH(QString, url);
    QFETCH(QByteArray, header);
    QFETCH(QString, contentType);
    QFETCH(QString, page);
    QFETCH(QString, expected);
    const QString name = header.isEmpty() ? LocalFileName(url, page)
                                          : LocalFileNames::fromContentDisposition(header, contentType, page);
    QCOMPARE(name, expected);
    QVERIFY(name.isEmpty() || LocalFileNames::isPlainName(name));
}

QTEST_GUILESS_MAIN(TestLocalFileName)
#include "tst_localfilename.moc"
