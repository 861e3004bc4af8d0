#include "common/inet.h"

#include "common/inet_p.h"

#include "common/bodyhasher.h"
#include "common/programfiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QPointer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <curl/curl.h>


#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace common {

namespace {

// The most libcurl reads and hands us at a time: with the body's file or
// page it bounds the memory a transfer takes, whatever its size. 1 MiB
// took the signed 300 MB download from 0.39 s (at 256 KiB) to 0.34 s; 4 MiB gave
// nothing more.
constexpr long kReceiveBlock = 1024 * 1024;
constexpr qsizetype kWriteBlock = kReceiveBlock;
constexpr int kMaxRedirects = 10;
constexpr qint64 kReportEveryMs = 20;
// How long the network thread sleeps in libcurl between looks at the clock
// and at new orders.
constexpr int kPollMs = 10;

// The blocking caller waits this much longer than the time-out before it
// gives up on the network thread, which should have answered long before.
constexpr int kCallerGraceMs = 10000;

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isWeb(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

// A body's file, written without Qt's buffer: libcurl's blocks go to the
// system in one call each (the buffer cut them into four), and a reader of
// the file sees every byte the moment write returns.
class BodyFile : public QTemporaryFile
{
public:
    using QTemporaryFile::QTemporaryFile;
    bool openUnbuffered() { return QTemporaryFile::open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
};

// Whether a stoppable blocking fetch waits on this thread (see
// Inet::setStoppable).
thread_local int t_stoppableWaits = 0;

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

AddressKind addressKind(const QString &ip)
{
    QHostAddress address(ip);
    if (address.isNull())
        return AddressKind::Private; // nothing to tell it by: never from the web
    bool mapped = false;
    const QHostAddress v4(address.toIPv4Address(&mapped));
    if (mapped)
        address = v4;
    if (address.isLoopback())
        return AddressKind::Loopback;
    if (address.isLinkLocal())
        return AddressKind::LinkLocal;
    // The private ranges, shared address space (carrier NAT), "this network"
    // (0.0.0.0 reaches the machine itself), unique and site local IPv6.
    static const char *const internal[] = {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
                                           "100.64.0.0/10", "0.0.0.0/8", "::/128"};
    for (const char *subnet : internal) {
        if (address.isInSubnet(QHostAddress::parseSubnet(QLatin1String(subnet))))
            return AddressKind::Private;
    }
    if (address.isUniqueLocalUnicast() || address.isSiteLocal())
        return AddressKind::Private;
    return AddressKind::Public;
}

bool mayRedirect(AddressKind from, AddressKind to)
{
    return to == AddressKind::Public || to == from;
}

// ---------------------------------------------------------------- network side

Transfer::Transfer(InetWorker *worker, TransferOrder order)
    : m_worker(worker), m_order(std::move(order))
{
}

Transfer::~Transfer()
{
    m_hasher.reset(); // its reader of the file goes before the file may
    dropHandle();
    curl_slist_free_all(m_requestHeaders);
    if (m_file && m_file->isOpen() && !m_done) {
        m_file->close();
        m_file->remove();
    }
    delete m_file;
}

void Transfer::begin()
{
    m_startedMs = m_lastActivityMs = m_worker->m_clock.elapsed();
    const QUrl url(m_order.address.trimmed(), QUrl::TolerantMode);
    if (!isWeb(url))
        return fail(QStringLiteral("网址无效：%1").arg(m_order.address));

    if (m_order.toFile) {
        const QString folder = m_order.folder.isEmpty() ? QDir::tempPath() : m_order.folder;
        auto *file = new BodyFile(QDir(folder).filePath(downloadBodyTemplate));
        m_file = file;
        m_file->setAutoRemove(false);
        if (!file->openUnbuffered())
            return fail(QStringLiteral("无法创建下载文件：%1").arg(m_file->errorString()));
        if (m_order.hashBody)
            m_hasher = std::make_unique<BodyHasher>(m_file->fileName());
        m_body.reserve(kWriteBlock);
    }
    // Callers read Content-Length as the length of the body they get, which
    // only holds when the body travels uncompressed.
    m_requestHeaders = curl_slist_append(nullptr, "Accept-Encoding: identity");
    if (!request(url))
        fail(QStringLiteral("无法连接服务器"));
}

// One GET of url on a fresh handle; redirects are followed here rather than
// by libcurl, so that each hop is checked (never from https down to http).
bool Transfer::request(QUrl url)
{
    dropHandle();
    m_url = url;
    m_status = 0;
    m_headersDone = false;
    m_headers.clear();
    m_redirectTo.clear();
    m_announced = -1;
    m_bound = -1;
    m_easy = curl_easy_init();
    if (!m_easy)
        return false;
    const QByteArray encoded = url.toEncoded();
    curl_easy_setopt(m_easy, CURLOPT_URL, encoded.constData());
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_PROXY, ""); // no proxy from the environment
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, "Mosalune");
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_requestHeaders);
    curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, kReceiveBlock);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Transfer::headerCallback);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::bodyCallback);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(m_easy, CURLOPT_PREREQFUNCTION, &Transfer::connectedCallback);
    curl_easy_setopt(m_easy, CURLOPT_PREREQDATA, this);
    return curl_multi_add_handle(m_worker->m_multi, m_easy) == CURLM_OK;
}

