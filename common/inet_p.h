#pragma once

// The network side of Inet: everything here lives on the control's network
// thread and talks back to the caller only through the callbacks it is given.
// The HTTP itself is libcurl's: unlike Qt's network access, it tells a body
// cut by a reset, or a chunked body without its closing chunk, from a whole
// one.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTemporaryFile;
class QTimer;

typedef void CURL;
typedef void CURLM;
struct curl_slist;

namespace common {

class BodyHasher;

// Where an address leads, as far as a redirect may go from one to another.
enum class AddressKind { Public, Loopback, LinkLocal, Private };
AddressKind addressKind(const QString &ip);
// A redirect may lead to a public address from anywhere, and to an
// internal one only from the same kind: a page out on the web never sends
// the program to the machine itself or into the local network.
bool mayRedirect(AddressKind from, AddressKind to);

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct TransferResult {
    bool ok = false;
    bool timedOut = false;
    QString error;
    QByteArray body;   // to memory
    QString bodyPath;  // to a file
    QByteArray sha256; // of the body written to the file, 32 bytes
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
    int timeoutMs = 60000;
    // Blocking fetches must finish within the time-out; downloads to a file
    // fail when they stall that long, or when a window of floorWindowMs
    // brings fewer than floorBytes.
    bool toFile = false;
    qint64 floorBytes = 1024;
    int floorWindowMs = 60000;
    bool hashBody = false; // SHA-256 of a body written to a file
    // Bodies kept in memory are refused beyond this many bytes (-1: no limit).
    qint64 maxBody = -1;
    // A download may fill the folder's disk up to this much free space.
    qint64 diskReserve = 0;
    QString folder;
    std::shared_ptr<TransferProgress> progress;
    std::function<void()> onProgress;  // called on the network thread
    std::function<void(TransferResult)> onDone;  // ditto; never for a cancelled order
};

class Transfer;

// Drives every transfer of one control through one curl multi handle, polled
// from the network thread's event loop while any transfer runs.
class InetWorker : public QObject
{
public:
    InetWorker();
    ~InetWorker() override;

    void start(TransferOrder order);
    void cancel(quint64 id);
    void cancelAll();

private:
    friend class Transfer;
    void pump();
    void reap();

    CURLM *m_multi = nullptr;
    QTimer *m_pump = nullptr;
    QElapsedTimer m_clock;
    std::map<quint64, std::unique_ptr<Transfer>> m_transfers;
};

// One request under way, with the redirects it follows.
class Transfer
{
public:
    Transfer(InetWorker *worker, TransferOrder order);
    ~Transfer();

    void begin();
    void cancel();
    // The clock's turn: time-out and the speed floor.
    void check(qint64 nowMs);
    // libcurl is through with the current request.
    void onCurlDone(int code);
    bool isDone() const { return m_done; }
    CURL *handle() const { return m_easy; }

private:
    static size_t headerCallback(char *data, size_t size, size_t count, void *self);
    static size_t bodyCallback(char *data, size_t size, size_t count, void *self);
    static int connectedCallback(void *self, char *ip, char *localIp, int port, int localPort);
    bool onConnected(const QString &ip);
    bool request(QUrl url);
    void dropHandle();
    bool onHeaderLine(const QByteArray &line);
    bool onHeadersDone();
    bool onReadyRead(const char *data, qint64 n);
    bool writeHeldBody();
    bool stop(const QString &message);
    void fail(const QString &message);
    void complete(TransferResult result);
    QString failureOf(int code) const;
    QByteArray header(const QByteArray &name) const;

    InetWorker *m_worker;
    TransferOrder m_order;
    CURL *m_easy = nullptr;
    curl_slist *m_requestHeaders = nullptr;
    QUrl m_url;
    int m_redirects = 0;
    QTemporaryFile *m_file = nullptr;
    // A page's body, or the part of a file's body not yet written.
    QByteArray m_body;

    // The response of the current request.
    int m_status = 0;
    bool m_headersDone = false;
    HeaderList m_headers;
    QUrl m_redirectTo;
    QString m_failure; // why a callback stopped the request
    qint64 m_announced = -1;
    qint64 m_bound = -1;
    // Bodies written to a file are hashed as they pass, so that whoever
    // checks them never reads them a second time.
    std::unique_ptr<BodyHasher> m_hasher;
    // The kind of address the first request reached: what its redirects may
    // lead to.
    std::optional<AddressKind> m_origin;

    qint64 m_received = 0;
    qint64 m_written = 0;
    qint64 m_writtenBack = 0;
    qint64 m_startedMs = 0;
    qint64 m_lastActivityMs = 0;
    qint64 m_windowStartMs = -1;
    qint64 m_windowBytes = 0;
    qint64 m_reportedMs = -1;
    bool m_timedOut = false;
    bool m_cancelled = false;
    bool m_writeFailed = false;
    bool m_done = false;
};

} // namespace common
