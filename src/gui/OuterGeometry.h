#pragma once

#include <QObject>
#include <QRect>

class QWidget;

// Places a top-level window by its outer rectangle (border and caption included), as the window layouts
// give it: the window is moved and sized at once, and when it is first shown and the window manager has
// told the size of its frame, the inner size is reduced by that frame once.
class OuterGeometry : public QObject {
    Q_OBJECT
public:
    static void apply(QWidget* window, const QRect& outer);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    OuterGeometry(QWidget* window, const QRect& outer);
    void fitFrame();

    QWidget* m_window;
    QRect m_outer;
};
