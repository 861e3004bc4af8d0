// Shows one start-up form on the current display and takes a picture of the
// whole screen while the form is at work, the way a person sees it:
//
//     mosalune-startup-shot pre|preud <picture.png> <skin folder>
//     mosalune-startup-shot form1|dialog|notice|ud <picture.png> <skin folder>
//     mosalune-startup-shot screen <picture.png> -
//
// ("screen" only takes the picture, of whatever other programs show.)
// MOSALUNE_SHOT_DESKTOP=#rrggbb puts a window of that colour behind the form.
// Prints "WINDOW x y width height" (the form's client area on the screen)
// and, for each visible control, "CONTROL name x y width height" in screen
// coordinates, then "FACE #rrggbb" (the form's button face) and
// "COMPOSITED 0|1".

#include "support/fakeservices.h"

#include "main/mainwindow/pushnoticedialog.h"
#include "main/splash/splashwindow.h"
#include "main/mainwindow/mainwindow.h"
#include "main/versioncheck/versioncheckwindow.h"
#include "platform/appinfo.h"
#include "platform/fonts.h"
#include "platform/seethrough.h"
#include "platform/skinlibrary.h"
#include "updater/updatenoticewindow.h"
#include "updater/services.h"
#include "updater/downloadwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>

namespace {

void settle(int msecs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < msecs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool shoot(QWidget &form, const QString &picture)
{
    settle(400);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    if (!screen.save(picture, "PNG"))
        return false;
    QTextStream out(stdout);
    const QPoint origin = form.mapToGlobal(QPoint(0, 0));
    out << "WINDOW " << origin.x() << ' ' << origin.y() << ' ' << form.width() << ' ' << form.height() << '\n';
    for (QObject *child : form.children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || !widget->isVisible())
            continue;
        const QRect r(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        out << "CONTROL " << widget->objectName() << ' ' << r.x() << ' ' << r.y() << ' ' << r.width() << ' '
            << r.height() << '\n';
    }
    out << "FACE " << form.palette().color(QPalette::Button).name() << '\n';
    out << "COMPOSITED " << (platform::desktopComposites() ? 1 : 0) << '\n';
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    platform::installFontFallbacks();
    if (argc != 4)
        return 2;
    const QString which = QString::fromLocal8Bit(argv[1]);
    const QString picture = QString::fromLocal8Bit(argv[2]);
    const QString skinFolder = QString::fromLocal8Bit(argv[3]);

    QTemporaryDir folder;
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    fakes::FakeNetworkState network{false};
    fakes::FakeWindowFinder windows;
    platform::AppInfo info;
    info.folder = folder.path();
    info.major = 13;
    info.minor = 4;
    info.revision = 20;
    mosalune::ProgramState state;
    mosalune::Services services{dialogs, shell, network, windows, info, state};
    fakes::FakeResources resources = fakes::FakeResources::supportFiles();
    platform::SharedSkinLibrary skin;
    mosalune::StartupServices startup{services, resources, skin};

    QWidget desktop(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint);
    if (const QColor colour(qEnvironmentVariable("MOSALUNE_SHOT_DESKTOP")); colour.isValid()) {
        desktop.setPalette(QPalette(colour, colour));
        desktop.setAutoFillBackground(true);
        desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        desktop.show();
        settle(200);
    }
    bool taken = false;
    // The other forms with the theme attached, as every normal start has it.
    if (QStringList{"form1", "dialog", "notice", "ud"}.contains(which)) {
        skin.load(skinFolder + QLatin1String("/BrontelSkin.dll"));
        skin.SkinH_AttachEx(skinFolder + QLatin1String("/Brontel.Skin"), QString());
    }
    fakes::FakeInstance instance;
    fakes::FakeSkinLibrary updaterSkin;
    mslupdate::Services updater{dialogs, shell, network, windows, windows, instance, updaterSkin, info, [] {}, 1};
    const auto loadAndShoot = [&](auto &&form) { form.load(); form.show(); taken = shoot(form, picture); };
    if (which == QLatin1String("form1")) {
        loadAndShoot(mosalune::MainWindow(services));
    } else if (which == QLatin1String("dialog")) {
        loadAndShoot(mosalune::PushNoticeDialog(services, nullptr));
    } else if (which == QLatin1String("notice")) {
        loadAndShoot(mslupdate::UpdateNoticeWindow(updater));
    } else if (which == QLatin1String("ud")) {
        // Online, the page out of reach: asked while the first status line shows.
        network.result = true;
        info.releasePageUrl = QStringLiteral("http://127.0.0.1:9/");
        mslupdate::DownloadWindow ud(updater);
        dialogs.onMessage = [&](const fakes::Message &) { taken = shoot(ud, picture); };
        ud.load();
    } else if (which == QLatin1String("screen")) {
        return QGuiApplication::primaryScreen()->grabWindow(0).save(picture, "PNG") ? 0 : 1;
    } else if (which == QLatin1String("pre")) {
        mosalune::SplashWindow pre(startup);
        resources.onRequest = [&](int id) {
            // While the library is written, under its Latin caption.
            if (id == 102)
                taken = shoot(pre, picture);
        };
        pre.load();
    } else {
        for (const char *name : {"BrontelSkin.dll", "Brontel.Skin"})
            QFile::copy(skinFolder + QLatin1Char('/') + QLatin1String(name), folder.filePath(QLatin1String(name)));
        mosalune::VersionCheckWindow preud(startup);
        // Part way through: the bar at 40 and its caption, as the ticks leave it.
        resources.onRequest = [&](int id) {
            if (id != 103)
                return;
            for (int i = 0; i < 40; ++i)
                preud.ProgressBar1()->setValue(i);
            taken = shoot(preud, picture);
        };
        preud.load();
    }
    return taken ? 0 : 1;
}
