#pragma once

// The one set of stand-ins for the platform services that the form tests
// give the windows: every double answers what the test sets and records what
// the forms asked.

#include "common/errors.h"
#include "platform/dialogs.h"
#include "platform/instance.h"
#include "platform/netstate.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/windowfinder.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <cstdint>
#include <functional>
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

// Records every address opened and program started instead of doing it.
class FakeShell : public platform::Shell
{
public:
    bool openAddress(const QUrl &address) override
    {
        opened.append(address);
        return result;
    }
    bool startProgram(const QString &path) override
    {
        started.append(path);
        return result;
    }

    bool nothingDone() const { return opened.isEmpty() && started.isEmpty(); }

    QList<QUrl> opened;  // in the order they were opened
    QStringList started; // in the order they were started
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


// A dialog service that answers for the user: file dialogs return scripted
// paths, message boxes are recorded and answered from a script.
struct Message {
    QString text;
    platform::MessageButtons buttons = platform::MessageButtons::Ok;
    platform::MessageIcon icon = platform::MessageIcon::None;
    QString title;
};

class FakeDialogs : public platform::DialogService
{
public:
    platform::MessageAnswer msgBox(QWidget *, const QString &text, platform::MessageButtons buttons,
                                   platform::MessageIcon icon, const QString &title) override
    {
        messages.append({text, buttons, icon, title});
        if (onMessage)
            onMessage(messages.last());
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::No
                                                          : platform::MessageAnswer::Ok;
    }

    QString openFileName(QWidget *, const QStringList &suffixes) override
    {
        ++fileDialogs;
        pictureSuffixes = suffixes;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    void rememberFile(const QString &path) override { remembered.append(path); }

    QStringList fileNames;  // what the next file dialogs return; empty = cancel
    QList<platform::MessageAnswer> answers; // what the next message boxes return
    QList<Message> messages;
    int fileDialogs = 0;
    QStringList pictureSuffixes; // what the last file dialog offered
    QStringList remembered;      // files named by other ways than the dialog
    std::function<void(const Message &)> onMessage;
};


// Answers what the test sets.
class FakeInstance : public platform::InstanceCheck
{
public:
    bool previousInstance() override
    {
        ++calls;
        return previous;
    }

    bool previous = false;
    int calls = 0;
};


class FakeResources : public platform::ResourceStore
{
public:
    QByteArray customResource(int id) override
    {
        requested.append(id);
        if (onRequest)
            onRequest(id);
        if (!resources.contains(id))
            throw common::RunError(QStringLiteral("程序缺少资源 %1").arg(id));
        return resources.value(id);
    }

    // Distinct, recognisable bytes for the six support files.
    static FakeResources supportFiles(qsizetype librarySize = 5000, qsizetype themeSize = 3000)
    {
        FakeResources store;
        for (int id = 101; id <= 106; ++id) {
            const qsizetype size = id == 101 ? librarySize : id == 102 ? themeSize : 100 + id;
            QByteArray bytes(size, '\0');
            for (qsizetype i = 0; i < size; ++i)
                bytes[i] = char((i * 7 + id) % 256);
            store.resources.insert(id, bytes);
        }
        return store;
    }

    QMap<int, QByteArray> resources;
    QList<int> requested;
    std::function<void(int id)> onRequest;
};


class FakeSkinLibrary : public platform::SkinLibrary
{
public:
    void load(const QString &path) override
    {
        loadedPaths.append(path);
        if (failLoad)
            throw common::RunError(QStringLiteral("无法载入皮肤库 ") + path);
        loaded = true;
    }

    std::int32_t SkinH_AttachEx(const QString &skinPath, const QString &password) override
    {
        if (!loaded)
            throw common::RunError(QStringLiteral("皮肤库尚未载入"));
        attachCalls.append({skinPath, password});
        return attachResult;
    }

    std::int32_t SkinH_SetAero(std::int32_t handle) override
    {
        if (!loaded)
            throw common::RunError(QStringLiteral("皮肤库尚未载入"));
        aeroCalls.append(handle);
        return aeroResult;
    }

    // Set to make load() throw as a damaged or missing library does.
    bool failLoad = false;
    std::int32_t attachResult = 0;
    std::int32_t aeroResult = 0;

    bool loaded = false;
    QStringList loadedPaths;                    // every load() in order
    QList<std::pair<QString, QString>> attachCalls; // skin path, password
    QList<std::int32_t> aeroCalls;              // window handles
};

} // namespace fakes
