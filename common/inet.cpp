#include "common/inet.h"

#include "common/fspath.h"
#include "common/inet_p.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace common {

namespace {

// How much of a download the network stack may hold before we have written it
// out, and the block we move it in: together they bound the memory a download
// takes, whatever its size.
constexpr qint64 kReplyBufferSize = 1024 * 1024;
constexpr qsizetype kCopyBlock = 256 * 1024;
constexpr int kMaxRedirects = 10;

// The blocking caller waits this much longer than the time-out before it
// gives up on the network thread, which should have answered long before.
constexpr int kCallerGraceMs = 10000;


bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

} // namespace

// ---------------------------------------------------------------- network side

Transfer::Transfer(InetWorker *worker, TransferOrder order)
    : m_worker(worker), m_order(std::move(order))
{
}

Transfer::~Transfer()
{
    delete m_file;
}

void Transfer::begin(QNetworkAccessManager *manager)
{
    const QUrl url(m_order.address.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != u"http" && scheme != u"https"))
        return fail(QStringLiteral("网址无效：%1").arg(m_order.address));
    if (m_order.operation.compare(u"get", Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("不支持的操作：%1").arg(m_order.operation));

    if (m_order.toFile) {
        const QString folder = m_order.folder.isEmpty() ? QDir::tempPath() : m_order.folder;
        m_file = new QTemporaryFile(QDir(folder).filePath(QStringLiteral("mosalune-XXXXXX.part")));
        m_file->setAutoRemove(false);
        if (!m_file->open())
            return fail(QStringLiteral("无法创建下载文件：%1").arg(m_file->errorString()));
        m_buffer.resize(kCopyBlock);
        crypto_hash_sha256_init(&m_sha256);
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    // Callers read Content-Length as the length of the body they get, which
    // only holds when the body travels uncompressed.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Mosalune"));

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(qMax(1, m_order.timeoutMs));
    connect(m_timer, &QTimer::timeout, this, &Transfer::onTimeout);

    m_reply = manager->get(request);
    m_reply->setParent(this);
    if (m_order.toFile)
        m_reply->setReadBufferSize(kReplyBufferSize);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &Transfer::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &Transfer::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &Transfer::onFinished);
    if (m_order.toFile)
        connect(m_reply, &QNetworkReply::redirected, m_timer, qOverload<>(&QTimer::start));
    m_timer->start();
}

void Transfer::cancel()
{
    m_cancelled = true;
    if (m_reply && !m_reply->isFinished())
        m_reply->abort();
    if (!m_done)
        complete(TransferResult());
}

void Transfer::onMetaData()
{
    if (m_order.toFile)
        m_timer->start();
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        // The body of an error page is of no use to anybody: it is skipped
        // rather than kept. (Aborting here races with Qt's own end of the
        // reply, which then reports its error twice.)
        m_rejected = true;
        return;
    }
    bool known = false;
    const qint64 length = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&known);
    const bool chunked = m_reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    m_order.progress->total = (known && !chunked && length >= 0) ? length : -1;
    if (m_order.maxBody >= 0 && m_order.progress->total > m_order.maxBody)
        refuseTooLarge();
}

// Stops a body kept in memory that has outgrown what the caller accepts.
void Transfer::refuseTooLarge()
{
    m_body.clear();
    fail(QStringLiteral("服务器返回的内容过大（超过 %1 MB）").arg(m_order.maxBody / (1024 * 1024)));
    if (m_reply)
        m_reply->abort();
}

void Transfer::onReadyRead()
{
    if (m_done || !m_reply->isOpen())
        return;
    if (m_rejected) {
        m_reply->skip(m_reply->bytesAvailable());
        return;
    }
    if (!m_order.toFile) {
        if (m_order.maxBody >= 0 && m_body.size() + m_reply->bytesAvailable() > m_order.maxBody)
            return refuseTooLarge();
        m_body += m_reply->readAll();
        m_received = m_body.size();
    } else {
        m_timer->start();
        for (;;) {
            const qint64 n = m_reply->read(m_buffer.data(), m_buffer.size());
            if (n <= 0)
                break;
            if (m_file->write(m_buffer.constData(), n) != n) {
                m_writeFailed = true;
                m_reply->abort();
                return;
            }
            if (m_order.hashBody)
                crypto_hash_sha256_update(&m_sha256,
                                          reinterpret_cast<const unsigned char *>(m_buffer.constData()),
                                          quint64(n));
            m_received += n;
        }
    }
    m_order.progress->received = m_received;
    if (m_order.onProgress && !m_order.progress->reportQueued.exchange(true))
        m_order.onProgress();
}

void Transfer::onTimeout()
{
    m_timedOut = true;
    if (m_reply)
        m_reply->abort();
}

