#pragma once

#include <QMenu>

class AppSettings;

// The menu "最近の入力": the last analysed inputs as remembered in the settings, each shown by its
// first address (and how many more lines it has), the whole input in its tooltip; choosing one
// gives it back. "履歴を消去" forgets them all.
class RecentInputsMenu : public QMenu {
    Q_OBJECT
public:
    // parent is the window whose font the entries are shortened to fit in.
    RecentInputsMenu(AppSettings* settings, QWidget* parent);

    // Remembers an input that is being analysed.
    void add(const QString& input);

Q_SIGNALS:
    void chosen(const QString& input);

private:
    void rebuild();

    AppSettings* m_settings;
};
