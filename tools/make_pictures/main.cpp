// Writes the ticker's pictures into a checkout: vantrel_make_pictures <repo root>
#include <cstdio>

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QSaveFile>

#include "pictures.h"

namespace {

using vantrel::pictures::ButtonRole;

constexpr int kJpegQuality = 95;

QByteArray encode(const QImage& image, const QByteArray& format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (format == "jpeg") {
        writer.setQuality(kJpegQuality);
        writer.setOptimizedWrite(false);
        writer.setProgressiveScanWrite(false);
    }
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot encode %s: %s\n", format.constData(), qPrintable(writer.errorString()));
        return {};
    }
    return bytes;
}

// Leaves a file whose bytes are already right untouched, so a rerun changes no timestamps.
bool store(const QString& path, const QImage& image)
{
    const QByteArray format = path.endsWith(QLatin1String(".png"))   ? QByteArray("png")
                              : path.endsWith(QLatin1String(".ico")) ? QByteArray("ico")
                                                                     : QByteArray("jpeg");
    const QByteArray bytes = encode(image, format);
    if (bytes.isEmpty())
        return false;

    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
        std::printf("unchanged %s\n", qPrintable(QDir::toNativeSeparators(path)));
        return true;
    }
    existing.close();

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    std::printf("wrote     %s\n", qPrintable(QDir::toNativeSeparators(path)));
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    // No GUI application: the pictures are drawn with paths only, so no platform plugin or font is involved.
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <repository root>\n", argv[0]);
        return 2;
    }

    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.exists(QStringLiteral("src/app")) || !root.exists(QStringLiteral("data/pic/std"))) {
        std::fprintf(stderr, "%s does not look like the repository root\n", argv[1]);
        return 2;
    }
    const QString buttons = root.filePath(QStringLiteral("data/pic/std"));
    const QString resources = root.filePath(QStringLiteral("src/app/resources"));
    if (!QDir().mkpath(resources)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(resources));
        return 1;
    }

    bool ok = true;
    // Each picture at 96 dpi under its own name, and drawn anew at twice the resolution beside it as name@2x.
    for (const int scale : {1, 2}) {
        const QString at = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
        const auto path = [&](const QString& folder, const char* stem, const char* extension) {
            return folder + QLatin1Char('/') + QLatin1String(stem) + at + QLatin1String(extension);
        };
        const QImage normal = vantrel::pictures::buttonPicture(ButtonRole::Normal, scale);
        ok &= store(path(buttons, "normal", ".jpg"), normal);
        ok &= store(path(buttons, "push", ".jpg"), vantrel::pictures::buttonPicture(ButtonRole::Push, scale));
        ok &= store(path(buttons, "next", ".jpg"), vantrel::pictures::buttonPicture(ButtonRole::Next, scale));
        ok &= store(path(buttons, "load", ".jpg"), vantrel::pictures::buttonPicture(ButtonRole::Load, scale));

        // PNG, which Qt decodes itself: the compiled-in pictures load no image plugin at start.
        ok &= store(path(resources, "background", ".png"), vantrel::pictures::backgroundPicture(scale));
        ok &= store(path(resources, "strip", ".png"), vantrel::pictures::stripPicture(scale));
        ok &= store(path(resources, "button", ".png"), normal);
        ok &= store(path(resources, "icon", ".png"), vantrel::pictures::iconPicture(scale));
        for (const auto& [key, image] : vantrel::pictures::imageListPictures(scale))
            ok &= store(resources + QStringLiteral("/imlst_") + key + at + QStringLiteral(".png"), image);
    }
    // The program file's icon on Windows (src/app/vantrel.rc).
    ok &= store(resources + QStringLiteral("/vantrel.ico"), vantrel::pictures::iconPicture());

    return ok ? 0 : 1;
}
