#pragma once

// A skin library double: records what the forms ask of it.

#include "common/errors.h"
#include "platform/skinlibrary.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>

namespace fakes {

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
