#include "e2e_harness.h"

#include <algorithm>
#include <cstdlib>

#include <iconv.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace vantrel::e2e {
namespace {

constexpr int kFirstDisplay = 90;
constexpr char kWaylandSocket[] = "wayland-e2e";
constexpr int kLastDisplay = 130;
// A pixel of the headline: the strip itself is dark grey.
constexpr int kWhiteLevel = 200;
constexpr int kSolidRun = 8;
constexpr int kThinMost = 3;
// Where a user might unpack the Windows ZIP; the program's own folder then has a name outside ASCII.
const QString kWindowsFolderName = QStringLiteral("ティッカー ①");
// The sanitizers' reports, in the program's scratch folder: log_path plus ".PID".
constexpr char kSanitizerLog[] = "sanitizer";

// No keybindings, no menus, no edge resistance, no border on undecorated windows: nothing in the window
// manager reacts to the tests' clicks except the moves the program asks for.
const char kOpenboxConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <resistance><strength>0</strength><screen_edge_strength>0</screen_edge_strength></resistance>
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <theme><keepBorder>no</keepBorder><animateIconify>no</animateIconify></theme>
  <desktops><number>1</number></desktops>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <keyboard></keyboard>
  <mouse></mouse>
  <menu></menu>
  <applications></applications>
</openbox_config>
)";

int xButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton:
        return 3;
    case Qt::MiddleButton:
        return 2;
    default:
        return 1;
    }
}

// In a process group of its own, so that stopping it also stops whatever it started.
std::unique_ptr<QProcess> startInOwnGroup(const QString& program, const QStringList& arguments,
                                          const QProcessEnvironment& environment, const QString& logFile)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(logFile, QIODevice::Append);
    process->setStandardErrorFile(logFile, QIODevice::Append);
    process->setChildProcessModifier([] { ::setsid(); });
    process->start();
    process->waitForStarted(5000);
    return process;
}

void stopGroup(QProcess* process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    const auto group = static_cast<pid_t>(process->processId());
    ::kill(-group, SIGTERM);
    if (!process->waitForFinished(3000)) {
        ::kill(-group, SIGKILL);
        process->waitForFinished(3000);
    }
    // The leader is gone; anything it left behind in the group goes too.
    if (::kill(-group, 0) == 0)
        ::kill(-group, SIGKILL);
}

bool processEnded(QProcess* process)
{
    return !process || process->state() == QProcess::NotRunning || process->waitForFinished(0);
}

QByteArray tail(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().right(2000);
}

// Lines "KEY=value" as xdotool --shell prints them.
int shellValue(const QByteArray& output, const char* key)
{
    const QByteArray prefix = QByteArray(key) + '=';
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().toInt();
    }
    return -1;
}

// The process id written in the lock file of a display, 0 when there is none.
qint64 lockOwner(int display)
{
    QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(display));
    return lock.open(QIODevice::ReadOnly) ? lock.readAll().trimmed().toLongLong() : 0;
}

// The built program, or another build of it named in VANTREL_E2E_EXECUTABLE.
QString programUnderTest()
{
    const QString chosen = qEnvironmentVariable("VANTREL_E2E_EXECUTABLE");
    return chosen.isEmpty() ? QStringLiteral(VANTREL_EXECUTABLE) : chosen;
}

}  // namespace

QString windowsBuildUnderTest()
{
    return qEnvironmentVariable("VANTREL_E2E_WINDOWS_BUILD");
}

QString packageFile(const QString& build, const QString& pattern)
{
    const QDir package(build + QStringLiteral("/package"));
    const QStringList found = package.entryList({pattern}, QDir::Files);
    return found.size() == 1 ? package.filePath(found.first()) : QString();
}

QByteArray codePage932(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    utf8.replace("\n", "\r\n");
    const iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray result(utf8.size() * 2, '\0');
    char* in = utf8.data();
    std::size_t inLeft = static_cast<std::size_t>(utf8.size());
    char* out = result.data();
    std::size_t outLeft = static_cast<std::size_t>(result.size());
    const bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!converted)
        return {};
    result.truncate(result.size() - static_cast<qsizetype>(outLeft));
    return result;
}

