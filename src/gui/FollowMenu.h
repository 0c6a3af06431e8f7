#pragma once

#include <QMenu>

class AppSettings;
class QAction;
class QActionGroup;
class QDoubleSpinBox;
class QLineEdit;

// 設定 → リンク先も解析: how far an analysis follows the links of its pages (しない, 1, 2, 3 links
// away), whether to other hosts, only links containing some texts, whether robots.txt is obeyed,
// and the wait between two pages of one host. Every change is remembered at once.
class FollowMenu : public QMenu {
    Q_OBJECT
public:
    FollowMenu(AppSettings* settings, QWidget* parent = nullptr);

private:
    void load();
    void store();

    AppSettings* m_settings;
    QActionGroup* m_depths = nullptr;
    QAction* m_spanHosts = nullptr;
    QAction* m_ignoreRobots = nullptr;
    QLineEdit* m_match = nullptr;
    QDoubleSpinBox* m_delay = nullptr;
};