void Transfer::dropHandle()
{
    if (m_easy) {
        curl_multi_remove_handle(m_worker->m_multi, m_easy);
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
}

void Transfer::cancel()
{
    m_cancelled = true;
    if (!m_done)
        complete(TransferResult());
}

size_t Transfer::headerCallback(char *data, size_t size, size_t count, void *self)
{
    const size_t n = size * count;
    return static_cast<Transfer *>(self)->onHeaderLine(QByteArray(data, qsizetype(n))) ? n : 0;
}

size_t Transfer::bodyCallback(char *data, size_t size, size_t count, void *self)
{
    const size_t n = size * count;
    return static_cast<Transfer *>(self)->onReadyRead(data, qint64(n)) ? n : 0;
}

int Transfer::connectedCallback(void *self, char *ip, char *, int, int)
{
    return static_cast<Transfer *>(self)->onConnected(QString::fromLatin1(ip)) ? CURL_PREREQFUNC_OK
                                                                                : CURL_PREREQFUNC_ABORT;
}

// Called once connected, before anything is sent: the address a name
// resolved to is what counts, so a public name that resolves to an internal
// address is refused as well.
bool Transfer::onConnected(const QString &ip)
{
    const AddressKind kind = addressKind(ip);
    if (!m_origin) {
        m_origin = kind;
        return true;
    }
    if (mayRedirect(*m_origin, kind))
        return true;
    m_failure = QStringLiteral("服务器要求转到本机或局域网的地址 %1，已拒绝").arg(ip);
    return false;
}

// A false return stops the request; m_failure or m_redirectTo says why.
bool Transfer::onHeaderLine(const QByteArray &line)
{
    if (m_headersDone)
        return true; // a chunked body's trailers: nothing we read
    const QByteArray text = line.trimmed();
    if (text.startsWith("HTTP/")) {
        // Every response head starts over, an interim 100 too.
        m_headers.clear();
        m_status = text.split(' ').value(1).toInt();
        return true;
    }
    if (!text.isEmpty()) {
        const qsizetype colon = text.indexOf(':');
        if (colon > 0)
            m_headers.append({text.left(colon).trimmed(), text.mid(colon + 1).trimmed()});
        return true;
    }
    if (m_status >= 100 && m_status < 200)
        return true;
    return onHeadersDone();
}

QByteArray Transfer::header(const QByteArray &name) const
{
    for (const auto &pair : m_headers)
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return pair.second;
    return QByteArray();
}

bool Transfer::onHeadersDone()
{
    m_headersDone = true;
    m_lastActivityMs = m_worker->m_clock.elapsed();
    const QByteArray location = header("Location");
    if (isRedirect(m_status) && !location.isEmpty()) {
        const QUrl next = m_url.resolved(QUrl(QString::fromUtf8(location), QUrl::TolerantMode));
        if (!isWeb(next))
            return stop(QStringLiteral("网址无效：%1").arg(next.toString()));
        if (m_url.scheme().compare(u"https", Qt::CaseInsensitive) == 0
            && next.scheme().compare(u"https", Qt::CaseInsensitive) != 0)
            return stop(QStringLiteral("服务器要求转到不安全的地址"));
        if (++m_redirects > kMaxRedirects)
            return stop(QStringLiteral("重定向次数过多"));
        m_redirectTo = next;
        return false;
    }
    // The body of an error page is of no use to anybody.
    if (!isSuccess(m_status))
        return stop(QStringLiteral("服务器返回错误 %1").arg(m_status));

    // A chunked body that also announces a length is held to it as well.
    bool known = false;
    const qint64 length = header("Content-Length").toLongLong(&known);
    m_announced = (known && length >= 0) ? length : -1;
    m_order.progress->total = m_announced;
    if (m_order.maxBody >= 0 && m_announced > m_order.maxBody)
        return stop(QStringLiteral("服务器返回的内容过大（超过 %1 MB）").arg(m_order.maxBody / (1024 * 1024)));
    if (m_file) {
        // A body may take the disk's free space less a reserve for everything
        // else, whatever length it announces: a length that does not fit is
        // refused before the body, and one that lies runs into the bound.
        const QStorageInfo disk(QFileInfo(m_file->fileName()).absolutePath());
        if (disk.isValid() && disk.bytesAvailable() >= 0) {
            m_bound = qMax<qint64>(0, disk.bytesAvailable() - m_order.diskReserve);
            if (m_announced > m_bound)
                return stop(QStringLiteral("文件有 %1 MB，磁盘的可用空间不够")
                                .arg((m_announced + (1 << 20) - 1) >> 20));
        }
    }
    m_windowStartMs = m_lastActivityMs;
    m_windowBytes = 0;
    return true;
}

bool Transfer::onReadyRead(const char *data, qint64 n)
{
    if (m_done)
        return false;
    // Whatever else a server sends, the body never grows past what it
    // announced, what a page may hold, or what the disk can take.
    if (m_announced >= 0 && m_received + n > m_announced)
        return stop(QStringLiteral("服务器发送的数据多于它声明的长度"));
    if (m_order.maxBody >= 0 && m_received + n > m_order.maxBody)
        return stop(QStringLiteral("服务器返回的内容过大（超过 %1 MB）").arg(m_order.maxBody / (1024 * 1024)));
    if (m_bound >= 0 && m_received + n > m_bound)
        return stop(QStringLiteral("下载的内容超出磁盘的可用空间"));
    // libcurl hands a body over in pieces of what the socket held (about
    // 200 KiB on loopback, 16 KiB from a slow link); the file gets them in
    // whole blocks.
    m_body.append(data, n);
    m_received += n;
    if (m_file && m_body.size() >= kWriteBlock && !writeHeldBody())
        return false;
    m_windowBytes += n;
    m_lastActivityMs = m_worker->m_clock.elapsed();
    m_order.progress->received = m_received;
    // A bar moves no better than the screen shows it; a report per block
    // would wake the caller's thread thousands of times a second.
    if (m_order.onProgress && m_lastActivityMs - m_reportedMs >= kReportEveryMs
        && !m_order.progress->reportQueued.exchange(true)) {
        m_reportedMs = m_lastActivityMs;
        m_order.onProgress();
    }
    return true;
}

// What the body holds goes to its file, and the hasher learns how far the
// file now is.
bool Transfer::writeHeldBody()
{
    if (m_file->write(m_body) != m_body.size()) {
        m_writeFailed = true;
        return false;
    }
    m_written += m_body.size();
    m_body.resize(0); // keeps its room for the next block
    if (m_hasher)
        m_hasher->written(m_written); // and starts the write-back
    else
        startWriteBack(int(m_file->handle()), &m_writtenBack, m_written);
    return true;
}

bool Transfer::stop(const QString &message)
{
    m_failure = message;
    m_body.clear();
    return false;
}

void Transfer::check(qint64 nowMs)
{
    if (m_done)
        return;
    // A page must be complete within the time-out; a download only must
    // never stall that long, and must keep above the floor over each window
    // (a byte now and then does not keep it alive).
    const qint64 since = m_order.toFile ? m_lastActivityMs : m_startedMs;
    if (nowMs - since > m_order.timeoutMs) {
        m_timedOut = true;
        return fail(QStringLiteral("请求超时"));
    }
    if (m_order.toFile && m_windowStartMs >= 0 && nowMs - m_windowStartMs >= m_order.floorWindowMs) {
        if (m_windowBytes < m_order.floorBytes)
            return fail(QStringLiteral("下载速度过慢（%1 秒内不足 %2 字节）")
                            .arg(m_order.floorWindowMs / 1000.0)
                            .arg(m_order.floorBytes));
        m_windowStartMs = nowMs;
        m_windowBytes = 0;
    }
}

void Transfer::onCurlDone(int code)
{
    if (m_done)
        return;
    if (m_redirectTo.isValid() && m_failure.isEmpty() && !m_writeFailed) {
        m_lastActivityMs = m_worker->m_clock.elapsed();
        if (!request(m_redirectTo))
            fail(QStringLiteral("无法连接服务器"));
        return;
    }
    const QString failure = failureOf(code);
    if (!failure.isEmpty())
        return fail(failure);

    // However the reports were spaced, the last one counts the whole body.
    if (m_order.onProgress && m_reportedMs >= 0 && !m_order.progress->reportQueued.exchange(true))
        m_order.onProgress();
    TransferResult result;
    result.ok = true;
    if (m_file) {
        if (!writeHeldBody())
            return fail(QStringLiteral("无法写入下载文件：%1").arg(m_file->errorString()));
        result.bodyPath = m_file->fileName();
        if (m_hasher) {
            result.sha256 = m_hasher->finish();
            if (result.sha256.isEmpty())
                return fail(QStringLiteral("无法计算下载文件的 SHA-256"));
        }
        m_file->close();
    } else {
        result.body = std::move(m_body);
    }
    complete(std::move(result));
}

// Empty when the response arrived whole and successful.
QString Transfer::failureOf(int code) const
{
    if (!m_failure.isEmpty())
        return m_failure;
    if (m_writeFailed)
        return QStringLiteral("无法写入下载文件：%1").arg(m_file->errorString());
    switch (code) {
    case CURLE_OK:
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("无法建立安全连接");
    default:
        if (!m_headersDone) {
            // No response head arrived at all.
            if (code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR)
                return QStringLiteral("服务器中断了连接");
            return QStringLiteral("无法连接服务器");
        }
        // A reset, a chunked body without its closing chunk, a body shorter
        // than announced: the server stopped before the end of the body.
        return QStringLiteral("数据不完整");
    }
    if (!m_headersDone || !isSuccess(m_status))
        return QStringLiteral("服务器中断了连接");
    if (m_announced >= 0 && m_received != m_announced)
        return QStringLiteral("数据不完整");
    return QString();
}

void Transfer::fail(const QString &message)
{
    TransferResult result;
    result.error = message;
    result.timedOut = m_timedOut;
    complete(std::move(result));
}

void Transfer::complete(TransferResult result)
{
    m_done = true;
    dropHandle();
    m_hasher.reset();
    if (m_file && (!result.ok || m_cancelled)) {
        m_file->close();
        m_file->remove();
    }
    const std::function<void(TransferResult)> onDone = std::move(m_order.onDone);
    if (!m_cancelled && onDone)
        onDone(std::move(result));
}

InetWorker::InetWorker()
{
    initCurlOnce();
    m_clock.start();
}

InetWorker::~InetWorker()
{
    cancelAll();
    m_transfers.clear();
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

void InetWorker::start(TransferOrder order)
{
    if (!m_multi) {
        m_multi = curl_multi_init();
        m_pump = new QTimer(this);
        m_pump->setInterval(0);
        connect(m_pump, &QTimer::timeout, this, &InetWorker::pump);
    }
    const quint64 id = order.id;
    auto transfer = std::make_unique<Transfer>(this, std::move(order));
    Transfer *t = transfer.get();
    m_transfers[id] = std::move(transfer);
    t->begin();
    reap();
    if (!m_transfers.empty())
        m_pump->start();
}

// One turn: wait a little for the sockets, move the data, look at the clock.
void InetWorker::pump()
{
    int running = 0;
    curl_multi_poll(m_multi, nullptr, 0, kPollMs, nullptr);
    curl_multi_perform(m_multi, &running);
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer *transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char **>(&transfer));
        if (transfer)
            transfer->onCurlDone(message->data.result);
    }
    const qint64 now = m_clock.elapsed();
    for (auto &entry : m_transfers)
        entry.second->check(now);
    reap();
}

