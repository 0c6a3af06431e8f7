#include "LoginBrowserWindow.h"

#include "AddressInput.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace {

// Lets every request of the page through, after the profile's no-script interceptor, if any, would
// have held back all but the documents: a log-in page needs its scripts and style sheets.
class EveryRequest : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override { info.block(false); }
};

QToolButton* button(QWidget* parent, QAction* action, const QString& text) {
    auto* b = new QToolButton(parent);
    action->setText(text);
    b->setDefaultAction(action);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
}

} // namespace

LoginBrowserWindow::LoginBrowserWindow(QWebEngineProfile* profile, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("ブラウザ"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_view = new QWebEngineView(this);
    // The page goes with its view, and so with the window.
    m_page = new QWebEnginePage(profile, m_view);
    m_page->setUrlRequestInterceptor(new EveryRequest(m_page));
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    m_view->setPage(m_page);

    m_address = new QLineEdit(this);
    m_address->setAccessibleName(QStringLiteral("アドレス"));
    m_address->setClearButtonEnabled(true);
    connect(m_address, &QLineEdit::returnPressed, this, &LoginBrowserWindow::go);
    auto* bar = new QHBoxLayout;
    bar->addWidget(button(this, m_page->action(QWebEnginePage::Back), QStringLiteral("戻る")));
    bar->addWidget(button(this, m_page->action(QWebEnginePage::Forward), QStringLiteral("進む")));
    bar->addWidget(button(this, m_page->action(QWebEnginePage::Reload), QStringLiteral("再読み込み")));
    bar->addWidget(m_address, 1);
    auto* toInput = new QAction(this);
    m_toInput = button(this, toInput, QStringLiteral("入力欄へ"));
    m_toInput->setToolTip(QStringLiteral("表示中のページのアドレスを入力欄に入れる"));
    connect(toInput, &QAction::triggered, this, [this] {
        const QUrl url = shownUrl();
        if (url.isValid() && !url.isEmpty())
            Q_EMIT addressChosen(url.toString(QUrl::FullyEncoded));
    });
    bar->addWidget(m_toInput);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);

    connect(m_page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        if (!m_address->hasFocus() || !m_address->isModified())
            m_address->setText(AddressInput::shown(url));
    });
    connect(m_page, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        setWindowTitle(title.isEmpty() ? QStringLiteral("ブラウザ") : title + QStringLiteral(" - ブラウザ"));
    });
    resize(1024, 768);
}

LoginBrowserWindow::~LoginBrowserWindow() = default;

void LoginBrowserWindow::open(const QUrl& url) {
    if (url.isValid() && !url.isEmpty()) {
        m_address->setText(AddressInput::shown(url));
        m_page->load(url);
    } else {
        m_address->setFocus();
    }
}

void LoginBrowserWindow::go() {
    const QUrl url = AddressInput::toUrl(m_address->text());
    if (!url.isValid())
        return;
    m_address->setModified(false);
    m_page->load(url);
}

QUrl LoginBrowserWindow::shownUrl() const {
    return m_page->url();
}

QWebEnginePage* LoginBrowserWindow::page() const {
    return m_page;
}
