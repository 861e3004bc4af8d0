#pragma once

// A dialog service that answers for the user: file dialogs return scripted
// paths, message boxes are recorded and answered from a script.

#include "platform/dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace fakes {

struct Message {
    QString text;
    int style = 0;
    QString title;
};

class FakeDialogs : public platform::DialogService
{
public:
    int msgBox(QWidget *, const QString &text, int style, const QString &title) override
    {
        messages.append({text, style, title});
        if (onMessage)
            onMessage(messages.last());
        if (!answers.isEmpty())
            return answers.takeFirst();
        return (style & 0x0f) == platform::MbYesNo ? platform::IdNo : platform::IdOk;
    }

    QString openFileName(QWidget *) override
    {
        ++fileDialogs;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }

    QStringList fileNames;  // what the next file dialogs return; empty = cancel
    QList<int> answers;     // what the next message boxes return
    QList<Message> messages;
    int fileDialogs = 0;
    std::function<void(const Message &)> onMessage;
};

} // namespace fakes