void InetWorker::reap()
{
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        if (it->second->isDone())
            it = m_transfers.erase(it);
        else
            ++it;
    }
    if (m_transfers.empty() && m_pump)
        m_pump->stop();
}

void InetWorker::cancel(quint64 id)
{
    const auto it = m_transfers.find(id);
    if (it != m_transfers.end())
        it->second->cancel();
    reap();
}

void InetWorker::cancelAll()
{
    for (auto &entry : m_transfers)
        entry.second->cancel();
    reap();
}

// ----------------------------------------------------------------- caller side

struct FetchWaiter {
    std::mutex mutex;
    std::condition_variable woken;
    bool done = false;
    TransferResult result;
};

class InetPrivate
{
public:
    explicit InetPrivate(Inet *q) : q(q) {}

    void ensureWorker();
    void post(std::function<void()> task);
    QByteArray fetchBlocking(const QString &address);
    quint64 startFetch(const QString &address, const std::shared_ptr<FetchWaiter> &waiter);
    bool waitForAnswer(FetchWaiter &waiter);
    void finishDownload(quint64 id, TransferResult result);
    void dropBody();

    Inet *q;
    int timeoutMs = 60000;
    qint64 floorBytes = 1024;
    int floorWindowMs = 60000;
    qint64 diskReserve = 64 * 1024 * 1024;
    bool timedOut = false;
    bool stoppable = false;
    // A blocking fetch is under way, and asked to end now.
    bool waiting = false;
    bool abandoned = false;
    QString folder;
    bool hashBodies = false;
    QThread *thread = nullptr;
    InetWorker *worker = nullptr;
    quint64 nextId = 1;
    quint64 runningId = 0;
    std::shared_ptr<TransferProgress> progress = std::make_shared<TransferProgress>();
    QString lastError;

