#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

#include "app/form1.h"
#include "fake_transfer.h"
#include "fakes.h"

namespace vantrel::test {

// A data folder of its own with the bundled button pictures, and a window on it.
struct FormRig {
    QTemporaryDir dir;
    FakeTransfer transfer;
    CapturingErrorBox errorBox;
    FixedClock clock;
    std::unique_ptr<Form1> form;

    FormRig()
    {
        namespace fs = std::filesystem;
        const fs::path root(dir.path().toStdString());
        fs::create_directories(root / "data" / "brd");
        fs::create_directories(root / "data" / "log");
        fs::create_directories(root / "data" / "pic");
        fs::copy(fs::path(VANTREL_SOURCE_DIR) / "data" / "pic", root / "data" / "pic", fs::copy_options::recursive);
        form = std::make_unique<Form1>(appDir(), transfer, errorBox, clock);
    }
    std::string appDir() const { return dir.path().toStdString(); }
    QString picture(const char* name) const { return dir.path() + "/data/pic/std/" + name; }
};

// Lets window events run for a while, as a fetch waiting on the network does.
inline void runEventsFor(int milliseconds, const std::function<bool()>& stop = {})
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() >= milliseconds || (stop && stop()))
            loop.quit();
    });
    poll.start(5);
    loop.exec();
}

}  // namespace vantrel::test
