#include "AddressInput.h"

#include <QTest>

class TestAddressInput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lines_data();
    void lines();
    void toUrl_data();
    void toUrl();
};

void TestAddressInput::lines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    const QStringList ab{QStringLiteral("http://a/"), QStringLiteral("http://b/")};
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("lf") << QStringLiteral("http://a/\nhttp://b/") << ab;
    QTest::newRow("crlf and final break") << QStringLiteral("http://a/\r\nhttp://b/\r\n") << ab;
    QTest::newRow("lone cr") << QStringLiteral("http://a/\rhttp://b/") << ab;
    QTest::newRow("blank lines") << QStringLiteral("\n\nhttp://a/\n \t\nhttp://b/\n\n") << ab;
    QTest::newRow("surrounding blanks") << QStringLiteral("  http://a/\t\n\u3000http://b/\u3000") << ab;
}

void TestAddressInput::lines() {
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(AddressInput::lines(text), expected);
}

void TestAddressInput::toUrl_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no scheme") << QStringLiteral("example.com/x") << QStringLiteral("http://example.com/x");
    QTest::newRow("http kept") << QStringLiteral("http://example.com/a?b=c#d")
                               << QStringLiteral("http://example.com/a?b=c#d");
    QTest::newRow("https kept") << QStringLiteral("https://example.com/")
                                << QStringLiteral("https://example.com/");
    QTest::newRow("port") << QStringLiteral("127.0.0.1:8080/p") << QStringLiteral("http://127.0.0.1:8080/p");
    QTest::newRow("blank") << QStringLiteral("   ") << QString();
    QTest::newRow("scheme in capitals") << QStringLiteral("HTTP://Host/X") << QStringLiteral("http://host/X");
    QTest::newRow("malformed host is no address") << QStringLiteral("http://exa mple.com/") << QString();
    QTest::newRow("unclosed ipv6 is no address") << QStringLiteral("http://[::1") << QString();
    // Qt's port reading wraps around at 2^64: these would be port 81.
    QTest::newRow("port beyond 2^64 is no address")
        << QStringLiteral("http://f:18446744073709551697/c") << QString();
    QTest::newRow("port beyond 2^64 without scheme is no address")
        << QStringLiteral("example.com:18446744073709551697/c") << QString();
    QTest::newRow("port with leading zeros")
        << QStringLiteral("http://[::1]:0080/x") << QStringLiteral("http://[::1]:80/x");
    QTest::newRow("port and a double slash in the path")
        << QStringLiteral("example.com:8080/a//b") << QStringLiteral("http://example.com:8080/a//b");
    QTest::newRow("japanese host") << QStringLiteral("http://ホスト.jp/パス")
                                   << QStringLiteral("http://ホスト.jp/パス");
}

void TestAddressInput::toUrl() {
    QFETCH(QString, line);
    QFETCH(QString, expected);
    const QUrl url = AddressInput::toUrl(line);
    QCOMPARE(url.isValid() ? url.toString() : QString(), expected);
}

QTEST_GUILESS_MAIN(TestAddressInput)
#include "tst_addressinput.moc"