QStringList missingTools(bool withWindowManager)
{
    QStringList tools{QStringLiteral("Xvfb"), QStringLiteral("xdpyinfo"), QStringLiteral("xdotool"),
                      QStringLiteral("xprop"), QStringLiteral("import")};
    if (withWindowManager)
        tools << QStringLiteral("openbox");
    QStringList missing;
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    return missing;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList missingWaylandTools()
{
    QStringList missing;
    for (const char* tool : {"weston", "Xwayland", "xdpyinfo", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    if (platforms.entryList({QStringLiteral("*qwayland*")}, QDir::Files).isEmpty())
        missing << QStringLiteral("Qt's Wayland platform (qt6-wayland)");
    return missing;
}

ToolResult runTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                   Milliseconds timeout)
{
    ToolResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(static_cast<int>(timeout.count()))) {
        result.errors = process.errorString().toLocal8Bit();
        return result;
    }
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished(1000);
        result.errors = "timed out: " + program.toLocal8Bit();
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

bool near(const QPoint& actual, const QPoint& expected)
{
    return std::abs(actual.x() - expected.x()) <= 1 && std::abs(actual.y() - expected.y()) <= 1;
}

QString describe(const QPoint& point)
{
    return QStringLiteral("(%1,%2)").arg(point.x()).arg(point.y());
}

bool waitUntil(const std::function<bool()>& condition, Milliseconds timeout, Milliseconds interval)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeout.count())
            return false;
        QTest::qWait(static_cast<int>(interval.count()));
    }
    return true;
}

bool waitForFile(const QString& path, const QByteArray& bytes, Milliseconds timeout)
{
    return waitUntil([&] { return readFile(path) == bytes; }, timeout);
}

VirtualDisplay::VirtualDisplay(Options options)
{
    if (!m_home.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    for (const char* folder : {"runtime", "cache", "config"})
        QDir(m_home.path()).mkdir(QString::fromLatin1(folder));
    QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_wayland = options.waylandSession;
    if (!(m_wayland ? startWeston(options.size) : startServer(options.size)))
        return;
    if (options.windowManager && !startWindowManager())
        return;
    m_ready = true;
}

VirtualDisplay::~VirtualDisplay()
{
    stopGroup(m_windowManager.get());
    const qint64 serverPid = m_server ? m_server->processId() : 0;
    stopGroup(m_server.get());
    if (m_number < 0 || serverPid <= 0)
        return;
    // Xvfb removes these itself when it ends normally; after a SIGKILL they would block the number.
    if (lockOwner(m_number) == serverPid) {
        QFile::remove(QStringLiteral("/tmp/.X%1-lock").arg(m_number));
        QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(m_number));
    }
}

bool VirtualDisplay::startServer(const QSize& size)
{
    const QString log = m_home.filePath(QStringLiteral("xvfb.log"));
    for (int number = kFirstDisplay; number <= kLastDisplay; ++number) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
            QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        m_number = number;
        const QString screen = QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height());
        m_server = startInOwnGroup(
            QStringLiteral("Xvfb"),
            {name(), QStringLiteral("-screen"), QStringLiteral("0"), screen, QStringLiteral("-nolisten"),
             QStringLiteral("tcp"), QStringLiteral("-dpi"), QStringLiteral("96"), QStringLiteral("-noreset")},
            clientEnvironment(), log);
        const bool answers =
            waitUntil([&] { return processEnded(m_server.get()) || run(QStringLiteral("xdpyinfo"), {}, 2s).ok(); }, 5s);
        // The lock tells our server from one that another program started on the same number meanwhile.
        if (answers && !processEnded(m_server.get()) && lockOwner(number) == m_server->processId())
            return true;
        // Lost a race for this number, or the server would not start: try the next one.
        stopGroup(m_server.get());
        m_server.reset();
    }
    m_number = -1;
    m_error = QStringLiteral("no Xvfb display could be started on :%1..:%2: %3")
                  .arg(kFirstDisplay)
                  .arg(kLastDisplay)
                  .arg(QString::fromLocal8Bit(tail(log)));
    return false;
}

