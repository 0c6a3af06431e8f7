#include "PicturePreview.h"

#include "DisplayAddress.h"
#include "PictureStore.h"

#include <QAbstractItemModel>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

PicturePreview::PicturePreview(PictureStore* store, PictureCellDelegate::CellOf cellOf,
                               QAbstractItemModel* model, QWidget* parent)
    : QDialog(parent, Qt::Window)
    , m_store(store)
    , m_cellOf(std::move(cellOf))
    , m_model(model) {
    setObjectName(QStringLiteral("PicturePreview"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    m_area = new QWidget(this);
    m_area->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_area, 1);
    m_facts = new QLabel(this);
    m_facts->setObjectName(QStringLiteral("previewFacts"));
    m_facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_address = new QLabel(this);
    m_address->setObjectName(QStringLiteral("previewAddress"));
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_facts);
    layout->addWidget(m_address);
    // Keys go to the window, not to the labels.
    m_facts->setFocusPolicy(Qt::NoFocus);
    m_address->setFocusPolicy(Qt::NoFocus);
    if (store) {
        connect(store, &PictureStore::pictureLoaded, this, &PicturePreview::onLoaded);
        connect(store, &PictureStore::changed, this, &PicturePreview::updateFacts);
    }
    // Most of the main window, or of the screen without one.
    const QWidget* main = parent ? parent->window() : nullptr;
    const QRect over =
        main ? main->geometry()
             : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                 : QRect(0, 0, 1024, 768));
    QRect place(QPoint(), over.size() * 9 / 10);
    place.moveCenter(over.center());
    setGeometry(place);
}

int PicturePreview::row() const {
    return m_row;
}

QImage PicturePreview::picture() const {
    return m_picture;
}

QString PicturePreview::problem() const {
    return m_problem;
}

QString PicturePreview::factsText() const {
    return m_facts->text();
}

void PicturePreview::showRow(int row) {
    if (!m_model || row < 0 || row >= m_model->rowCount())
        return;
    m_row = row;
    m_cell = m_cellOf ? m_cellOf(row) : PictureCellDelegate::Cell{};
    m_picture = QImage();
    m_problem.clear();
    m_loading = false;
    if (!m_cell.image) {
        m_problem = QStringLiteral("画像ではないため表示できません");
    } else if (m_store) {
        m_loading = true;
        // Decoded no larger than the screen needs.
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        const QSize bound = screen ? screen->availableSize() * screen->devicePixelRatio() : QSize(2560, 1600);
        m_store->loadPicture(m_cell.url, m_cell.referer, bound);
    }
    setWindowTitle(PictureCellDelegate::nameOf(m_cell.url, m_cell.charset));
    m_address->setText(
        m_address->fontMetrics().elidedText(DisplayAddress::forDisplay(m_cell.url, m_cell.charset),
                                            Qt::ElideMiddle, std::max(200, width() - 20)));
    m_address->setToolTip(m_cell.url);
    updateFacts();
    if (!isVisible()) {
        show();
        raise();
        activateWindow();
    }
    update();
    Q_EMIT rowShown(row);
}

void PicturePreview::onLoaded(const QString& url, const QImage& picture, const QString& problem) {
    // A late answer for an entry left meanwhile is not shown.
    if (!m_loading || url != m_cell.url)
        return;
    m_loading = false;
    m_picture = picture;
    m_problem = problem;
    updateFacts();
    update();
}

void PicturePreview::updateFacts() {
    if (m_row < 0)
        return;
    QStringList parts{PictureCellDelegate::nameOf(m_cell.url, m_cell.charset)};
    PictureFacts facts;
    if (m_cell.image && m_store) {
        facts = m_store->facts(m_cell.url);
    } else if (!m_cell.image) {
        facts.state = PictureFacts::State::Known;
        facts.typeName = PictureCellDelegate::embedType(m_cell.url);
    }
    for (const QString& part : {facts.pixelText(), facts.byteText(), facts.typeName})
        if (!part.isEmpty())
            parts.append(part);
    if (m_model)
        parts.append(QStringLiteral("%1 / %2").arg(m_row + 1).arg(m_model->rowCount()));
    m_facts->setText(parts.join(QStringLiteral("　")));
}

void PicturePreview::keyPressEvent(QKeyEvent* event) {
    const int rows = m_model ? m_model->rowCount() : 0;
    int to = -1;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_PageUp:
        to = m_row - 1;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        to = m_row + 1;
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = rows - 1;
        break;
    case Qt::Key_Space:
        close();
        return;
    default:
        QDialog::keyPressEvent(event);
        return;
    }
    if (to >= 0 && to < rows && to != m_row)
        showRow(to);
}

void PicturePreview::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    const QRect area = m_area->geometry();
    painter.fillRect(area, palette().color(QPalette::Dark));
    if (!m_picture.isNull()) {
        // At its own size, or smaller to fit; never enlarged.
        const qreal ratio = m_picture.devicePixelRatio();
        QSize size = (QSizeF(m_picture.size()) / ratio).toSize();
        if (size.width() > area.width() || size.height() > area.height())
            size.scale(area.size(), Qt::KeepAspectRatio);
        QRect place(QPoint(), size);
        place.moveCenter(area.center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(place, m_picture);
        return;
    }
    painter.setPen(palette().color(QPalette::BrightText));
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
                     m_loading ? QStringLiteral("読み込み中…") : m_problem);
}
