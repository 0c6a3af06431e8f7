// The central error handler: whatever escapes an event handler is shown in the error box and the
// application goes on.

#include "AppMessages.h"
#include "NepirikaApplication.h"
#include "NepirikaError.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {

// Throws from its event handler whatever the posted event asks for.
class ThrowingObject : public QObject {
public:
    enum Kind { Nepirika, Standard, Other, None };
    static constexpr QEvent::Type EventType = QEvent::Type(QEvent::User + 7);

    struct Request : QEvent {
        Request(Kind kind, QString text)
            : QEvent(EventType)
            , kind(kind)
            , text(std::move(text)) {}
        Kind kind;
        QString text;
    };

    int handled = 0;
    int reachedEnd = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() != EventType)
            return QObject::event(e);
        ++handled;
        const auto* request = static_cast<Request*>(e);
        switch (request->kind) {
        case Nepirika:
            throw NepirikaError(request->text);
        case Standard:
            throw std::runtime_error(request->text.toStdString());
        case Other:
            throw 42;
        case None:
            break;
        }
        ++reachedEnd;
        return true;
    }
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private:
    QList<QPointer<QMessageBox>> m_boxes;

private Q_SLOTS:
    void init() {
        m_boxes.clear();
        AppMessages::setOpenHook([this](QMessageBox* box) { m_boxes.append(box); });
    }

    void cleanup() {
        AppMessages::setOpenHook({});
        for (const QPointer<QMessageBox>& box : std::as_const(m_boxes))
            delete box.data();
    }

    void escapingFailureIsShownInTheErrorBox_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("thrown");
        QTest::addColumn<QString>("shown");

        QTest::newRow("program's own failure gets a final period")
            << int(ThrowingObject::Nepirika) << QStringLiteral("ページを読み込めません")
            << QStringLiteral("ページを読み込めません。");
        QTest::newRow("Japanese sentence ended already")
            << int(ThrowingObject::Nepirika) << QStringLiteral("保存できません。")
            << QStringLiteral("保存できません。");
        QTest::newRow("message ending in a period stays")
            << int(ThrowingObject::Nepirika) << QStringLiteral("Failed.") << QStringLiteral("Failed.");
        QTest::newRow("list index message has no period added")
            << int(ThrowingObject::Nepirika) << QStringLiteral("リストのインデックスが範囲を超えています (5)")
            << QStringLiteral("リストのインデックスが範囲を超えています (5)");
        QTest::newRow("standard exception shows what()")
            << int(ThrowingObject::Standard) << QStringLiteral("bad state") << QStringLiteral("bad state.");
        QTest::newRow("anything else gets a generic text")
            << int(ThrowingObject::Other) << QString()
            << AppMessages::withFinalPeriod(NepirikaApplication::unknownErrorText());
    }

    void escapingFailureIsShownInTheErrorBox() {
        QFETCH(int, kind);
        QFETCH(QString, thrown);
        QFETCH(QString, shown);

        ThrowingObject target;
        QCoreApplication::postEvent(&target, new ThrowingObject::Request(ThrowingObject::Kind(kind), thrown));
        QTRY_COMPARE(m_boxes.size(), 1);
        QMessageBox* box = m_boxes.first();
        QVERIFY(box);
        QCOMPARE(box->text(), shown);
        QCOMPARE(box->windowTitle(), QStringLiteral("ネピリカ"));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->buttons().size(), 1);
        QVERIFY(box->isModal());
        // The handler was abandoned at the throw.
        QCOMPARE(target.handled, 1);
        QCOMPARE(target.reachedEnd, 0);

        // The application keeps running: later events are delivered, the box can be answered.
        QCoreApplication::postEvent(&target, new ThrowingObject::Request(ThrowingObject::None, {}));
        QTRY_COMPARE(target.reachedEnd, 1);
        box->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(!box || !box->isVisible());
    }

    void failureInTimerAndButtonHandlersIsCaught() {
        int ticks = 0;
        QTimer timer;
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, [&ticks] {
            ++ticks;
            if (ticks == 1)
                throw NepirikaError(QStringLiteral("タイマーの失敗"));
        });
        timer.start();
        QTRY_VERIFY(ticks >= 3);
        timer.stop();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first()->text(), QStringLiteral("タイマーの失敗。"));

        QPushButton button(QStringLiteral("ボタン"));
        connect(&button, &QPushButton::clicked, this, [] { throw std::runtime_error("clicked"); });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QTRY_COMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes.last()->text(), QStringLiteral("clicked."));
    }
};

int main(int argc, char** argv) {
    NepirikaApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("ネピリカ"));
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
