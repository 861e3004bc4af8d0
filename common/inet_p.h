#pragma once

// The network side of Inet: everything here lives on the control's network
// thread and talks back to the caller only through the callbacks it is given.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

#include <sodium.h>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;
class QTimer;

namespace common {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct TransferResult {
    bool ok = false;
    QString error;
    QByteArray body;   // to memory
    QString bodyPath;  // to a file
    QByteArray sha256; // of the body written to the file, 32 bytes
    HeaderList headers;
};

// Shared between the network thread, which counts, and the caller, which
// reads at any time.
struct TransferProgress {
    std::atomic<qint64> received{0};
    std::atomic<qint64> total{-1};
    // Set while a progress report is queued to the caller and not yet
    // delivered, so that at most one is ever waiting.
    std::atomic<bool> reportQueued{false};
};

struct TransferOrder {
    quint64 id = 0;
    QString address;
    QString operation = QStringLiteral("get");
    int timeoutMs = 60000;
    // Blocking fetches must finish within the time-out; downloads to a file
    // fail only when they stall that long.
    bool toFile = false;
    bool hashBody = false; // SHA-256 of a body written to a file
    // Bodies kept in memory are refused beyond this many bytes (-1: no limit).
    qint64 maxBody = -1;
    QString folder;
    std::shared_ptr<TransferProgress> progress;
    std::function<void()> onProgress;  // called on the network thread
    std::function<void(TransferResult)> onDone;  // ditto; never for a cancelled order
};

class Transfer;

class InetWorker : public QObject
{
public:
    InetWorker() = default;
    ~InetWorker() override;

    void start(TransferOrder order);
    void cancel(quint64 id);
    void cancelAll();

private:
    friend class Transfer;
    void forget(quint64 id) { m_transfers.erase(id); }

    QNetworkAccessManager *m_manager = nullptr;
    std::map<quint64, Transfer *> m_transfers;
};

// One request under way.
class Transfer : public QObject
{
public:
    Transfer(InetWorker *worker, TransferOrder order);
    ~Transfer() override;

    void begin(QNetworkAccessManager *manager);
    void cancel();

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onTimeout();
    void fail(const QString &message);
    void refuseTooLarge();
    void complete(TransferResult result);
    QString failureOf() const;

    InetWorker *m_worker;
    TransferOrder m_order;
    QNetworkReply *m_reply = nullptr;
    QTimer *m_timer = nullptr;
    QTemporaryFile *m_file = nullptr;
    QByteArray m_body;
    QByteArray m_buffer;
    // Bodies written to a file are hashed as they pass, so that whoever
    // checks them never reads them a second time.
    crypto_hash_sha256_state m_sha256;
    qint64 m_received = 0;
    bool m_timedOut = false;
    bool m_cancelled = false;
    bool m_writeFailed = false;
    bool m_rejected = false;
    bool m_done = false;
};

} // namespace common
