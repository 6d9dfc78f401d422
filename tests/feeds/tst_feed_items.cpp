#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <string>

#include "fakes.h"
#include "feeds/feed_items.h"
#include "feeds/news_list.h"
#include "platform/xml_document.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

const QString kFeeds = QStringLiteral(VANTREL_TEST_DATA "/feeds/");
constexpr qint64 kHostileTimeLimitMs = 20000;
constexpr int kMiB = 1 << 20;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QStringList column(const NewsList& list, int index)
{
    QStringList values;
    for (std::int32_t row = 1; row <= list.Count(); ++row)
        values << q(list.Item(row).columns[static_cast<std::size_t>(index)]);
    return values;
}

QStringList cells(const NewsItem& row)
{
    QStringList values;
    for (const std::string& cell : row.columns)
        values << q(cell);
    return values;
}

QByteArray channel(const QByteArray& content)
{
    return "<rss version=\"2.0\"><channel>" + content + "</channel></rss>";
}

QByteArray item(const QByteArray& title, const QByteArray& link = "http://x/")
{
    return "<item><title>" + title + "</title><link>" + link + "</link></item>";
}

// Declares &big;, 100 000 characters long.
QByteArray bigEntityDeclaration()
{
    return "<!DOCTYPE rss [<!ENTITY big \"" + QByteArray(100000, 'A') + "\">]>";
}

QByteArray entityBomb(bool inAttribute)
{
    QByteArray document = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        const QByteArray reference = "&lol" + QByteArray::number(level - 1) + ";";
        document += "<!ENTITY lol" + QByteArray::number(level) + " \"" + reference.repeated(10) + "\">\n";
    }
    return document + "]>\n" +
           (inAttribute ? channel("<item a=\"&lol9;\"><title>t</title><link>l</link></item>")
                        : channel(item("&lol9;")));
}

}  // namespace

class FeedItemsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    NewsList m_list;
    FixedClock m_clock;
    ScriptedEventPump m_events;
    std::string m_label;

    std::string write(const QByteArray& bytes, const QString& name = QStringLiteral("ニュース速報.xml"))
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName().toStdString();
    }

    std::int32_t parse(const std::string& path) { return ParseFeedItems(path, m_list, m_label, m_events, m_clock); }
    std::int32_t parseBytes(const QByteArray& bytes) { return parse(write(bytes)); }

    void addEarlierRows()
    {
        m_list.Add("1").SubItem(NewsItem::Title) = "earlier one";
        m_list.Add("2").SubItem(NewsItem::Title) = "earlier two";
    }