bool VirtualDisplay::startWeston(const QSize& size)
{
    const QString log = m_home.filePath(QStringLiteral("weston.log"));
    QProcessEnvironment environment = clientEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Weston takes the first free X display number itself and says which in its log.
    m_server = startInOwnGroup(
        QStringLiteral("weston"),
        {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--xwayland"), QStringLiteral("--no-config"),
         QStringLiteral("--idle-time=0"), QStringLiteral("--socket=%1").arg(QLatin1String(kWaylandSocket)),
         QStringLiteral("--width=%1").arg(size.width()), QStringLiteral("--height=%1").arg(size.height())},
        environment, log);
    const QRegularExpression listening(QStringLiteral("xserver listening on display :(\\d+)"));
    waitUntil(
        [&] {
            QFile file(log);
            const QRegularExpressionMatch match =
                listening.match(file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString());
            if (match.hasMatch())
                m_number = match.captured(1).toInt();
            return m_number >= 0 || processEnded(m_server.get());
        },
        10s);
    // The first client starts XWayland.
    const bool answers =
        m_number >= 0 &&
        waitUntil([&] { return processEnded(m_server.get()) || run(QStringLiteral("xdpyinfo"), {}, 5s).ok(); }, 10s);
    if (answers && !processEnded(m_server.get()))
        return true;
    m_error = QStringLiteral("weston with XWayland did not start: %1").arg(QString::fromLocal8Bit(tail(log)));
    return false;
}

bool VirtualDisplay::startWindowManager()
{
    const QString config = m_home.filePath(QStringLiteral("openbox-rc.xml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(kOpenboxConfig) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(config);
        return false;
    }
    file.close();
    const QString log = m_home.filePath(QStringLiteral("openbox.log"));
    m_windowManager = startInOwnGroup(QStringLiteral("openbox"),
                                      {QStringLiteral("--sm-disable"), QStringLiteral("--config-file"), config},
                                      clientEnvironment(), log);
    const bool managed = waitUntil(
        [&] {
            if (processEnded(m_windowManager.get()))
                return true;
            const ToolResult check =
                run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            return check.ok() && check.output.contains("window id #");
        },
        5s);
    if (managed && !processEnded(m_windowManager.get()))
        return true;
    m_error = QStringLiteral("openbox did not take the display: %1").arg(QString::fromLocal8Bit(tail(log)));
    return false;
}

QProcessEnvironment VirtualDisplay::clientEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* key : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY", "QT_SCALE_FACTOR",
                            "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_ENABLE_HIGHDPI_SCALING",
                            "QT_FONT_DPI", "QT_STYLE_OVERRIDE", "SESSION_MANAGER"})
        environment.remove(QString::fromLatin1(key));
    environment.insert(QStringLiteral("DISPLAY"), name());
    if (m_wayland)
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromLatin1(kWaylandSocket));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return environment;
}

ToolResult VirtualDisplay::run(const QString& program, const QStringList& arguments, Milliseconds timeout) const
{
    return runTool(program, arguments, clientEnvironment(), timeout);
}

QImage VirtualDisplay::grab(const QRect& area) const
{
    const QString crop = QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
    const ToolResult shot = run(QStringLiteral("import"),
                                {QStringLiteral("-silent"), QStringLiteral("-window"), QStringLiteral("root"),
                                 QStringLiteral("-crop"), crop, QStringLiteral("+repage"), QStringLiteral("png:-")});
    if (!shot.ok())
        return {};
    return QImage::fromData(shot.output, "PNG").convertToFormat(QImage::Format_RGB32);
}

QPoint VirtualDisplay::pointer() const
{
    const ToolResult where =
        run(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
    if (!where.ok())
        return {-1, -1};
    return {shellValue(where.output, "X"), shellValue(where.output, "Y")};
}

bool VirtualDisplay::movePointer(const QPoint& to) const
{
    return run(QStringLiteral("xdotool"),
               {QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y())})
        .ok();
}

bool VirtualDisplay::movePointerBy(const QPoint& delta) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("mousemove_relative"), QStringLiteral("--"),
                                           QString::number(delta.x()), QString::number(delta.y())})
        .ok();
}

bool VirtualDisplay::press(Qt::MouseButton button) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("mousedown"), QString::number(xButton(button))}).ok();
}

bool VirtualDisplay::release(Qt::MouseButton button) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QString::number(xButton(button))}).ok();
}

bool VirtualDisplay::keys(const QString& names) const
{
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")};
    arguments << names.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return run(QStringLiteral("xdotool"), arguments).ok();
}

