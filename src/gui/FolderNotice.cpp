#include "FolderNotice.h"

#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace FolderNotice {

void addFolder(QMessageBox* notice, const QString& folder) {
    if (!notice || folder.isEmpty())
        return;
    const QUrl location = QUrl::fromLocalFile(folder);
    notice->setInformativeText(QStringLiteral("保存先: <a href=\"%1\">%2</a>")
                                   .arg(location.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                        QDir::toNativeSeparators(folder).toHtmlEscaped()));
    QPushButton* open = notice->addButton(OpenCaption, QMessageBox::ActionRole);
    open->setObjectName(QStringLiteral("OpenFolder"));
    QObject::connect(open, &QPushButton::clicked, notice,
                     [location] { QDesktopServices::openUrl(location); });
}

} // namespace FolderNotice
