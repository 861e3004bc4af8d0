#pragma once

#include <QString>

#include <memory>

class QWidget;

namespace platform {

// Top-level windows that other processes of the same user can find by class
// and exact title. A window is findable from the moment it is shown until it
// is closed or its process dies, however it dies.
class WindowFinder
{
public:
    virtual ~WindowFinder() = default;
    // True when a top-level window of that class with exactly that title exists.
    virtual bool findWindow(const QString &windowClass, const QString &title) = 0;
};

// Makes a window findable for as long as the object lives (and the window is
// shown). Handed out by a WindowPublisher.
class WindowRegistration
{
public:
    virtual ~WindowRegistration() = default;
};

class WindowPublisher
{
public:
    virtual ~WindowPublisher() = default;
    // Publishes the window under class and title while it is shown; the
    // registration follows the window's show, hide and destruction, and
    // withdraws the window when it is destroyed itself. Never null.
    virtual std::unique_ptr<WindowRegistration>
    publish(QWidget *window, const QString &windowClass, const QString &title) = 0;
};

// The real service: one lock file per shown window in the user's private
// runtime folder, held locked by the owning process. Other users can neither
// see nor fake these windows, and windows on another display of the same
// user (another session) are not found.
class RuntimeDirWindows : public WindowFinder, public WindowPublisher
{
public:
    // folder: where the lock files live; empty means a folder of this program
    // and this display in the user's runtime folder (or, without a private
    // one, in the temp folder). A folder that cannot be made private to the user is not used:
    // folder() is then empty, nothing is found and nothing is published.
    explicit RuntimeDirWindows(const QString &folder = QString());
    bool findWindow(const QString &windowClass, const QString &title) override;
    std::unique_ptr<WindowRegistration>
    publish(QWidget *window, const QString &windowClass, const QString &title) override;
    QString folder() const { return m_folder; }

private:
    QString m_folder;
};

} // namespace platform
