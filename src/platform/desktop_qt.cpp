#include "platform/desktop.h"

#include <QDir>
#include <QStandardPaths>
#include <QtGlobal>

#include "platform/executable_folder.h"

namespace vantrel {

void PreferXWayland()
{
#ifdef Q_OS_LINUX
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
#endif
}

namespace {

std::string native(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path)).toStdString();
}

}  // namespace

DataPlaces DesktopDataPlaces()
{
    DataPlaces places;
    places.executableFolder = ExecutableFolder();
    const QString userData = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!userData.isEmpty())
        places.userFolder = native(userData + QStringLiteral("/vantrel"));
    if (!places.executableFolder.empty())
        places.defaultsFolder = native(QString::fromStdString(places.executableFolder) +
                                       QStringLiteral("/" VANTREL_DEFAULTS_FROM_EXECUTABLE));
    return places;
}

}  // namespace vantrel
