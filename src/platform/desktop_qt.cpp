#include "platform/desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <QtGlobal>

#include "platform/executable_folder.h"

namespace vantrel {

void PreferXWayland()
{
#ifdef Q_OS_LINUX
    // Qt tries the platforms in order: a dead X display falls through to Wayland instead of ending the program.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
#endif
}

namespace {

std::string native(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path)).toStdString();
}

QString userDataHome()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Qt 6.4 takes a relative XDG_DATA_HOME as it stands and an unset HOME as the root folder.
    return QFile::decodeName(
        QByteArray::fromStdString(XdgDataHome(qgetenv("XDG_DATA_HOME").toStdString(), qgetenv("HOME").toStdString())));
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
}

}  // namespace

DataPlaces DesktopDataPlaces()
{
    DataPlaces places;
    places.executableFolder = ExecutableFolder();
    const QString userData = userDataHome();
    if (!userData.isEmpty())
        places.userFolder = native(userData + QStringLiteral("/vantrel"));
    if (!places.executableFolder.empty())
        places.defaultsFolder = native(QString::fromStdString(places.executableFolder) +
                                       QStringLiteral("/" VANTREL_DEFAULTS_FROM_EXECUTABLE));
    return places;
}

bool OpenInBrowser(const std::string& link)
{
    // Tolerant parsing, as a browser's: a space in a path is sent encoded.
    const QUrl url(QString::fromStdString(link));
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return false;
    return QDesktopServices::openUrl(url);
}

}  // namespace vantrel