    // The completed body of the last download.
    QString bodyPath;
    QByteArray bodySha256;
};

void InetPrivate::ensureWorker()
{
    if (worker)
        return;
    thread = new QThread;
    thread->setObjectName(QStringLiteral("inet"));
    worker = new InetWorker;
    worker->moveToThread(thread);
    thread->start();
}

void InetPrivate::post(std::function<void()> task)
{
    ensureWorker();
    QMetaObject::invokeMethod(worker, std::move(task), Qt::QueuedConnection);
}

namespace {

// Blocking waits under way on this thread. While there is one, the reports
// of every control's downloads on this thread are held here and delivered,
// in order, after the outermost wait.
thread_local int t_blockingWaits = 0;
thread_local std::vector<std::pair<QPointer<QObject>, std::function<void()>>> t_heldReports;

void deliverOrHold(QObject *context, std::function<void()> report)
{
    if (t_blockingWaits > 0)
        t_heldReports.emplace_back(context, std::move(report));
    else
        report();
}

void releaseHeldReports()
{
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> held;
    held.swap(t_heldReports);
    for (auto &entry : held) {
        if (entry.first)
            QMetaObject::invokeMethod(entry.first.data(), std::move(entry.second), Qt::QueuedConnection);
    }
}

} // namespace

QByteArray InetPrivate::fetchBlocking(const QString &address)
{
    auto waiter = std::make_shared<FetchWaiter>();
    const quint64 id = startFetch(address, waiter);
    const bool answered = waitForAnswer(*waiter);
    TransferResult result;
    {
        std::lock_guard<std::mutex> lock(waiter->mutex);
        result = std::move(waiter->result);
    }
    if (!answered) {
        InetWorker *w = worker;
        post([w, id] { w->cancel(id); });
        result.ok = false;
        result.timedOut = !abandoned;
        result.error = abandoned ? QStringLiteral("已停止") : QStringLiteral("请求超时");
    }
    abandoned = false;
    timedOut = result.timedOut;
    if (!result.ok) {
        lastError = result.error;
        throw TransferError(lastError);
    }
    lastError.clear();
    return std::move(result.body);
}

