#include <QTest>

#include "feeds/story_link.h"

using namespace vantrel;

class TestStoryLink : public QObject {
    Q_OBJECT

private slots:
    void opensOnlyAbsoluteWebAddresses_data();
    void opensOnlyAbsoluteWebAddresses();
};

void TestStoryLink::opensOnlyAbsoluteWebAddresses_data()
{
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<bool>("opens");
    const std::pair<const char*, bool> links[] = {
        {"http://example.com/news/1", true},
        {"HTTPS://Example.com:8443/a?b=c#d", true},
        {"https://例え.jp/記事", true},
        {"http://user@[::1]/a", true},
        {"http://x/a b", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"\\\\host\\share\\a.html", false},
        {"C:\\x\\a.html", false},
        {"/news/1", false},
        {"news/1.html", false},
        {"//example.com/news", false},
        {"http:example.com", false},
        {"http:\\\\example.com", false},
        {"http://x\\@example.com/", false},
        {"http://", false},
        {"http:///news", false},
        {"http://user@/news", false},
        {"http://:80/", false},
        {"http://[]/", false},
        {"ftp://example.com/a", false},
        {"mailto:a@example.com", false},
        {"httpx://example.com", false},
        {"", false},
        {"http://x/\x01", false},
        {"http://x/\x7F", false},
        {"http://x/\xC2\x80", false},
        {"http://x/\xC2\xA0", true},
    };
    for (const auto& [link, opens] : links)
        QTest::newRow(link) << QByteArray(link) << opens;
    QTest::newRow("2048 bytes") << "http://x/" + QByteArray(2039, 'a') << true;
    QTest::newRow("2049 bytes") << "http://x/" + QByteArray(2040, 'a') << false;
}

void TestStoryLink::opensOnlyAbsoluteWebAddresses()
{
    QFETCH(QByteArray, link);
    QFETCH(bool, opens);
    QCOMPARE(StoryLinkRefusal(link.toStdString()).empty(), opens);
}

QTEST_GUILESS_MAIN(TestStoryLink)
#include "tst_story_link.moc"