AppFolder::AppFolder()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    m_root = m_dir.path();
    QDir root(m_root);
    for (const char* folder : {"data/brd", "data/log", "data/pic/std"}) {
        if (!root.mkpath(QString::fromLatin1(folder))) {
            m_error = QStringLiteral("cannot create %1").arg(QString::fromLatin1(folder));
            return;
        }
    }
    const QString built = programUnderTest();
    m_executable = root.filePath(QFileInfo(built).fileName());
    if (!QFile::copy(built, m_executable) ||
        !QFile::setPermissions(m_executable, QFile::permissions(built) | QFileDevice::ExeOwner)) {
        m_error = QStringLiteral("cannot copy %1").arg(built);
        return;
    }
    const QDir pictures(QStringLiteral(VANTREL_PICTURES_DIR));
    const QStringList files = pictures.entryList(QDir::Files);
    if (files.isEmpty()) {
        m_error = QStringLiteral("no pictures in %1").arg(pictures.path());
        return;
    }
    for (const QString& file : files) {
        if (!QFile::copy(pictures.filePath(file), root.filePath(QStringLiteral("data/pic/std/") + file))) {
            m_error = QStringLiteral("cannot copy %1").arg(file);
            return;
        }
    }
    m_ready = true;
}

AppFolder::AppFolder(const QString& zipFile, const QString& folderName, const QString& executableName)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    m_windows = true;
    m_root = m_dir.filePath(folderName);
    const ToolResult unzip =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), zipFile, QStringLiteral("-d"), m_root},
                QProcessEnvironment::systemEnvironment(), 60s);
    if (!unzip.ok()) {
        m_error = QStringLiteral("cannot unpack %1: %2").arg(zipFile, QString::fromLocal8Bit(unzip.errors));
        return;
    }
    // A ZIP with one top folder puts the program a level further down.
    const QStringList top = QDir(m_root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (top.size() == 1 && QFileInfo(QDir(m_root).filePath(top.first())).isDir())
        m_root = QDir(m_root).filePath(top.first());
    m_executable = QDir(m_root).filePath(executableName);
    if (!QFileInfo(m_executable).isFile()) {
        m_error = QStringLiteral("no %1 in %2").arg(executableName, zipFile);
        return;
    }
    m_ready = hasDataFolders();
}

bool AppFolder::hasDataFolders()
{
    for (const char* folder : {"data/brd", "data/log", "data/pic/std"}) {
        if (!QFileInfo(QDir(m_root).filePath(QString::fromLatin1(folder))).isDir()) {
            m_error = QStringLiteral("no folder %1 in %2").arg(QString::fromLatin1(folder), m_root);
            return false;
        }
    }
    return true;
}

bool AppFolder::writeBoard(const QByteArray& content, const QString& fileName)
{
    QFile board(QDir(m_root).filePath(QStringLiteral("data/brd/") + fileName));
    return board.open(QIODevice::WriteOnly) && board.write(content) == content.size();
}

bool AppFolder::writeBoardText(const QString& lines)
{
    if (!m_windows)
        return writeBoard(lines.toUtf8());
    const QByteArray board = codePage932(lines);
    return !board.isEmpty() && writeBoard(board, QStringLiteral("default.brd"));
}

QString AppFolder::cacheFile(const QString& feedText) const
{
    return QDir(m_root).filePath(QStringLiteral("data/log/") + feedText + QStringLiteral(".xml"));
}