quint64 InetPrivate::startFetch(const QString &address, const std::shared_ptr<FetchWaiter> &waiter)
{
    TransferOrder order;
    order.id = nextId++;
    order.address = address;
    order.timeoutMs = timeoutMs;
    order.maxBody = Inet::kMaxPageBytes;
    order.progress = std::make_shared<TransferProgress>();
    order.onDone = [waiter](TransferResult result) {
        std::lock_guard<std::mutex> lock(waiter->mutex);
        waiter->result = std::move(result);
        waiter->done = true;
        waiter->woken.notify_all();
    };
    const quint64 id = order.id;
    InetWorker *w = (ensureWorker(), worker);
    post([w, order]() mutable { w->start(std::move(order)); });
    return id;
}

// On the program's main thread the windows go on painting while we wait:
// window-system events other than input, and posted events (the repaints
// among them), are handled; timers and socket notifiers are not, and
// downloads' reports are held, so no tick or transfer handler of the program
// runs before the fetch returns. Input is held too, unless the control is
// stoppable: then it is handed on, for the filter the caller installed to
// let through only what asks to stop. Elsewhere the caller just sleeps.
// False when the fetch timed out or was abandoned.
bool InetPrivate::waitForAnswer(FetchWaiter &waiter)
{
    const QCoreApplication *app = QCoreApplication::instance();
    const bool paint = app && QThread::currentThread() == app->thread();
    QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers;
    if (!stoppable)
        flags |= QEventLoop::ExcludeUserInputEvents;
    const QDeadlineTimer deadline(qint64(timeoutMs) + kCallerGraceMs);
    abandoned = false;
    waiting = true;
    ++t_blockingWaits;
    if (stoppable && paint)
        ++t_stoppableWaits;
    std::unique_lock<std::mutex> lock(waiter.mutex);
    while (!waiter.done && !abandoned && !deadline.hasExpired()) {
        if (paint) {
            lock.unlock();
            QCoreApplication::processEvents(flags);
            lock.lock();
            if (abandoned)
                break;
        }
        const qint64 nap = paint ? 15 : qMax<qint64>(1, deadline.remainingTime());
        waiter.woken.wait_for(lock, std::chrono::milliseconds(nap), [&waiter] { return waiter.done; });
    }
    const bool answered = waiter.done && !abandoned;
    lock.unlock();
    if (stoppable && paint)
        --t_stoppableWaits;
    waiting = false;
    if (--t_blockingWaits == 0)
        releaseHeldReports();
    return answered;
}

