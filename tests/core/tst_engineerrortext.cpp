#include "EngineErrorText.h"

#include <QTest>

class TestEngineErrorText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reason_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("engineText");
        QTest::addColumn<QString>("reason");

        QTest::newRow("refused") << -102 << "net::ERR_CONNECTION_REFUSED"
                                 << "接続を拒否されました";
        QTest::newRow("unknown host") << -105 << "net::ERR_NAME_NOT_RESOLVED"
                                      << "サーバーが見つかりません";
        QTest::newRow("certificate outside the table") << -299 << "net::ERR_CERT_NEW_KIND"
                                                       << "サーバーの証明書に問題があります";
        QTest::newRow("connection group by number") << -199 << ""
                                                    << "接続できませんでした（エラー番号 -199）";
        QTest::newRow("no group") << -7000 << "net::ERR_SOMETHING_NEW"
                                  << "読み込めませんでした（エラー番号 -7000）";
    }

    void reason() {
        QFETCH(int, code);
        QFETCH(QString, engineText);
        QFETCH(QString, reason);
        QCOMPARE(EngineErrorText::reason(code, engineText), reason);
        QVERIFY(!EngineErrorText::reason(code, engineText).contains(QLatin1String("ERR_")));
    }
};

QTEST_GUILESS_MAIN(TestEngineErrorText)
#include "tst_engineerrortext.moc"
