#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>

class QWebEngineView;
class WindowViewport;

// One view of a browser window's size, never on screen, that shows the hidden pages one at a time,
// in the order they ask: a shown view costs the program a few frames of its size, and a visible
// renderer's memory, so pages that only need to draw a frame or two take turns on one.
class WindowStage : public QObject {
    Q_OBJECT
public:
    explicit WindowStage(QObject* parent = nullptr);
    ~WindowStage() override;

    // viewport's page goes on stage now, or after the pages before it.
    void enter(WindowViewport* viewport);
    // viewport's page leaves the stage, or its turn is given up.
    void leave(WindowViewport* viewport);

private:
    void showNext();

    std::unique_ptr<QWebEngineView> m_view;
    QList<QPointer<WindowViewport>> m_waiting;
    QPointer<WindowViewport> m_current;
};
