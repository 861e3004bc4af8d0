#include "platform/skinlibrary.h"

#include "common/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace platform {

namespace {
// The library's texts are 8-bit; local paths travel in the file system's own
// encoding so that a Chinese folder name reaches the library intact.
QByteArray toLibraryText(const QString &text)
{
    return QFile::encodeName(text);
}
} // namespace

void SharedSkinLibrary::load(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    // QLibrary would go on to try other names and the system's folders for a
    // missing file; the programs want exactly this file.
    if (!QFileInfo(path).isFile())
        throw common::RunError(QStringLiteral("找不到皮肤库文件 %1").arg(shown));
    if (!libraryFileComplete(path))
        throw common::RunError(QStringLiteral("无法载入皮肤库 %1：文件不完整或不是程序库").arg(shown));
    m_library.unload();
    m_attach = nullptr;
    m_aero = nullptr;
    m_library.setFileName(QFileInfo(path).absoluteFilePath());
    if (!m_library.load())
        throw common::RunError(QStringLiteral("无法载入皮肤库 %1：%2").arg(shown, m_library.errorString()));
    auto attach = reinterpret_cast<AttachFn>(m_library.resolve("SkinH_AttachEx"));
    auto aero = reinterpret_cast<AeroFn>(m_library.resolve("SkinH_SetAero"));
    if (!attach || !aero) {
        m_library.unload();
        throw common::RunError(QStringLiteral("皮肤库 %1 缺少入口 %2")
                                   .arg(shown, attach ? QStringLiteral("SkinH_SetAero")
                                                      : QStringLiteral("SkinH_AttachEx")));
    }
    m_attach = attach;
    m_aero = aero;
}

std::int32_t SharedSkinLibrary::SkinH_AttachEx(const QString &skinPath, const QString &password)
{
    if (!m_attach)
        throw common::RunError(QStringLiteral("皮肤库尚未载入"));
    const QByteArray path = toLibraryText(skinPath);
    const QByteArray secret = password.toUtf8();
    return m_attach(path.constData(), secret.constData());
}

std::int32_t SharedSkinLibrary::SkinH_SetAero(std::int32_t handle)
{
    if (!m_aero)
        throw common::RunError(QStringLiteral("皮肤库尚未载入"));
    return m_aero(handle);
}

std::int32_t skinWindowHandle(QWidget &window)
{
    return static_cast<std::int32_t>(window.winId());
}

} // namespace platform