private slots:
    void init()
    {
        m_list.Clear();
        m_events.passes = 0;
        m_events.onPass = nullptr;
        m_label = "[Example]";
    }

    void takesTitledLinkedItemsTwoLevelsBelowTheRoot_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("rss 2.0, item without link skipped")
            << "rss20.xml" << QStringList{"Harbour bridge reopens", "Rain expected tomorrow"}
            << QStringList{"https://example.com/news/1", "https://example.com/news/3"};
        QTest::newRow("rss 0.91, external DTD not fetched, its HTML entities known")
            << "rss091.xml" << QStringList{"First 0.91 story", "Second 0.91 story", "Café\u00a0news"}
            << QStringList{"http://example.org/1", "http://example.org/2", "http://example.org/3"};
        QTest::newRow("rss 0.92") << "rss092.xml" << QStringList{"Concert tonight"}
                                  << QStringList{"http://example.net/concert"};
        QTest::newRow("rss 1.0 items sit one level too high") << "rss10.xml" << QStringList() << QStringList();
        QTest::newRow("atom") << "atom.xml" << QStringList() << QStringList();
        QTest::newRow("empty link, two titles, nested title, letter case")
            << "item_shapes.xml" << QStringList{"Second title", "Kept"}
            << QStringList{"http://x/two-titles", "http://x/kept"};
        QTest::newRow("rows numbered across two parents") << "two_channels.xml" << QStringList{"One", "Two", "Three"}
                                                          << QStringList{"http://x/1", "http://x/2", "http://x/3"};
        QTest::newRow("shift_jis decoded as code page 932")
            << "shift_jis.xml" << QStringList{"①番 ㈱ヴァントレル 発表"} << QStringList{"http://x/1"};
        QTest::newRow("euc-jp") << "euc_jp.xml" << QStringList{"日本語の見出し"} << QStringList{"http://x/1"};
        QTest::newRow("utf-16 with byte-order mark")
            << "utf16_bom.xml" << QStringList{"①㈱ 見出し"} << QStringList{"http://x/1"};
        QTest::newRow("iso-8859-1") << "iso8859_1.xml" << QStringList{"Café Ångström ½"} << QStringList{"http://x/1"};
        QTest::newRow("iso-8859-1 holding windows-1252 punctuation")
            << "iso8859_1_windows1252.xml" << QStringList{"“It’s” – café \u0081"} << QStringList{"http://x/1"};
        QTest::newRow("windows-1252") << "windows1252.xml" << QStringList{"€ “Café” – naïve"}
                                      << QStringList{"http://x/1"};
        QTest::newRow("koi8-r") << "koi8_r.xml" << QStringList{"Новости дня"} << QStringList{"http://x/1"};
        QTest::newRow("gb2312") << "gb2312.xml" << QStringList{"中文新闻标题"} << QStringList{"http://x/1"};
        QTest::newRow("byte-order mark beats a stale declaration")
            << "utf8_bom_stale_declaration.xml" << QStringList{"①㈱ 見出し"} << QStringList{"http://x/1"};
        QTest::newRow("markup kept as literal text")
            << "markup_in_titles.xml"
            << QStringList{"<b>x</b>",     "<b>x</b>",    "① ㈱ & café", "Half and <half>", "News from ACME & Sons",
                           "With comment", "Example news"}
            << QStringList{"http://x/cdata",  "http://x/escaped", "http://x/references",     "http://x/mixed",
                           "http://x/entity", "http://x/comment", "http://x/attribute-first"};
    }

    void takesTitledLinkedItemsTwoLevelsBelowTheRoot()
    {
        QFETCH(QString, fixture);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, links);
        addEarlierRows();
        QCOMPARE(parse((kFeeds + fixture).toStdString()), 0);
        QCOMPARE(column(m_list, NewsItem::Title), titles);
        QCOMPARE(column(m_list, NewsItem::Link), links);
        QStringList numbers;
        for (int row = 1; row <= titles.size(); ++row)
            numbers << QString::number(row);
        QCOMPARE(column(m_list, NewsItem::Number), numbers);
        QCOMPARE(m_events.passes, 1);
    }

    void decodesCharactersCutByTheReadChunks()
    {
        // The parser decodes in chunks that end wherever the bytes do, inside a two-byte character too.
        QFile fixture(kFeeds + QStringLiteral("shift_jis.xml"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QByteArray bytes = fixture.readAll();
        const qsizetype begin = bytes.indexOf("<title>") + 7;
        const QByteArray title = bytes.mid(begin, bytes.indexOf("</title>") - begin);
        QByteArray items;
        QStringList titles;
        for (int number = 0; number < 3000; ++number) {
            items += item(title + QByteArray::number(number));
            titles << QStringLiteral("①番 ㈱ヴァントレル 発表") + QString::number(number);
        }
        QCOMPARE(parse(write("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>" + channel(items))), 0);
        QCOMPARE(column(m_list, NewsItem::Title), titles);
    }

    void writesEveryColumnInOrder()
    {
        QCOMPARE(parse((kFeeds + "rss20.xml").toStdString()), 0);
        QCOMPARE(m_list.Count(), 2);
        QCOMPARE(cells(m_list.Item(1)), (QStringList{"1", "Harbour bridge reopens", "[Example]", "2026/12/07 12:34:56",
                                                     "https://example.com/news/1", "Traffic flows again after repairs.",
                                                     "desk@example.com (City desk)", "2026-12-07 09:00"}));
        // pubDate and dc:date are not "date".
        QCOMPARE(cells(m_list.Item(2)), (QStringList{"2", "Rain expected tomorrow", "[Example]", "2026/12/07 12:34:56",
                                                     "https://example.com/news/3", "", "", ""}));
    }

    void takesCreatorFromAuthorElseDcCreator_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QString>("creator");
        const QByteArray dc = "<dc:creator xmlns:dc=\"http://purl.org/dc/elements/1.1/\">";
        QTest::newRow("author") << QByteArray("<author>A</author>") << "A";
        QTest::newRow("dc:creator") << dc + "D</dc:creator>"
                                    << "D";
        QTest::newRow("dc:creator, undeclared prefix") << QByteArray("<dc:creator>D</dc:creator>") << "D";
        QTest::newRow("author wins wherever it stands") << dc + "D</dc:creator><author>A</author>"
                                                        << "A";
        QTest::newRow("last author") << QByteArray("<author>A1</author><author>A2</author>") << "A2";
        QTest::newRow("last dc:creator") << dc + "D1</dc:creator>" + dc + "D2</dc:creator>"
                                         << "D2";
        QTest::newRow("empty author still wins") << "<author/>" + dc + "D</dc:creator>"
                                                 << "";
        QTest::newRow("other prefix") << QByteArray(
                                             "<d:creator xmlns:d=\"http://purl.org/dc/elements/1.1/\">D</d:creator>")
                                      << "";
        QTest::newRow("letter case") << QByteArray("<Author>A</Author>") << "";
    }

    void takesCreatorFromAuthorElseDcCreator()
    {
        QFETCH(QByteArray, fields);
        QFETCH(QString, creator);
        QCOMPARE(parseBytes(channel("<item><title>t</title><link>l</link>" + fields + "</item>")), 0);
        QCOMPARE(column(m_list, NewsItem::Creator), QStringList{creator});
    }

    void foldsWhiteSpaceIntoOneLine_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("surrounding") << QByteArray("  Headline \n") << QStringList{"Headline"};
        QTest::newRow("inner runs and line breaks") << QByteArray("Two\r\n\t  lines") << QStringList{"Two lines"};
        QTest::newRow("references to white space") << QByteArray("a&#10;&#9;&#13;b") << QStringList{"a b"};
        QTest::newRow("across child elements")
            << QByteArray("<b>Bold</b>\n<i>italic</i>") << QStringList{"Bold italic"};
        QTest::newRow("ideographic and no-break spaces kept")
            << QByteArray("速報　見出し a&#160;b") << QStringList{"速報　見出し a\u00a0b"};
        QTest::newRow("Unicode line and paragraph breaks")
            << QByteArray("\u2028line one\u2028line two&#x2029;three&#x85;four\u2029")
            << QStringList{"line one line two three four"};
        QTest::newRow("white space only gives no row") << QByteArray(" \r\n\t ") << QStringList();
    }

    void foldsWhiteSpaceIntoOneLine()
    {
        QFETCH(QByteArray, title);
        QFETCH(QStringList, titles);
        QCOMPARE(parseBytes(channel("<item><title>" + title + "</title><link>\n  http://x/ \n</link>" +
                                    "<description>\n  line one\n  line two\n</description>" +
                                    "<author> A  B </author><date>\n2026-12-07\n</date></item>")),
                 0);
        QCOMPARE(column(m_list, NewsItem::Title), titles);
        if (titles.isEmpty())
            return;
        const auto& columns = m_list.Item(1).columns;
        QCOMPARE(q(columns[NewsItem::Link]), "http://x/");
        QCOMPARE(q(columns[NewsItem::Description]), "line one line two");
        QCOMPARE(q(columns[NewsItem::Creator]), "A B");
        QCOMPARE(q(columns[NewsItem::CreatedAt]), "2026-12-07");
    }

    void keepsEarlierRowsWhenTheFileDoesNotLoad_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("missing file") << "" << QByteArray();
        QTest::newRow("a folder") << "" << QByteArray("folder");
        QTest::newRow("malformed") << "malformed.xml" << QByteArray();
        QTest::newRow("unknown encoding") << "unknown_encoding.xml" << QByteArray();
        QTest::newRow("empty file") << "" << QByteArray("");
        QTest::newRow("bytes invalid in shift_jis")
            << ""
            << "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>" + channel(item("a\x81\x7f"));
        QTest::newRow("undeclared entity") << "" << channel(item("&nbsp;"));
        QTest::newRow("billion laughs") << "" << entityBomb(false);
        QTest::newRow("billion laughs in an attribute") << "" << entityBomb(true);
        // Past the expansion budget the document fails whole, rather than losing its titles silently.
        QTest::newRow("a title referencing a large entity 100000 times")
            << "" << bigEntityDeclaration() + channel(item(QByteArray("&big;").repeated(100000)));
        QTest::newRow("20000 items referencing a large entity once each")
            << "" << bigEntityDeclaration() + channel(item("&big;").repeated(20000));
        QByteArray names, attributes, namespaces;
        for (int number = 0; number < 1000000; ++number) {
            const QByteArray hex = QByteArray::number(number, 16);
            names += "<n" + hex + "/>";
            attributes += " a" + hex + "=''";
            namespaces += " xmlns:p" + hex + "='u'";
        }
        QTest::newRow("a million distinct names") << ""
                                                  << "<rss>" + names + "</rss>";
        QTest::newRow("a million attributes on one element") << ""
                                                             << "<rss" + attributes + "/>";
        QTest::newRow("a million namespace declarations") << ""
                                                          << "<rss" + namespaces + "/>";
        QTest::newRow("100000 nested elements")
            << "" << QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000);
    }

    void keepsEarlierRowsWhenTheFileDoesNotLoad()
    {
        QFETCH(QString, fixture);
        QFETCH(QByteArray, bytes);
        addEarlierRows();
        std::string path = m_dir.filePath("absent.xml").toStdString();
        if (!fixture.isEmpty())
            path = (kFeeds + fixture).toStdString();
        else if (bytes == "folder")
            path = m_dir.path().toStdString();
        else if (!bytes.isNull())
            path = write(bytes);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(parse(path), 0);
        QVERIFY(timer.elapsed() < kHostileTimeLimitMs);
        QCOMPARE(column(m_list, NewsItem::Title), (QStringList{"earlier one", "earlier two"}));
        QCOMPARE(m_events.passes, 0);
    }

    void emptiesTheListAndRunsEventsOnlyWhenTheRootHasChildren_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("passes");
        QTest::newRow("root without children") << "root_without_children.xml" << QByteArray() << 0;
        QTest::newRow("root holding a comment only") << "" << QByteArray("<rss><!-- none --></rss>") << 1;
    }

    void emptiesTheListAndRunsEventsOnlyWhenTheRootHasChildren()
    {
        QFETCH(QString, fixture);
        QFETCH(QByteArray, bytes);
        QFETCH(int, passes);
        addEarlierRows();
        QCOMPARE(parse(fixture.isEmpty() ? write(bytes) : (kFeeds + fixture).toStdString()), 0);
        QCOMPARE(m_list.Count(), 0);
        QCOMPARE(m_events.passes, passes);
    }

    void runsPendingEventsOnceOnTheClearedList()
    {
        addEarlierRows();
        int countSeen = -1;
        m_events.onPass = [&] {
            countSeen = m_list.Count();
            m_label = "[Changed meanwhile]";
        };
        QCOMPARE(parse((kFeeds + "two_channels.xml").toStdString()), 0);
        QCOMPARE(m_events.passes, 1);
        QCOMPARE(countSeen, 0);
        // The label is read afresh after the pass, as every step reads shared state.
        QCOMPARE(column(m_list, NewsItem::Source), QStringList(3, "[Changed meanwhile]"));
    }

    void stopsBeforeThe32768thRow()
    {
        QByteArray items;
        for (int number = 1; number <= 32768; ++number)
            items += item("t" + QByteArray::number(number));
        QCOMPARE(parseBytes(channel(items)), -1);
        QCOMPARE(m_list.Count(), 32767);
        QCOMPARE(q(m_list.Item(32767).Text()), "32767");
        QCOMPARE(q(m_list.Item(32767).columns[NewsItem::Title]), "t32767");
    }

    void endsTheWalkPastChildIndex32767_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("result");
        const QByteArray filler = QByteArray("<x/>").repeated(32766);
        const auto part = [](const QByteArray& title) { return "<channel>" + item(title) + "</channel>"; };
        QTest::newRow("root, the 32768th child still walked")
            << "<rss>" + part("A") + filler + part("B") + part("C") + "</rss>" << QStringList{"A", "B"} << -1;
        QTest::newRow("root with 32767 children") << "<rss>" + part("A") + filler + "</rss>" << QStringList{"A"} << 0;
        QTest::newRow("channel") << channel(item("A") + filler + item("B") + item("C")) << QStringList{"A", "B"} << -1;
        QTest::newRow("item, its row not added")
            << channel(item("A") + "<item><title>B</title><link>l</link>" + filler + "</item>" + item("C"))
            << QStringList{"A"} << -1;
        QTest::newRow("element that is not walked")
            << channel("<other>" + QByteArray("<x/>").repeated(40000) + "</other>" + item("A")) << QStringList{"A"}
            << 0;
    }

    void endsTheWalkPastChildIndex32767()
    {
        QFETCH(QByteArray, document);
        QFETCH(QStringList, titles);
        QFETCH(int, result);
        QCOMPARE(parseBytes(document), result);
        QCOMPARE(column(m_list, NewsItem::Title), titles);
    }

    void expandsEntitiesWithinTheBudgetWhole()
    {
        // 80 references of 100 000 characters: just under the budget.
        QCOMPARE(parseBytes(bigEntityDeclaration() + channel(item("&big;").repeated(80))), 0);
        QCOMPARE(m_list.Count(), 80);
        for (const QString& title : column(m_list, NewsItem::Title))
            QCOMPARE(title, QString(100000, 'A'));
    }

    void handles32MiBDocuments_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("result");
        QTest::newRow("16000 large items") << "items" << 16000 << 0;
        QTest::newRow("one 32 MiB title") << "title" << 1 << 0;
        QTest::newRow("8 million empty elements") << "flat" << 0 << -1;
    }

    void handles32MiBDocuments()
    {
        QFETCH(QString, shape);
        QFETCH(int, rows);
        QFETCH(int, result);
        QByteArray document;
        if (shape == "items") {
            const QByteArray description = "<description>" + QByteArray(2048, 'd') + "</description>";
            for (int number = 1; number <= rows; ++number)
                document += "<item><title>t" + QByteArray::number(number) + "</title><link>l</link>" + description +
                            "</item>\n";
            document = channel(document);
        } else if (shape == "title") {
            document = channel(item(QByteArray(32 * kMiB, 't')));
        } else {
            document = "<rss>" + QByteArray("<x/>").repeated(8 * kMiB) + "</rss>";
        }
        QVERIFY(document.size() >= 32 * kMiB);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(parseBytes(document), result);
        QVERIFY(timer.elapsed() < kHostileTimeLimitMs);
        QCOMPARE(m_list.Count(), rows);
        if (shape == "items")
            QCOMPARE(q(m_list.Item(rows).columns[NewsItem::Title]), "t" + QString::number(rows));
    }

    void documentNamesNodesOfEveryKind()
    {
        XmlDocument document;
        QVERIFY(
            document.load(write("<!DOCTYPE r [<!ENTITY e \"E\">]><r xmlns:a=\"urn:a\"><a:x/>text<![CDATA[c]]>"
                                "<!--m--><?p d?>&e;<b:y>z</b:y></r>")));
        QStringList names;
        XmlNode reference;
        for (XmlNode child = document.documentElement().firstChild(); !child.isNull(); child = child.nextSibling()) {
            names << q(child.nodeName());
            if (child.nodeName() == "#entity-reference")
                reference = child;
        }
        QCOMPARE(names, (QStringList{"a:x", "#text", "#cdata-section", "#comment", "#processing-instruction",
                                     "#entity-reference", "b:y"}));
        QCOMPARE(q(document.documentElement().text()), "textcEz");
        QVERIFY(reference.firstChild().isNull());
        QVERIFY(!document.load(m_dir.filePath("absent.xml").toStdString()));
        QVERIFY(document.documentElement().firstChild().isNull());
    }

    void readsNothingBesideTheDocument()
    {
        write("SECRET", "secret.txt");
        write("<!ENTITY dtdSecret \"SECRET\">", "defs.dtd");
        QCOMPARE(parseBytes("<!DOCTYPE rss SYSTEM \"defs.dtd\" [<!ENTITY file SYSTEM \"secret.txt\">]>" +
                            channel(item("a&file;b&dtdSecret;c"))),
                 0);
        QCOMPARE(column(m_list, NewsItem::Title), QStringList{"abc"});
    }
};

QTEST_GUILESS_MAIN(FeedItemsTest)
#include "tst_feed_items.moc"