QStringList AppFolder::cacheFiles() const
{
    return QDir(QDir(m_root).filePath(QStringLiteral("data/log"))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

WinePrefix::WinePrefix(const VirtualDisplay& display, QString prefix) : m_display(display), m_prefix(std::move(prefix))
{
    endAll();
}

WinePrefix::~WinePrefix()
{
    endAll();
}

void WinePrefix::endAll() const
{
    runTool(QStringLiteral("wineserver"), {QStringLiteral("-k")}, environment(), 30s);
    runTool(QStringLiteral("wineserver"), {QStringLiteral("-w")}, environment(), 30s);
}

QProcessEnvironment WinePrefix::environment() const
{
    QProcessEnvironment environment = m_display.clientEnvironment();
    environment.insert(QStringLiteral("WINEPREFIX"), m_prefix);
    if (!environment.contains(QStringLiteral("WINEDEBUG")))
        environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    // No offer to install Mono or Gecko; and the shortcuts an installer makes stay in the prefix instead of
    // becoming menu entries of the Linux desktop.
    environment.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml=;winemenubuilder.exe=d"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("ja_JP.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ja_JP.UTF-8"));
    return environment;
}

ToolResult WinePrefix::run(const QString& program, const QStringList& arguments, Milliseconds timeout) const
{
    ToolResult result = runTool(QStringLiteral("wine"), QStringList{program} + arguments, environment(), timeout);
    result.output.replace("\r\n", "\n");
    result.errors.replace("\r\n", "\n");
    return result;
}

QString WinePrefix::windowsPath(const QString& linuxPath)
{
    return QStringLiteral("Z:") + QString(linuxPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QString WinePrefix::linuxPath(const QString& windowsPath) const
{
    const ToolResult converted =
        runTool(QStringLiteral("winepath"), {QStringLiteral("-u"), windowsPath}, environment(), 60s);
    return converted.ok() ? QString::fromUtf8(converted.output.trimmed()) : QString();
}

QString WinePrefix::variable(const QString& name) const
{
    const QString reference = QLatin1Char('%') + name + QLatin1Char('%');
    const ToolResult echoed = run(QStringLiteral("cmd"), {QStringLiteral("/c"), QStringLiteral("echo"), reference});
    const QString value = QString::fromUtf8(echoed.output.trimmed());
    return echoed.ok() && value != reference ? value : QString();
}

QMap<QString, QString> registryValues(const WinePrefix& wine, const QString& key)
{
    QMap<QString, QString> values;
    const ToolResult listed = wine.run(QStringLiteral("reg"), {QStringLiteral("query"), key});
    if (!listed.ok())
        return values;
    // "    Name    REG_SZ    Value"; the key's own line has no type.
    static const QRegularExpression line(QStringLiteral("^ {4}(.*?) {4}REG_\\w+ {4}(.*)$"));
    for (const QString& text : QString::fromUtf8(listed.output).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            values.insert(match.captured(1), match.captured(2));
    }
    return values;
}

QString fileVersion(const QString& path)
{
    const QByteArray file = readFile(path);
    const QString key = QStringLiteral("FileVersion");
    const qsizetype at = file.indexOf(QByteArray(reinterpret_cast<const char*>(key.utf16()), key.size() * 2));
    if (at < 0)
        return {};
    // The key's terminator and the padding to four bytes stand before the value, itself ended by a zero.
    qsizetype from = at + key.size() * 2;
    while (from + 1 < file.size() && file[from] == 0 && file[from + 1] == 0)
        from += 2;
    QString value;
    for (qsizetype i = from; i + 1 < file.size() && (file[i] != 0 || file[i + 1] != 0); i += 2)
        value += QChar(static_cast<char16_t>(static_cast<uchar>(file[i]) | static_cast<uchar>(file[i + 1]) << 8));
    return value;
}

TickerApp::TickerApp(const VirtualDisplay& display, const AppFolder& folder)
    : TickerApp(display, folder.executable(), folder.path())
{
}

TickerApp::TickerApp(const VirtualDisplay& display, QString executable, QString workingDirectory,
                     QProcessEnvironment extraEnvironment)
    : m_display(display),
      m_program(std::move(executable)),
      m_workingDirectory(std::move(workingDirectory)),
      m_extraEnvironment(std::move(extraEnvironment))
{
}

TickerApp::TickerApp(const VirtualDisplay& display, const WinePrefix& wine, QString executable,
                     QString workingDirectory, QProcessEnvironment extraEnvironment)
    : m_display(display),
      m_program(QStringLiteral("wine")),
      m_arguments{std::move(executable)},
      m_workingDirectory(std::move(workingDirectory)),
      m_extraEnvironment(wine.environment()),
      m_linuxQt(false)
{
    m_extraEnvironment.insert(extraEnvironment);
}

TickerApp::~TickerApp()
{
    stop();
}

bool TickerApp::start(Milliseconds timeout)
{
    if (!m_scratch.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    QProcessEnvironment environment = m_display.clientEnvironment();
    // In a Wayland session the program is to choose for itself, as on a desktop.
    if (m_linuxQt && !m_display.isWaylandSession())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(m_extraEnvironment);
    if (m_linuxQt) {
        const QString logPath = QStringLiteral(":log_path=") + m_scratch.filePath(QLatin1String(kSanitizerLog));
        for (const char* key : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            environment.insert(QString::fromLatin1(key), environment.value(QString::fromLatin1(key)) + logPath);
    }
    if (timeout == 0ms)
        timeout = m_linuxQt ? 10s : 60s;
    m_process = std::make_unique<QProcess>();
    m_process->setWorkingDirectory(m_workingDirectory);
    m_process->setProcessEnvironment(environment);
    m_process->setStandardInputFile(QProcess::nullDevice());
    const QString log = m_scratch.filePath(QStringLiteral("output.log"));
    m_process->setStandardOutputFile(log, QIODevice::Append);
    m_process->setStandardErrorFile(log, QIODevice::Append);
    m_process->start(m_program, m_arguments);
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(m_program, m_process->errorString());
        return false;
    }
    const QString pid = QString::number(m_process->processId());
    const bool shown = waitUntil(
        [&] {
            if (processEnded(m_process.get()))
                return true;
            const ToolResult search =
                m_display.run(QStringLiteral("xdotool"),
                              {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--pid"), pid, QStringLiteral("--name"), QStringLiteral("^Vantrel$")});
            m_window = QString::fromLatin1(search.output.split('\n').value(0).trimmed());
            return !m_window.isEmpty() && geometry().isValid();
        },
        timeout);
    if (shown && !processEnded(m_process.get()))
        return true;
    m_error =
        processEnded(m_process.get())
            ? QStringLiteral("the program ended at start (status %1): %2")
                  .arg(m_process->exitCode())
                  .arg(QString::fromLocal8Bit(output()))
            : QStringLiteral("no window within %1 ms: %2").arg(timeout.count()).arg(QString::fromLocal8Bit(output()));
    return false;
}

void TickerApp::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

bool TickerApp::isRunning() const
{
    return !processEnded(m_process.get());
}

qint64 TickerApp::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QRect TickerApp::geometry() const
{
    return m_window.isEmpty() ? QRect() : geometryOf(m_window);
}

QRect TickerApp::geometryOf(const QString& windowId) const
{
    const ToolResult asked = m_display.run(QStringLiteral("xdotool"),
                                           {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), windowId});
    if (!asked.ok())
        return {};
    const int width = shellValue(asked.output, "WIDTH");
    const int height = shellValue(asked.output, "HEIGHT");
    if (width <= 0 || height <= 0)
        return {};
    return {shellValue(asked.output, "X"), shellValue(asked.output, "Y"), width, height};
}

QStringList TickerApp::netWmState() const
{
    const ToolResult asked =
        m_display.run(QStringLiteral("xprop"), {QStringLiteral("-id"), m_window, QStringLiteral("_NET_WM_STATE")});
    const int equals = asked.output.indexOf('=');
    if (!asked.ok() || equals < 0)
        return {};
    QStringList atoms;
    for (const QByteArray& atom : asked.output.mid(equals + 1).split(',')) {
        if (!atom.trimmed().isEmpty())
            atoms << QString::fromLatin1(atom.trimmed());
    }
    return atoms;
}

QStringList TickerApp::visibleWindows() const
{
    if (!m_process)
        return {};
    const ToolResult search =
        m_display.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--pid"), QString::number(m_process->processId())});
    QStringList windows;
    for (const QByteArray& line : search.output.split('\n')) {
        if (!line.trimmed().isEmpty())
            windows << QString::fromLatin1(line.trimmed());
    }
    return windows;
}

bool TickerApp::activate() const
{
    const QString command =
        m_display.hasWindowManager() ? QStringLiteral("windowactivate") : QStringLiteral("windowfocus");
    if (!m_display.run(QStringLiteral("xdotool"), {command, QStringLiteral("--sync"), m_window}).ok())
        return false;
    return waitUntil(
        [&] {
            const ToolResult focus = m_display.run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
            return focus.ok() && QString::fromLatin1(focus.output.trimmed()) == m_window;
        },
        2s);
}

bool TickerApp::waitForPlace(const QPoint& topLeft, Milliseconds timeout) const
{
    return waitUntil([&] { return near(geometry().topLeft(), topLeft); }, timeout);
}

bool TickerApp::moveTo(const QPoint& windowPoint) const
{
    const QRect frame = geometry();
    return frame.isValid() && m_display.movePointer(frame.topLeft() + windowPoint);
}

bool TickerApp::moveBy(const QPoint& delta) const
{
    return m_display.movePointerBy(delta);
}

bool TickerApp::press(Qt::MouseButton button) const
{
    return m_display.press(button);
}

bool TickerApp::release(Qt::MouseButton button) const
{
    return m_display.release(button);
}

bool TickerApp::click(const QPoint& windowPoint, Qt::MouseButton button) const
{
    return moveTo(windowPoint) && press(button) && release(button);
}

bool TickerApp::drag(const QPoint& at, const QPoint& by) const
{
    if (!moveTo(at) || !press())
        return false;
    QTest::qWait(100);
    if (!moveBy(QPoint(2, 1)))
        return false;
    // The window manager takes the pointer for the move only after the program has asked for it.
    QTest::qWait(400);
    if (!moveBy(by))
        return false;
    QTest::qWait(300);
    return release();
}

bool TickerApp::openMenu(Milliseconds timeout) const
{
    return click(layout::kSurface, Qt::RightButton) && waitUntil([&] { return visibleWindows().size() == 2; }, timeout);
}

bool TickerApp::keys(const QString& names) const
{
    return m_display.keys(names);
}

QImage TickerApp::grab(const QRect& windowArea) const
{
    const QRect frame = geometry();
    if (!frame.isValid())
        return {};
    return m_display.grab(windowArea.translated(frame.topLeft()));
}

bool TickerApp::isBlankAround(const QPoint& windowPoint) const
{
    const QImage around = grab(QRect(windowPoint.x() - 10, layout::kStrip.y(), 21, layout::kStrip.height()));
    return !around.isNull() && measureStrip(around).anyWhite == 0;
}

bool TickerApp::waitForExit(Milliseconds timeout)
{
    if (!m_process)
        return false;
    if (m_process->state() == QProcess::NotRunning)
        return true;
    return m_process->waitForFinished(static_cast<int>(timeout.count()));
}

QByteArray TickerApp::output() const
{
    QByteArray output = readFile(m_scratch.filePath(QStringLiteral("output.log")));
    const QDir scratch(m_scratch.path());
    for (const QString& report : scratch.entryList({QLatin1String(kSanitizerLog) + QStringLiteral(".*")}, QDir::Files))
        output += "\n--- " + report.toLocal8Bit() + ":\n" + readFile(scratch.filePath(report));
    return output;
}

QString TickerApp::exitProblem() const
{
    if (isRunning())
        return QStringLiteral("still running; program output: ") + QString::fromLocal8Bit(output());
    if (m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0)
        return {};
    return QStringLiteral("%1 with status %2; program output: %3")
        .arg(m_process->exitStatus() == QProcess::NormalExit ? QStringLiteral("ended") : QStringLiteral("crashed"))
        .arg(m_process->exitCode())
        .arg(QString::fromLocal8Bit(output()));
}

Launcher::Launcher(const VirtualDisplay& display, const QString& windowsBuild) : m_display(display)
{
    if (windowsBuild.isEmpty())
        return;
    m_zip = packageFile(windowsBuild, QStringLiteral("vantrel-*-windows-x64.zip"));
    m_probe = windowsBuild + QStringLiteral("/vantrel_window_probe.exe");
    if (m_zip.isEmpty())
        m_error = QStringLiteral("no single ZIP in %1/package").arg(windowsBuild);
    else
        m_wine = std::make_unique<WinePrefix>(
            display, qEnvironmentVariable("WINEPREFIX", windowsBuild + QStringLiteral("/wine-prefix")));
}

std::unique_ptr<AppFolder> Launcher::folder() const
{
    return m_wine ? std::make_unique<AppFolder>(m_zip, kWindowsFolderName, QStringLiteral("vantrel.exe"))
                  : std::make_unique<AppFolder>();
}

std::unique_ptr<TickerApp> Launcher::app(const AppFolder& folder, const QProcessEnvironment& extraEnvironment) const
{
    return m_wine
               ? std::make_unique<TickerApp>(m_display, *m_wine, folder.executable(), folder.path(), extraEnvironment)
               : std::make_unique<TickerApp>(m_display, folder.executable(), folder.path(), extraEnvironment);
}

QString Launcher::stacking(const TickerApp& app) const
{
    if (!m_wine)
        return app.netWmState().contains(QStringLiteral("_NET_WM_STATE_ABOVE")) ? QStringLiteral("topmost")
                                                                                : QStringLiteral("normal");
    const ToolResult asked = m_wine->run(m_probe, {QStringLiteral("Vantrel")});
    return QString::fromLocal8Bit(asked.ok() ? asked.output.trimmed() : asked.output + asked.errors);
}

StripCoverage measureStrip(const QImage& strip)
{
    StripCoverage coverage;
    if (strip.isNull() || strip.width() == 0)
        return coverage;
    int anyWhite = 0;
    int solid = 0;
    int thin = 0;
    for (int x = 0; x < strip.width(); ++x) {
        int count = 0;
        int run = 0;
        int longest = 0;
        for (int y = 0; y < strip.height(); ++y) {
            const QRgb pixel = strip.pixel(x, y);
            if (std::min({qRed(pixel), qGreen(pixel), qBlue(pixel)}) >= kWhiteLevel) {
                ++count;
                longest = std::max(longest, ++run);
            } else {
                run = 0;
            }
        }
        anyWhite += count > 0;
        solid += longest >= kSolidRun;
        thin += count > 0 && count <= kThinMost;
    }
    const double columns = strip.width();
    coverage.anyWhite = anyWhite / columns;
    coverage.solid = solid / columns;
    coverage.thin = thin / columns;
    return coverage;
}

QString solidBandTitle()
{
    return QString(120, QChar(0x2588));  // FULL BLOCK
}

QString thinLineTitle()
{
    return QString(120, QChar(0x2501));  // BOX DRAWINGS HEAVY HORIZONTAL
}

bool showsSolidBand(const StripCoverage& coverage)
{
    return coverage.solid >= 0.9;
}

bool showsThinLine(const StripCoverage& coverage)
{
    return coverage.thin >= 0.9;
}

QString describe(const StripCoverage& coverage)
{
    return QStringLiteral("columns with white %1, solid %2, thin %3")
        .arg(coverage.anyWhite, 0, 'f', 2)
        .arg(coverage.solid, 0, 'f', 2)
        .arg(coverage.thin, 0, 'f', 2);
}

bool waitForStrip(const TickerApp& app, bool (*shows)(const StripCoverage&), Milliseconds timeout, StripCoverage* last)
{
    StripCoverage coverage;
    const bool shown = waitUntil(
        [&] {
            coverage = measureStrip(app.grabStrip());
            return shows(coverage);
        },
        timeout, 100ms);
    if (last)
        *last = coverage;
    return shown;
}

Milliseconds longestStillStrip(const TickerApp& app, Milliseconds duration, Milliseconds interval, int* shown)
{
    QElapsedTimer clock;
    clock.start();
    QImage held;
    qint64 heldSince = 0;
    qint64 longest = 0;
    int visible = 0;
    for (qint64 next = 0; clock.elapsed() < duration.count(); next += interval.count()) {
        QTest::qWait(static_cast<int>(std::max<qint64>(0, next - clock.elapsed())));
        const qint64 at = clock.elapsed();
        const QImage strip = app.grabStrip();
        const bool blank = measureStrip(strip).anyWhite == 0;
        visible += blank ? 0 : 1;
        if (blank || strip != held) {
            held = blank ? QImage() : strip;
            heldSince = at;
        }
        longest = std::max(longest, at - heldSince);
    }
    if (shown)
        *shown = visible;
    return Milliseconds(longest);
}

QByteArray rssDocument(const std::vector<std::pair<QString, QString>>& items)
{
    QString document = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
        "<title>e2e</title>\n<link>http://127.0.0.1/</link>\n<description>e2e</description>\n");
    for (const auto& [title, link] : items) {
        document += QStringLiteral("<item><title>%1</title><link>%2</link><description>%1</description></item>\n")
                        .arg(title.toHtmlEscaped(), link.toHtmlEscaped());
    }
    document += QStringLiteral("</channel>\n</rss>\n");
    return document.toUtf8();
}

QByteArray servedBytes(const QByteArray& document)
{
    QByteArray bytes = document;
    bytes.replace("\n", "\r\n");
    return bytes + "<!-- served as is -->\r\n  \t";
}

}  // namespace vantrel::e2e
