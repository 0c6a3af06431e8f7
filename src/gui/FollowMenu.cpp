#include "FollowMenu.h"

#include "AppSettings.h"

#include <QActionGroup>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QWidgetAction>

namespace {

// A labelled box inside the menu.
QWidgetAction* boxAction(QMenu* menu, const QString& label, QWidget* box) {
    auto* holder = new QWidget(menu);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(24, 2, 8, 2);
    auto* text = new QLabel(label, holder);
    text->setBuddy(box);
    box->setParent(holder);
    layout->addWidget(text);
    layout->addWidget(box, 1);
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(holder);
    menu->addAction(action);
    return action;
}

} // namespace

FollowMenu::FollowMenu(AppSettings* settings, QWidget* parent)
    : QMenu(QStringLiteral("リンク先も解析(&L)"), parent)
    , m_settings(settings) {
    m_depths = new QActionGroup(this);
    m_depths->setExclusive(true);
    const QStringList names = {QStringLiteral("しない"), QStringLiteral("1"), QStringLiteral("2"),
                               QStringLiteral("3")};
    for (int depth = 0; depth <= LinkFollowing::MostDepth; ++depth) {
        QAction* action = addAction(names.at(depth));
        action->setCheckable(true);
        action->setData(depth);
        action->setToolTip(
            depth == 0 ? QStringLiteral("入力したページだけを解析します")
                       : QStringLiteral("入力したページから %1 リンク先までのページも解析します").arg(depth));
        m_depths->addAction(action);
    }
    addSeparator();
    m_spanHosts = addAction(QStringLiteral("ほかのサイトのリンク先も解析"));
    m_spanHosts->setCheckable(true);
    m_ignoreRobots = addAction(QStringLiteral("robots.txt に従わない"));
    m_ignoreRobots->setCheckable(true);
    m_match = new QLineEdit;
    m_match->setAccessibleName(QStringLiteral("たどるリンクの絞り込み"));
    m_match->setPlaceholderText(QStringLiteral("空白で区切って複数"));
    m_match->setClearButtonEnabled(true);
    boxAction(this, QStringLiteral("アドレスに含む:"), m_match);
    m_delay = new QDoubleSpinBox;
    m_delay->setAccessibleName(QStringLiteral("同じサイトのページの間隔"));
    m_delay->setRange(0, LinkFollowing::MostDelaySeconds);
    m_delay->setDecimals(1);
    m_delay->setSingleStep(0.5);
    m_delay->setSuffix(QStringLiteral(" 秒"));
    boxAction(this, QStringLiteral("同じサイトの間隔:"), m_delay);

    load();
    connect(m_depths, &QActionGroup::triggered, this, &FollowMenu::store);
    connect(m_spanHosts, &QAction::toggled, this, &FollowMenu::store);
    connect(m_ignoreRobots, &QAction::toggled, this, &FollowMenu::store);
    connect(m_match, &QLineEdit::editingFinished, this, &FollowMenu::store);
    connect(m_delay, &QDoubleSpinBox::valueChanged, this, &FollowMenu::store);
}

void FollowMenu::load() {
    const LinkFollowing::Settings s = m_settings->following();
    for (QAction* action : m_depths->actions())
        action->setChecked(action->data().toInt() == s.depth);
    m_spanHosts->setChecked(s.spanHosts);
    m_ignoreRobots->setChecked(!s.obeyRobots);
    m_match->setText(s.match.join(QLatin1Char(' ')));
    m_delay->setValue(s.delaySeconds);
}

void FollowMenu::store() {
    LinkFollowing::Settings s;
    QAction* depth = m_depths->checkedAction();
    s.depth = depth ? depth->data().toInt() : 0;
    s.spanHosts = m_spanHosts->isChecked();
    s.obeyRobots = !m_ignoreRobots->isChecked();
    s.match = m_match->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    s.delaySeconds = m_delay->value();
    m_settings->setFollowing(s);
    m_settings->sync();
}
