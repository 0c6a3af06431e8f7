#include "DownloadURL.h"

#include "DownloadBatch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

namespace {

// The transfer's own thread: its event loop drives one batch and ends with it.
class SingleDownloadThread : public QThread {
public:
    SingleDownloadThread(QString folder, DownloadItem item)
        : m_folder(std::move(folder))
        , m_item(std::move(item)) {}

    bool succeeded() const { return m_succeeded; }

protected:
    void run() override {
        DownloadOptions options;
        options.numberTakenNames = false;
        DownloadBatch batch(m_folder, {m_item}, options);
        QObject::connect(&batch, &DownloadBatch::finished, &batch, [this](const DownloadResults& results) {
            m_succeeded = results.size() == 1 && results.front().succeeded();
            exit(0);
        });
        batch.start();
        exec();
    }

private:
    QString m_folder;
    DownloadItem m_item;
    bool m_succeeded = false;
};

} // namespace

bool DownloadURL(const QString& url, const QString& dest) noexcept {
    try {
        if (!QCoreApplication::instance())
            return false;
        const QFileInfo target(dest);
        if (target.fileName().isEmpty())
            return false;
        DownloadItem item;
        item.url = url;
        item.fileName = target.fileName();
        SingleDownloadThread thread(target.path(), item);
        thread.start();
        thread.wait();
        return thread.succeeded();
    } catch (...) {
        return false;
    }
}