void Transfer::onFinished()
{
    if (m_done)
        return;
    if (m_cancelled)
        return complete(TransferResult());
    onReadyRead(); // whatever arrived together with the end
    if (m_done)
        return;
    const QString failure = failureOf();
    if (!failure.isEmpty())
        return fail(failure);

    TransferResult result;
    result.ok = true;
    result.headers = m_reply->rawHeaderPairs();
    if (m_file) {
        if (!m_file->flush()) {
            return fail(QStringLiteral("无法写入下载文件：%1").arg(m_file->errorString()));
        }
        result.bodyPath = m_file->fileName();
        if (m_order.hashBody) {
            result.sha256.resize(crypto_hash_sha256_BYTES);
            crypto_hash_sha256_final(&m_sha256, reinterpret_cast<unsigned char *>(result.sha256.data()));
        }
        m_file->close();
    } else {
        result.body = std::move(m_body);
    }
    complete(std::move(result));
}

// Empty when the response arrived whole and successful.
QString Transfer::failureOf() const
{
    if (m_timedOut)
        return QStringLiteral("请求超时");
    if (m_writeFailed)
        return QStringLiteral("无法写入下载文件：%1").arg(m_file->errorString());

    const QNetworkReply::NetworkError error = m_reply->error();
    switch (error) {
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("重定向次数过多");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("服务器要求转到不安全的地址");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("无法建立安全连接");
    default:
        break;
    }

    const QVariant statusValue = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusValue.isValid()) {
        // No response head arrived at all.
        switch (error) {
        case QNetworkReply::RemoteHostClosedError:
            return QStringLiteral("服务器中断了连接");
        case QNetworkReply::ProtocolUnknownError:
            return QStringLiteral("网址无效：%1").arg(m_order.address);
        default:
            return QStringLiteral("无法连接服务器");
        }
    }
    const int status = statusValue.toInt();
    if (!isSuccess(status))
        return QStringLiteral("服务器返回错误 %1").arg(status);
    if (error != QNetworkReply::NoError)
        return QStringLiteral("数据不完整");

    bool known = false;
    const qint64 length = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&known);
    const bool chunked = m_reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    // A chunked body announces no length to hold it against. When its
    // connection ends before the closing empty chunk (closed in order or
    // reset), Qt sometimes reports an error, which has failed above, and
    // sometimes takes the end of the connection for the end of the body; it
    // does not tell us whether the closing chunk came, so such a body can
    // pass here as whole.
    if (known && !chunked && m_received < length)
        return QStringLiteral("数据不完整");
    return QString();
}

void Transfer::fail(const QString &message)
{
    TransferResult result;
    result.error = message;
    complete(std::move(result));
}

void Transfer::complete(TransferResult result)
{
    m_done = true;
    if (m_timer)
        m_timer->stop();
    if (m_file && (!result.ok || m_cancelled)) {
        m_file->close();
        m_file->remove();
    }
    if (m_reply)
        m_reply->disconnect(this);
    const std::function<void(TransferResult)> onDone = std::move(m_order.onDone);
    m_worker->forget(m_order.id);
    deleteLater();
    if (!m_cancelled && onDone)
        onDone(std::move(result));
}

InetWorker::~InetWorker()
{
    cancelAll();
}

void InetWorker::start(TransferOrder order)
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    const quint64 id = order.id;
    auto *transfer = new Transfer(this, std::move(order));
    transfer->setParent(this);
    m_transfers[id] = transfer;
    transfer->begin(m_manager);
}

void InetWorker::cancel(quint64 id)
{
    const auto it = m_transfers.find(id);
    if (it != m_transfers.end())
        it->second->cancel();
}

void InetWorker::cancelAll()
{
    while (!m_transfers.empty())
        m_transfers.begin()->second->cancel();
}

// ----------------------------------------------------------------- caller side

class InetPrivate
{
public:
    explicit InetPrivate(Inet *q) : q(q) {}

    void ensureWorker();
    void post(std::function<void()> task);
    QByteArray fetchBlocking(const QString &address);
    void finishExecute(quint64 id, TransferResult result);
    void dropBody();

    Inet *q;
    int timeoutMs = 60000;
    QString folder;
    bool hashBodies = false;
    QThread *thread = nullptr;
    InetWorker *worker = nullptr;
    quint64 nextId = 1;
    quint64 runningId = 0;
    std::shared_ptr<TransferProgress> progress = std::make_shared<TransferProgress>();
    QString lastError;

    // The completed response of the last Execute.
    QString bodyPath;
    std::unique_ptr<QFile> body;
    qint64 bodyOffset = 0;
    QByteArray bodySha256;
    HeaderList headers;
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

QByteArray InetPrivate::fetchBlocking(const QString &address)
{
    // The caller sleeps on a condition variable rather than in an event loop,
    // so nothing else of the program gets to run until the fetch is over.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable woken;
        bool done = false;
        TransferResult result;
    };
    auto waiter = std::make_shared<Waiter>();

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

