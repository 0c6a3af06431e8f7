#pragma once

#include <QFrame>
#include <QUrl>

#include <chrono>

// The advertisement banner: the band at the top of the main window that loads the advertisement
// list at start-up and shows one of its pages at random, a new one every interval.
class Tkoukoku : public QFrame {
    Q_OBJECT
public:
    // listUrl and interval are for tests; the program uses the built-in list address and 30 seconds.
    explicit Tkoukoku(QWidget* parent = nullptr, const QUrl& listUrl = defaultListUrl(),
                      std::chrono::milliseconds interval = std::chrono::seconds(30));
    ~Tkoukoku() override;

    static QUrl defaultListUrl();
};
