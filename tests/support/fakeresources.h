#pragma once

// Resources a test chooses, by id.

#include "common/errors.h"
#include "platform/resources.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <functional>

namespace fakes {

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

} // namespace fakes
