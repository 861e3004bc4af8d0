#include "platform/stoppedupdate.h"

#include "common/replacejournal.h"
#include "platform/dialogs.h"

#include <QDebug>

namespace platform {

void finishStoppedUpdate(const QString &folder, DialogService &dialogs)
{
    QString error;
    if (common::rollForwardReplace(folder, &error) != common::RollForward::Failed)
        return;
    const QString message = QStringLiteral("上次的更新没有完成：%1").arg(error);
    qWarning().noquote() << message;
    dialogs.msgBox(nullptr, message, MessageButtons::Ok, MessageIcon::Critical,
                   QStringLiteral("提示"));
}

} // namespace platform
