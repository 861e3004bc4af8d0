#pragma once

#include <QObject>
#include <QTimer>

namespace platform {

// A form timer: it ticks every Interval milliseconds while it is enabled, and
// an interval of 0 stops it (a QTimer would fire continuously instead).
class Timer : public QObject
{
    Q_OBJECT
public:
    explicit Timer(int interval, QObject *parent = nullptr) : QObject(parent), m_interval(interval)
    {
        connect(&m_timer, &QTimer::timeout, this, &Timer::tick);
    }

    int interval() const { return m_interval; }
    void setInterval(int msecs)
    {
        m_interval = msecs;
        update();
    }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled)
    {
        m_enabled = enabled;
        update();
    }
    // Whether ticks arrive.
    bool isRunning() const { return m_timer.isActive(); }

signals:
    void tick();

private:
    void update()
    {
        if (m_enabled && m_interval > 0)
            m_timer.start(m_interval);
        else
            m_timer.stop();
    }

    QTimer m_timer;
    int m_interval;
    bool m_enabled = false;
};

} // namespace platform
