#include "LoginActions.h"

#include "AppMessages.h"
#include "CookieFile.h"
#include "FileDialogs.h"
#include "HarvestProfile.h"
#include "LoginBrowserWindow.h"

#include <QAction>
#include <QMessageBox>
#include <QPushButton>

LoginActions::LoginActions(QWidget* window, HarvestProfile* profile, Hooks hooks)
    : QObject(window)
    , m_window(window)
    , m_profile(profile)
    , m_hooks(std::move(hooks)) {
    LoadCookies = new QAction(QStringLiteral("Cookie を読み込む…(&K)"), this);
    LoadCookies->setObjectName(QStringLiteral("LoadCookies1"));
    connect(LoadCookies, &QAction::triggered, this, [this] {
        FileDialogs::chooseFileToOpen(
            m_window, QStringLiteral("Cookie を読み込む"),
            {QStringLiteral("Cookie ファイル (*.txt)"), QStringLiteral("すべてのファイル (*)")},
            [this](const QString& fileName) { loadCookieFile(fileName); });
    });
    OpenBrowser = new QAction(QStringLiteral("ブラウザで開く…(&B)"), this);
    OpenBrowser->setObjectName(QStringLiteral("OpenBrowser1"));
    connect(OpenBrowser, &QAction::triggered, this, [this] { openBrowser(); });
    ClearLogIns = new QAction(QStringLiteral("ログイン情報を消去"), this);
    ClearLogIns->setObjectName(QStringLiteral("ClearLogIns1"));
    connect(ClearLogIns, &QAction::triggered, this, &LoginActions::askToClear);
}

LoginActions::~LoginActions() {
    // The browser window's page goes before the profile.
    delete m_browser;
}

void LoginActions::openBrowser(const QUrl& url) {
    const QUrl target = url.isEmpty() && m_hooks.inputAddress ? m_hooks.inputAddress() : url;
    if (!m_browser) {
        m_browser = new LoginBrowserWindow(m_profile->profile(), m_window);
        connect(m_browser, &LoginBrowserWindow::addressChosen, this, [this](const QString& address) {
            if (m_hooks.toInput)
                m_hooks.toInput(address);
        });
        m_browser->open(target);
    } else if (!target.isEmpty()) {
        m_browser->open(target);
    }
    m_browser->show();
    m_browser->raise();
    m_browser->activateWindow();
}

LoginBrowserWindow* LoginActions::browserWindow() const {
    return m_browser;
}

void LoginActions::loadCookieFile(const QString& fileName) {
    const CookieFile::Reading reading = CookieFile::read(fileName);
    if (!reading.error.isEmpty()) {
        AppMessages::showError(m_window,
                               QStringLiteral("Cookie ファイルを読めません: %1").arg(reading.error));
        return;
    }
    CookieFile::Reading shown = reading;
    shown.problems += m_profile->addCookies(reading.cookies);
    std::sort(shown.problems.begin(), shown.problems.end(),
              [](const CookieFile::Problem& a, const CookieFile::Problem& b) { return a.line < b.line; });
    const qsizetype taken = reading.cookies.size() - (shown.problems.size() - reading.problems.size());
    QString text = QStringLiteral("%1 件の Cookie を読み込みました。").arg(taken);
    const QStringList notes = CookieFile::notes(fileName, shown, true);
    if (!notes.isEmpty())
        text += QStringLiteral("\n\n") + AppMessages::shortList(notes, 10);
    AppMessages::showNotice(m_window, text);
}

void LoginActions::askToClear() {
    QMessageBox* box = AppMessages::showQuestion(
        m_window,
        QStringLiteral("ログイン情報（ブラウザの Cookie、サイトの保存データ、キャッシュ）を消去しますか？\n"
                       "ログインしていたサイトからはログアウトした状態になります。"),
        QStringLiteral("消去"), QStringLiteral("キャンセル"));
    QAbstractButton* yes = box->buttons().value(0);
    for (QAbstractButton* b : box->buttons())
        if (box->buttonRole(b) == QMessageBox::AcceptRole || box->buttonRole(b) == QMessageBox::YesRole)
            yes = b;
    connect(box, &QMessageBox::finished, this, [this, box, yes] {
        if (box->clickedButton() != yes)
            return;
        // A page still open in the browser window keeps what it holds in memory: it goes too.
        delete m_browser;
        m_profile->clearLogIns();
        if (m_hooks.cleared)
            m_hooks.cleared();
    });
}