void InetPrivate::finishDownload(quint64 id, TransferResult result)
{
    if (id != runningId) {
        // Overtaken by a later download: nobody wants this body any more.
        if (!result.bodyPath.isEmpty())
            QFile::remove(result.bodyPath);
        return;
    }
    runningId = 0;
    if (result.ok) {
        bodyPath = result.bodyPath;
        bodySha256 = result.sha256;
        lastError.clear();
    } else {
        lastError = result.error;
        timedOut = result.timedOut;
    }
    emit q->finished(result.ok ? Inet::Outcome::Completed : Inet::Outcome::Failed);
}

void InetPrivate::dropBody()
{
    if (!bodyPath.isEmpty())
        QFile::remove(bodyPath);
    bodyPath.clear();
    bodySha256.clear();
}

Inet::Inet(QObject *parent) : QObject(parent), d(std::make_unique<InetPrivate>(this)) {}

Inet::~Inet()
{
    if (d->worker) {
        InetWorker *w = d->worker;
        QMetaObject::invokeMethod(w, [w] { delete w; }, Qt::BlockingQueuedConnection);
        d->thread->quit();
        d->thread->wait();
        delete d->thread;
    }
    d->dropBody();
}

void Inet::setRequestTimeout(int seconds)
{
    setRequestTimeoutMsecs(seconds * 1000);
}

