// The floor that fetches: the floor's window, and at a click on it a GET of URL over Qt Network that shows
// the first item's title, the least a Qt program does to fetch a feed and show it. Prints "shown" and the
// title once it is on the label. The ticker's memory before and after its first fetch is measured against it.
//
//   vantrel_floor_fetch [--top=PIXELS] URL

#include <cstdio>
#include <memory>

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QXmlStreamReader>

#include "floor_window.h"

namespace {

QString firstItemTitle(const QByteArray& feed)
{
    QXmlStreamReader reader(feed);
    bool inItem = false;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("item"))
            inItem = true;
        else if (inItem && reader.name() == QLatin1String("title"))
            return reader.readElementText();
    }
    return {};
}

class FetchingFloor : public vantrel::bench::FloorWindow {
public:
    FetchingFloor(int top, QUrl feed) : FloorWindow(QStringLiteral("Vantrel is ready..."), top), m_feed(std::move(feed))
    {
    }

protected:
    void mouseReleaseEvent(QMouseEvent* /*event*/) override
    {
        // Made at the first fetch, as the ticker makes its own.
        if (!m_manager)
            m_manager = std::make_unique<QNetworkAccessManager>();
        QNetworkReply* reply = m_manager->get(QNetworkRequest(m_feed));
        QObject::connect(reply, &QNetworkReply::finished, this, [this, reply] {
            reply->deleteLater();
            const QString title = firstItemTitle(reply->readAll());
            if (title.isEmpty()) {
                std::fprintf(stderr, "no item title from %s: %s\n", qPrintable(m_feed.toString()),
                             qPrintable(reply->errorString()));
                return;
            }
            setHeadline(title);
            std::printf("shown %s\n", qPrintable(title));
            std::fflush(stdout);
        });
    }

private:
    QUrl m_feed;
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int top = 0;
    QUrl feed;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (argument.startsWith(QStringLiteral("--top=")))
            top = argument.mid(6).toInt();
        else
            feed = QUrl(argument);
    }
    if (!feed.isValid() || feed.isRelative()) {
        std::fprintf(stderr, "usage: vantrel_floor_fetch [--top=PIXELS] URL (an http:// address of a feed)\n");
        return 2;
    }
    FetchingFloor window(top, feed);
    window.start();
    window.show();
    return QApplication::exec();
}
