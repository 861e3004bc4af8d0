#pragma once

#include "common/errors.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace common {

class InetPrivate;

// The HTTP transfer control behind every form's Inet1: the one network door
// of both programs. Every call is an HTTP GET of the whole address; http and
// https both work and redirects are followed (never from https down to http).
// A response whose status is not 2xx after redirects, or whose body does not
// end cleanly, is a failure: shorter or longer than announced, a chunked body
// without its closing chunk, a connection reset or any other network error
// before the end. A body without a length that ends with the connection
// closed in order cannot be told from a whole one; only a signature proves
// such a body whole.
//
// The transfers run on a network thread of the control's own (HTTP through
// libcurl); the asynchronous call reports back through the caller's event
// loop.
class Inet : public QObject
{
    Q_OBJECT
public:
    // How a download ended.
    enum class Outcome { Completed, Failed };
    Q_ENUM(Outcome)

    explicit Inet(QObject *parent = nullptr);
    ~Inet() override;

    // Request time-out in seconds (60 until a program sets its own). A
    // blocking fetch must be complete within it; a download fails only when
    // nothing at all arrives for that long, so a slow large download that
    // keeps receiving is never cut off.
    void setRequestTimeout(int seconds);
    int requestTimeout() const;
    // The same in milliseconds, for tests that cannot wait a minute.
    void setRequestTimeoutMsecs(int msecs);

    // A download fails when a window of windowMsecs brings fewer
    // than bytes (1024 in 60 s by default): a server that trickles a byte
    // now and then never trips the time-out, but trips this.
    void setSpeedFloor(qint64 bytes, int windowMsecs);
    // A download may fill the download folder's disk only up to this much
    // free space (64 MiB by default): one that announces a length that would
    // leave less fails before its body is read, and any other fails when it
    // reaches the bound.
    void setDiskReserve(qint64 bytes);

    // Lets the user stop this control's blocking fetches (off by default).
    // While one waits on the main thread, the window system's input is
    // delivered as well, so the caller must filter it
    // (platform::holdInputDuringFetches lets through only the Esc key, the
    // window manager's close and a question opened meanwhile); a handler
    // that runs then may call abandonFetch(), and the fetch throws
    // TransferError "已停止" at once, its request cancelled.
    void setStoppable(bool on);
    void abandonFetch();
    // Whether a stoppable fetch waits on this thread now.
    static bool stoppableFetchWaiting();

    // The most a blocking fetch accepts. A release or share page is a few KB;
    // a body beyond this is refused rather than read into memory without end.
    static constexpr qint64 kMaxPageBytes = 4 * 1024 * 1024;

    // Blocking fetches. They return the whole body, or throw TransferError on
    // failure, after the time-out, or past kMaxPageBytes. On the program's
    // main thread the windows keep painting while they wait (window-system
    // events other than input, and posted events, are handled), but no timer
    // tick, no click and no download report of any control runs before they
    // return; on other threads the caller simply sleeps.
    QString fetchText(const QString &address);     // body as text (UTF-8)
    QByteArray fetchBytes(const QString &address);    // body as bytes

    // Starts an asynchronous GET and returns at once. Exactly one finished
    // follows on this object's thread: Completed once the whole body has
    // arrived, or Failed. At most one download is under way; starting
    // another cancels the first without an event for it. The body is streamed
    // to a temporary file in downloadFolder() (the system's temporary folder
    // when empty), never held in memory.
    void startDownload(const QString &address);
    // True from startDownload until its finished is delivered.
    bool downloading() const;

    // Progress of the current or last download: bytes received so far and the
    // announced length (-1 when unknown).
    qint64 bytesReceived() const;
    qint64 bytesTotal() const;
    // With hashing on (off by default: it costs more than the transfer on a
    // fast link), the SHA-256 (32 bytes) of the body that
    // a Completed download gave, taken while it streamed to its file;
    // empty otherwise.
    void setHashBodies(bool on);
    QByteArray bodySha256() const;

    // Why the last failed request failed (the TransferError message for the
    // blocking calls, the reason behind Failed for a download); empty after a
    // success.
    QString lastError() const;
    // Whether the last request failed by its time-out; false otherwise.
    bool timedOut() const;

    // Where a download puts its temporary body file; put it beside the target so
    // that the caller can rename it into place.
    void setDownloadFolder(const QString &folder);
    QString downloadFolder() const;

    // Hands the completed body's temporary file (in downloadFolder()) over to
    // the caller, who owns it from then on; returns its path, empty when there
    // is none (before a completed download, after a failed one, or once
    // released). Until then the control removes it with the next download or
    // its own end.
    QString releaseBodyFile();

signals:
    void finished(common::Inet::Outcome outcome);
    // Delivered on this object's thread while a download runs, at
    // most one pending at a time (so a fast download does not flood the event
    // queue); received is the count at delivery.
    void progress(qint64 received, qint64 total);

private:
    std::unique_ptr<InetPrivate> d;
};

// inet.fetchBytes(address), whose TransferError names the address: for the
// line a failed update prints.
QByteArray fetchNamedBytes(Inet &inet, const QString &address);

} // namespace common
