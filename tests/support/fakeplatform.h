#pragma once

// Test doubles of the platform services, for form tests.

#include "platform/netstate.h"
#include "platform/shell.h"
#include "platform/windowfinder.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <set>
#include <utility>

namespace fakes {

// Answers what the test sets.
class FakeNetworkState : public platform::NetworkState
{
public:
    explicit FakeNetworkState(bool isConnected = true) : result(isConnected) { }
    bool connected() override
    {
        ++calls;
        return result;
    }

    bool result;
    int calls = 0;
};

// Records every command line instead of running it.
class FakeShell : public platform::Shell
{
public:
    bool run(const QString &commandLine) override
    {
        commandLines.append(commandLine);
        return result;
    }

    QStringList commandLines; // in the order they were run
    bool result = true;
};

// A world of windows the test controls: windows added by the test, and
// windows of the program under test published through it, which count
// while their registration lives and the widget is visible.
class FakeWindowFinder : public platform::WindowFinder, public platform::WindowPublisher
{
public:
    using Key = std::pair<QString, QString>; // class, title

    void add(const QString &windowClass, const QString &title) { present.insert({windowClass, title}); }
    void remove(const QString &windowClass, const QString &title) { present.erase({windowClass, title}); }

    bool findWindow(const QString &windowClass, const QString &title) override
    {
        ++calls;
        if (present.count({windowClass, title}))
            return true;
        for (const auto &published : *m_published) {
            if (published->key == Key{windowClass, title} && published->window
                && published->window->isVisible())
                return true;
        }
        return false;
    }

    std::unique_ptr<platform::WindowRegistration>
    publish(QWidget *window, const QString &windowClass, const QString &title) override
    {
        ++publishCalls;
        auto registration = std::make_unique<Registration>(m_published, window, Key{windowClass, title});
        return registration;
    }

    // How many registrations are alive for that class and title.
    int registrations(const QString &windowClass, const QString &title) const
    {
        int n = 0;
        for (const auto *published : *m_published)
            n += published->key == Key{windowClass, title};
        return n;
    }

    std::set<Key> present;
    int calls = 0;
    int publishCalls = 0;

private:
    struct Registration;
    using Registry = std::set<Registration *>;

    struct Registration : platform::WindowRegistration
    {
        Registration(std::shared_ptr<Registry> registry, QWidget *w, Key k)
            : owner(std::move(registry)), window(w), key(std::move(k))
        {
            owner->insert(this);
        }
        ~Registration() override { owner->erase(this); }

        std::shared_ptr<Registry> owner;
        QPointer<QWidget> window;
        Key key;
    };

    // Shared with the registrations, which may outlive the finder.
    std::shared_ptr<Registry> m_published = std::make_shared<Registry>();
};

} // namespace fakes
