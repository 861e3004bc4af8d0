// The transfer control's handling of response bodies on any bytes a server
// may send: a loopback server in this process answers the request with the
// input (after one flag byte) and then closes the connection in order or
// resets it. Whatever comes, the blocking fetch returns a body no larger than
// what was sent and never past the page cap, or throws TransferError; a
// download gives exactly one state, its body is whole on success and no
// temporary file is left behind.

#include "common/errors.h"
#include "common/inet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

struct Server {
    int listener = -1;
    quint16 port = 0;
    std::mutex mutex;
    QByteArray response;
    bool reset = false;

    Server()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(listener, 16) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            std::abort();
        port = ntohs(address.sin_port);
        std::thread([this] { serve(); }).detach();
    }

    void serve()
    {
        for (;;) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                continue;
            timeval wait{0, 200000};
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            QByteArray request;
            char buffer[4096];
            while (!request.contains("\r\n\r\n")) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, n);
            }
            QByteArray bytes;
            bool hard = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                bytes = response;
                hard = reset;
            }
            for (qsizetype sent = 0; sent < bytes.size();) {
                const ssize_t n = ::send(client, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            if (hard) {
                linger now{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &now, sizeof now);
            }
            ::close(client);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_transfer";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Server server;
    if (size < 1)
        return 0;
    QByteArray response(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    // Redirects would leave the machine: no Location header reaches the client.
    for (qsizetype at = response.toLower().indexOf("location"); at >= 0;
         at = response.toLower().indexOf("location", at + 1))
        response[at] = 'X';
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        server.response = response;
        server.reset = data[0] & 1;
    }
    const QString address = QStringLiteral("http://127.0.0.1:%1/page").arg(server.port);

    common::Inet inet;
    inet.setRequestTimeoutMsecs(500);
    if (data[0] & 2) {
        try {
            const QByteArray body = inet.fetchBytes(address);
            if (body.size() > response.size() || body.size() > common::Inet::kMaxPageBytes)
                std::abort();
        } catch (const common::TransferError &) {
        }
        return 0;
    }

    QTemporaryDir folder;
    inet.setDownloadFolder(folder.path());
    int outcomes = 0;
    auto last = common::Inet::Outcome::Failed;
    QEventLoop loop;
    QObject::connect(&inet, &common::Inet::finished, &loop, [&](common::Inet::Outcome outcome) {
        ++outcomes;
        last = outcome;
        QTimer::singleShot(20, &loop, &QEventLoop::quit); // room for a second, wrong one
    });
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    inet.startDownload(address);
    loop.exec();
    if (outcomes != 1)
        std::abort();
    if (last == common::Inet::Outcome::Completed) {
        // The body as the updater takes it: the released file.
        const QString body = inet.releaseBodyFile();
        const qint64 total = QFileInfo(body).size();
        if (body.isEmpty() || !QFileInfo::exists(body) || total != inet.bytesReceived()
            || total > response.size())
            std::abort();
        QFile::remove(body);
    } else if (!QDir(folder.path()).isEmpty()) {
        std::abort(); // a failed download leaves nothing behind
    }
    return 0;
}
