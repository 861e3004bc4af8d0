#include "platform/resources.h"

#include "common/errors.h"

#include <QFile>

namespace platform {

QtResourceStore::QtResourceStore(QString prefix) : m_prefix(std::move(prefix)) {}

QByteArray QtResourceStore::customResource(int id)
{
    QFile file(m_prefix + QLatin1Char('/') + QString::number(id));
    if (!file.open(QIODevice::ReadOnly))
        throw common::RunError(QStringLiteral("程序缺少资源 %1").arg(id));
    return file.readAll();
}

} // namespace platform