    std::unique_lock<std::mutex> lock(waiter->mutex);
    const bool answered = waiter->woken.wait_for(
        lock, std::chrono::milliseconds(qint64(timeoutMs) + kCallerGraceMs),
        [&waiter] { return waiter->done; });
    if (!answered) {
        lock.unlock();
        post([w, id] { w->cancel(id); });
        lastError = QStringLiteral("请求超时");
        throw TransferError(lastError);
    }
    if (!waiter->result.ok) {
        lastError = waiter->result.error;
        throw TransferError(lastError);
    }
    lastError.clear();
    return std::move(waiter->result.body);
}

void InetPrivate::finishExecute(quint64 id, TransferResult result)
{
    if (id != runningId) {
        // Overtaken by a later Execute: nobody wants this body any more.
        if (!result.bodyPath.isEmpty())
            QFile::remove(result.bodyPath);
        return;
    }
    runningId = 0;
    if (result.ok) {
        bodyPath = result.bodyPath;
        bodySha256 = result.sha256;
        headers = std::move(result.headers);
        lastError.clear();
    } else {
        lastError = result.error;
    }
    emit q->StateChanged(result.ok ? Inet::icResponseCompleted : Inet::icError);
}

void InetPrivate::dropBody()
{
    body.reset();
    if (!bodyPath.isEmpty())
        QFile::remove(bodyPath);
    bodyPath.clear();
    bodyOffset = 0;
    bodySha256.clear();
    headers.clear();
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

int Inet::requestTimeoutMsecs() const
{
    return d->timeoutMs;
}

QString Inet::OpenURL(const QString &address)
{
    return QString::fromUtf8(d->fetchBlocking(address));
}

QByteArray Inet::OpenURLBytes(const QString &address)
{
    return d->fetchBlocking(address);
}

void Inet::Execute(const QString &address, const QString &operation)
{
    d->ensureWorker();
    InetWorker *w = d->worker;
    if (d->runningId) {
        const quint64 previous = d->runningId;
        d->post([w, previous] { w->cancel(previous); });
    }
    d->dropBody();
    d->lastError.clear();
    d->progress = std::make_shared<TransferProgress>();

    TransferOrder order;
    order.id = d->nextId++;
    order.address = address;
    order.operation = operation;
    order.timeoutMs = d->timeoutMs;
    order.toFile = true;
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
                counts->reportQueued = false;
                if (self->d->runningId == id)
                    emit self->progress(counts->received, counts->total);
            },
            Qt::QueuedConnection);
    };
    order.onDone = [self, id](TransferResult result) {
        QMetaObject::invokeMethod(
            self,
            [self, id, result = std::move(result)]() mutable {
                self->d->finishExecute(id, std::move(result));
            },
            Qt::QueuedConnection);
    };
    d->post([w, order]() mutable { w->start(std::move(order)); });
}

bool Inet::StillExecuting() const
{
    return d->runningId != 0;
}

QByteArray Inet::GetChunk(qint64 size, int dataType)
{
    Q_UNUSED(dataType); // the body is handed out as bytes either way
    if (size <= 0 || d->bodyPath.isEmpty())
        return QByteArray();
    if (!d->body) {
        d->body = std::make_unique<QFile>(d->bodyPath);
        if (!d->body->open(QIODevice::ReadOnly) || !d->body->seek(d->bodyOffset)) {
            d->body.reset();
            return QByteArray();
        }
    }
    const QByteArray chunk = d->body->read(size);
    d->bodyOffset += chunk.size();
    return chunk;
}

QString Inet::GetHeader(const QString &name) const
{
    const QByteArray wanted = name.toLatin1();
    for (const auto &header : d->headers) {
        if (header.first.compare(wanted, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(header.second);
    }
    return QString();
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
    d->body.reset();
    const QString path = d->bodyPath;
    d->bodyPath.clear();
    d->bodyOffset = 0;
    return path;
}

bool Inet::takeBodyFile(const QString &targetPath, QString *error)
{
    auto failWith = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (d->bodyPath.isEmpty())
        return failWith(QStringLiteral("没有已下载的内容"));

    // Closed first: some platforms refuse to rename a file that is open. The
    // read position is kept in bodyOffset, so GetChunk carries on if we fail.
    d->body.reset();
    std::error_code code;
    std::filesystem::rename(toFsPath(d->bodyPath), toFsPath(targetPath), code);
    if (code) {
        // Across file systems a rename cannot work; a copy that replaces the
        // target in one step at its end does the same job.
        QFile source(d->bodyPath);
        QSaveFile target(targetPath);
        bool copied = source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly);
        while (copied && !source.atEnd()) {
            const QByteArray block = source.read(kCopyBlock);
            copied = !block.isEmpty() && target.write(block) == block.size();
        }
        if (!copied || !target.commit()) {
            const QString reason = target.errorString().isEmpty()
                ? QString::fromLocal8Bit(code.message().c_str())
                : target.errorString();
            return failWith(QStringLiteral("无法替换文件 %1：%2").arg(targetPath, reason));
        }
        source.remove();
    }
    d->bodyPath.clear();
    d->bodyOffset = 0;
    return true;
}

} // namespace common
