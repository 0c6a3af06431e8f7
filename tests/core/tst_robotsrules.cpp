// robots.txt rules as Google and Chromium read them: groups, longest match, wildcards.

#include "RobotsRules.h"

#include <QTest>

class TestRobotsRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rules_data();
    void rules();
};

void TestRobotsRules::rules_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("allowed");

    const QByteArray mixed = "User-agent: *\r\nDisallow: /shop\r\nAllow: /shop/open\r\nDisallow: /*.pdf$\r\n"
                             "Allow: /shop/\r\nDisallow: /shop/\r\n";
    QTest::newRow("no rules") << QByteArray() << "/x" << true;
    QTest::newRow("prefix") << mixed << "/shopping" << false;
    QTest::newRow("longer allow wins") << mixed << "/shop/open/1" << true;
    QTest::newRow("tie: allow wins") << mixed << "/shop/closed" << true;
    QTest::newRow("end anchor matches") << mixed << "/a/b.pdf" << false;
    QTest::newRow("end anchor only at the end") << mixed << "/a/b.pdf?x=1" << true;
    QTest::newRow("query counts") << QByteArray("User-agent: *\nDisallow: /*?sort=") << "/list?sort=up"
                                  << false;
    QTest::newRow("empty disallow allows") << QByteArray("User-agent: *\nDisallow:\n") << "/" << true;
    QTest::newRow("comment and case")
        << QByteArray("USER-AGENT: * # all\nDISALLOW: /a # no\n") << "/a" << false;
    QTest::newRow("own group over *")
        << QByteArray("User-agent: *\nDisallow: /\n\nUser-agent: nepirika/2\nDisallow: /x\n") << "/y" << true;
    QTest::newRow("another crawler's group")
        << QByteArray("User-agent: otherbot\nDisallow: /\n") << "/y" << true;
    QTest::newRow("agents sharing a group")
        << QByteArray("User-agent: a\nUser-agent: *\nDisallow: /p\n") << "/p" << false;
    QTest::newRow("rules before any group") << QByteArray("Disallow: /\n") << "/p" << true;
    QTest::newRow("escaped and unescaped")
        << QByteArray("User-agent: *\nDisallow: /日本\n") << "/%E6%97%A5%E6%9C%AC/a" << false;
}

void TestRobotsRules::rules() {
    QFETCH(QByteArray, text);
    QFETCH(QString, path);
    QFETCH(bool, allowed);
    QCOMPARE(RobotsRules::parse(text).allowsPath(path), allowed);
}

QTEST_GUILESS_MAIN(TestRobotsRules)
#include "tst_robotsrules.moc"
