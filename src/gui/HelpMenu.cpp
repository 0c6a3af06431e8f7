#include "HelpMenu.h"

#include "AppMessages.h"

#include <QDialog>
#include <QFile>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

// The README is built into the program; its section on the window is the guide.
const QString ReadmeResource = QStringLiteral(":/doc/README.md");
const QString GuideHeading = QStringLiteral("### Using the window");

} // namespace

HelpMenu::HelpMenu(QWidget* window)
    : QMenu(QStringLiteral("ヘルプ(&H)"), window)
    , m_window(window) {
    setObjectName(QStringLiteral("Help1"));
    Guide1 = addAction(QStringLiteral("使い方(&U)"));
    Guide1->setObjectName(QStringLiteral("Guide1"));
    Guide1->setShortcut(QKeySequence(Qt::Key_F1));
    Guide1->setShortcutContext(Qt::WindowShortcut);
    // The shortcut works while the menu is closed: the action belongs to the window too.
    window->addAction(Guide1);
    connect(Guide1, &QAction::triggered, this, &HelpMenu::showGuide);
    addSeparator();
    About1 = addAction(QStringLiteral("バージョン情報(&A)"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, &HelpMenu::showVersion);
}

QString HelpMenu::userGuide() {
    QFile file(ReadmeResource);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString readme = QString::fromUtf8(file.readAll());
    const qsizetype start = readme.indexOf(GuideHeading);
    if (start < 0)
        return {};
    // Up to the next heading of the same level or higher ("### ", "## ", "# ").
    qsizetype end = start + GuideHeading.size();
    while ((end = readme.indexOf(QLatin1Char('\n'), end)) >= 0) {
        ++end;
        const QStringView line = QStringView(readme).mid(end);
        if (line.startsWith(u"### ") || line.startsWith(u"## ") || line.startsWith(u"# "))
            break;
    }
    return readme.mid(start, end < 0 ? -1 : end - start).trimmed();
}

QDialog* HelpMenu::guideWindow() const {
    return m_guide;
}

void HelpMenu::showGuide() {
    if (m_guide) {
        m_guide->raise();
        m_guide->activateWindow();
        return;
    }
    auto* guide = new QDialog(m_window);
    guide->setAttribute(Qt::WA_DeleteOnClose);
    guide->setWindowTitle(GuideTitle);
    auto* layout = new QVBoxLayout(guide);
    auto* text = new QTextBrowser(guide);
    text->setOpenExternalLinks(false);
    const QString markdown = userGuide();
    if (markdown.isEmpty())
        text->setPlainText(QStringLiteral("使い方の文書が見つかりません。"));
    else
        text->setMarkdown(markdown);
    layout->addWidget(text);
    guide->resize(720, 560);
    // Beside the main window (right, else left) where the screen has room, so that both can be read.
    if (m_window) {
        const QRect main = m_window->frameGeometry();
        const QScreen* screen = m_window->screen();
        const QRect area = screen ? screen->availableGeometry() : QRect();
        const QRect right(main.topRight() + QPoint(8, 0), guide->size());
        const QRect left(main.topLeft() - QPoint(8 + guide->width(), 0), guide->size());
        if (!area.isValid() || area.contains(right))
            guide->move(right.topLeft());
        else if (area.contains(left))
            guide->move(left.topLeft());
    }
    m_guide = guide;
    guide->show();
}

void HelpMenu::showVersion() {
    AppMessages::showNotice(m_window, QStringLiteral("ネピリカ バージョン %1\n\n"
                                                     "ウェブページのリンクと画像のアドレスを集め、"
                                                     "選んだものをダウンロードします。")
                                          .arg(QStringLiteral(NEPIRIKA_VERSION)));
}