int Inet::requestTimeout() const
{
    return (d->timeoutMs + 999) / 1000;
}

void Inet::setRequestTimeoutMsecs(int msecs)
{
    d->timeoutMs = qMax(1, msecs);
}

void Inet::setSpeedFloor(qint64 bytes, int windowMsecs)
{
    d->floorBytes = qMax<qint64>(0, bytes);
    d->floorWindowMs = qMax(1, windowMsecs);
}

void Inet::setStoppable(bool on)
{
    d->stoppable = on;
}

void Inet::abandonFetch()
{
    if (d->waiting)
        d->abandoned = true;
}

bool Inet::stoppableFetchWaiting()
{
    return t_stoppableWaits > 0;
}

void Inet::setDiskReserve(qint64 bytes)
{
    d->diskReserve = qMax<qint64>(0, bytes);
}

bool Inet::timedOut() const
{
    return d->timedOut;
}

QString Inet::fetchText(const QString &address)
{
    return QString::fromUtf8(d->fetchBlocking(address));
}

QByteArray Inet::fetchBytes(const QString &address)
{
    return d->fetchBlocking(address);
}

void Inet::startDownload(const QString &address)
{
    d->ensureWorker();
    InetWorker *w = d->worker;
    if (d->runningId) {
        const quint64 previous = d->runningId;
        d->post([w, previous] { w->cancel(previous); });
    }
    d->dropBody();
    d->lastError.clear();
    d->timedOut = false;
    d->progress = std::make_shared<TransferProgress>();

    TransferOrder order;
    order.id = d->nextId++;
    order.address = address;
    order.timeoutMs = d->timeoutMs;
    order.toFile = true;
    order.floorBytes = d->floorBytes;
    order.floorWindowMs = d->floorWindowMs;
    order.diskReserve = d->diskReserve;
    order.hashBody = d->hashBodies;
    order.folder = d->folder;
    order.progress = d->progress;
    const quint64 id = order.id;
    d->runningId = id;

    // The network thread reports through events posted to this object: they
    // run on its thread, and Qt drops those still pending when it is
    // destroyed (which first stops the network thread's transfers).
    Inet *self = this;
    std::shared_ptr<TransferProgress> counts = d->progress;
    order.onProgress = [self, counts, id] {
        QMetaObject::invokeMethod(
            self,
            [self, counts, id] {
                deliverOrHold(self, [self, counts, id] {
                    counts->reportQueued = false;
                    if (self->d->runningId == id)
                        emit self->progress(counts->received, counts->total);
                });
            },
            Qt::QueuedConnection);
    };
    order.onDone = [self, id](TransferResult result) {
        QMetaObject::invokeMethod(
            self,
            [self, id, result = std::move(result)]() mutable {
                deliverOrHold(self, [self, id, result = std::move(result)]() mutable {
                    self->d->finishDownload(id, std::move(result));
                });
            },
            Qt::QueuedConnection);
    };
    d->post([w, order]() mutable { w->start(std::move(order)); });
}

bool Inet::downloading() const
{
    return d->runningId != 0;
}

qint64 Inet::bytesReceived() const
{
    return d->progress->received;
}

qint64 Inet::bytesTotal() const
{
    return d->progress->total;
}

void Inet::setHashBodies(bool on)
{
    d->hashBodies = on;
}

QByteArray Inet::bodySha256() const
{
    return d->bodySha256;
}

QString Inet::lastError() const
{
    return d->lastError;
}

void Inet::setDownloadFolder(const QString &folder)
{
    d->folder = folder;
}

QString Inet::downloadFolder() const
{
    return d->folder;
}

QString Inet::releaseBodyFile()
{
    return std::exchange(d->bodyPath, QString());
}

QByteArray fetchNamedBytes(Inet &inet, const QString &address)
{
    try {
        return inet.fetchBytes(address);
    } catch (const TransferError &error) {
        throw TransferError(QStringLiteral("无法取得 %1：%2").arg(address, error.message()));
    }
}

} // namespace common
