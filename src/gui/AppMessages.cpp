#include "AppMessages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace AppMessages {
namespace {

std::function<void(QMessageBox*)>& openHook() {
    static std::function<void(QMessageBox*)> hook;
    return hook;
}

QMessageBox* open(QMessageBox* box) {
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    // Addresses and reasons can be selected and copied out of the box; links can be followed.
    box->setTextInteractionFlags(Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard);
    box->show();
    if (openHook())
        openHook()(box);
    return box;
}

} // namespace

QString withFinalPeriod(const QString& message) {
    if (message.isEmpty())
        return message;
    // Compare whole characters, so that a character outside the basic plane counts as one.
    const QString last = message.right(message.back().isLowSurrogate() && message.size() > 1 ? 2 : 1);
    const char32_t c = last.toUcs4().value(0);
    // A Japanese sentence ends with Japanese punctuation.
    if (c == U'。' || c == U'！' || c == U'？' || c == U'．')
        return message;
    if (c >= 0x3000)
        return message + QStringLiteral("。");
    if (c > U'.')
        return message + QLatin1Char('.');
    return message;
}

QString shortList(const QStringList& lines, qsizetype named) {
    QString text = lines.mid(0, named).join(u'\n');
    if (lines.size() > named)
        text += QStringLiteral("\nほか %1 件").arg(lines.size() - named);
    return text;
}

QMessageBox* showError(QWidget* parent, const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Critical, QApplication::applicationDisplayName(),
                                withFinalPeriod(message), QMessageBox::Ok, parent);
    return open(box);
}

QMessageBox* showNotice(QWidget* parent, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                                QMessageBox::NoButton, parent);
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    box->setStyleSheet(QStringLiteral("QLabel { max-width: %1px; }").arg(area.width() / 2));
    open(box);
    box->adjustSize();
    box->move(area.center() - box->rect().center());
    return box;
}

QMessageBox* showQuestion(QWidget* parent, const QString& text, const QString& yes, const QString& no) {
    auto* box = new QMessageBox(QMessageBox::Question, QApplication::applicationDisplayName(), text,
                                QMessageBox::NoButton, parent);
    box->addButton(yes, QMessageBox::AcceptRole);
    QPushButton* stay = box->addButton(no, QMessageBox::RejectRole);
    box->setDefaultButton(stay);
    box->setEscapeButton(stay);
    return open(box);
}

void setOpenHook(std::function<void(QMessageBox*)> hook) {
    openHook() = std::move(hook);
}

} // namespace AppMessages
