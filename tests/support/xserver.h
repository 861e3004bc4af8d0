#pragma once

// An X server of the test's own (Xvfb), on a display number it picks itself,
// with helpers to look at its windows and to act on them as a person would.

#include <QDeadlineTimer>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// A top-level window as xwininfo reports it.
struct TopLevel {
    QString title;
    QSize size;
    QPoint at;
};

class XServer
{
public:
    // extraArguments go to Xvfb ("-wr" gives a white desktop, so that
    // anything a window paints around its controls shows up).
    bool start(const QStringList &extraArguments = {})
    {
        m_process.start(QStringLiteral("Xvfb"),
                        QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                    QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                    QStringLiteral("tcp"),
                                    // Without it the server resets whenever its last client
                                    // leaves, and a program starting just then is refused.
                                    QStringLiteral("-noreset")}
                            + extraArguments);
        if (!m_process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(20000);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(200);
        bool ok = false;
        const int number = m_process.readLine().trimmed().toInt(&ok);
        if (ok)
            m_display = QStringLiteral(":%1").arg(number);
        return ok;
    }
    // Runs openbox on the server, as a desktop without a compositor would;
    // returns once it manages windows.
    bool startWindowManager()
    {
        m_windowManager.setProcessEnvironment(environment());
        m_windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QDeadlineTimer deadline(10000);
        while (m_windowManager.waitForStarted(10000) && !deadline.hasExpired())
            if (run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains(QLatin1String("window id")))
                return true;
        return false;
    }
    ~XServer()
    {
        m_windowManager.terminate();
        m_windowManager.waitForFinished(5000);
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    QString display() const { return m_display; }

    // The environment for a program shown on this server.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    // Runs a client program of the X server to its end; returns its output.
    QString run(const QString &program, const QStringList &arguments) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // The titles and sizes of the top-level windows, as xwininfo reports them
    // ("title|WxH").
    QStringList windows() const
    {
        QStringList found;
        static const QRegularExpression line(QStringLiteral("0x[0-9a-f]+ \"(.*)\": .* (\\d+x\\d+)\\+"));
        const QStringList lines = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
                                      .split(QLatin1Char('\n'));
        for (const QString &l : lines) {
            const QRegularExpressionMatch m = line.match(l);
            if (m.hasMatch())
                found << m.captured(1) + QLatin1Char('|') + m.captured(2);
        }
        return found;
    }

    // The first top-level window of exactly this title (and size, when one
    // is given), mapped or not, with its position on the screen.
    std::optional<TopLevel> topLevel(const QString &title, const QSize &size = QSize()) const
    {
        return findTopLevel(title, size, false);
    }

    // The same, only once the window is shown. A window may be created at
    // one place and moved before it is mapped: only a shown window's place
    // is the one to click or to grab.
    std::optional<TopLevel> shownTopLevel(const QString &title, const QSize &size = QSize()) const
    {
        return findTopLevel(title, size, true);
    }

    // A left click at a point of the screen, with the real pointer.
    void click(const QPoint &at) const
    {
        run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()),
                                        QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
    }

    // The whole screen into a PNG, for a person to look at; not every
    // machine has the tool, and a test never depends on it.
    void screenshot(const QString &path) const
    {
        run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    }

    bool hasWindow(const QString &titleAndSize) const
    {
        for (const QString &w : windows())
            if (w.startsWith(titleAndSize))
                return true;
        return false;
    }

    // How many windows with exactly this title are on the screen (mapped).
    int shown(const QString &title) const
    {
        return int(run(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                        QLatin1Char('^') + escaped(title) + QLatin1Char('$')})
                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                       .size());
    }

    // The id of the first shown window with exactly this title, empty when
    // there is none.
    QString windowId(const QString &title) const
    {
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                    QLatin1Char('^') + escaped(title) + QLatin1Char('$')})
            .split(QLatin1Char('\n'))
            .value(0)
            .trimmed();
    }

    // Gives the keyboard to the window with exactly this title and presses a
    // key there. Returns false when no such window is shown.
    bool pressKey(const QString &title, const QString &key) const
    {
        const QString id = windowId(title);
        if (id.isEmpty())
            return false;
        run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
        // Down on the window, up on the keyboard as a whole: the press may
        // close the window, and a release aimed at a window that is gone
        // would be lost, leaving the key held (and repeating into the next
        // program's windows).
        run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("--window"), id, key});
        run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), key});
        return true;
    }

private:
    std::optional<TopLevel> findTopLevel(const QString &title, const QSize &size, bool shownOnly) const
    {
        static const QRegularExpression line(QStringLiteral(
            "(0x[0-9a-f]+) \"(.*)\": .* (\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+ +\\+(-?\\d+)\\+(-?\\d+)"));
        const QStringList lines = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
                                      .split(QLatin1Char('\n'));
        for (const QString &l : lines) {
            const QRegularExpressionMatch m = line.match(l);
            if (!m.hasMatch() || m.captured(2) != title)
                continue;
            TopLevel w{m.captured(2), QSize(m.captured(3).toInt(), m.captured(4).toInt()),
                       QPoint(m.captured(5).toInt(), m.captured(6).toInt())};
            if (size.isValid() && w.size != size)
                continue;
            if (!shownOnly)
                return w;
            // Its state and place read together, after the mapping.
            static const QRegularExpression place(
                QStringLiteral("Absolute upper-left X: +(-?\\d+)\\s+Absolute upper-left Y: +(-?\\d+)"));
            const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), m.captured(1)});
            const QRegularExpressionMatch at = place.match(info);
            if (info.contains(QLatin1String("Map State: IsViewable")) && at.hasMatch()) {
                w.at = QPoint(at.captured(1).toInt(), at.captured(2).toInt());
                return w;
            }
        }
        return std::nullopt;
    }

    // The title as an extended regular expression for xdotool: only ASCII
    // punctuation is special there (escaping a Chinese character is not).
    static QString escaped(const QString &title)
    {
        QString pattern;
        for (const QChar c : title) {
            if (c.unicode() < 128 && !c.isLetterOrNumber() && c != QLatin1Char(' '))
                pattern += QLatin1Char('\\');
            pattern += c;
        }
        return pattern;
    }

    QProcess m_process;
    QProcess m_windowManager;
    QString m_display;
};
