#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cstdint>

#include "board/board_reader.h"
#include "board/error_numbers.h"
#include "board/feed_tree.h"
#include "board_test_support.h"
#include "fakes.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

struct LoadOutcome {
    std::int32_t result = 0;
    FeedTree tree;
    CapturingErrorBox box;
};

const QByteArray kRootLine = "World,ROOT_FOLDER,r1,0\r\n";

std::string boxText(int number)
{
    constexpr std::array kAll = {errors::kFileNotFound, errors::kPathIsFolder,    errors::kPermissionDenied,
                                 errors::kReadError,    errors::kOutOfMemory,     errors::kInputPastEndOfFile,
                                 errors::kTypeMismatch, errors::kKeyNotUnique,    errors::kElementNotFound,
                                 errors::kTreeFull,     errors::kIndexOutOfBounds};
    for (const errors::ErrorInfo& error : kAll) {
        if (error.number == number)
            return "エラー番号：" + std::to_string(number) + "\r\nエラー内容：" + std::string(error.description);
    }
    return "no such error number";
}

}  // namespace

class BoardReaderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    void loadPath(const std::string& path, LoadOutcome& outcome)
    {
        outcome.result = LoadBoard(outcome.tree, path, outcome.box);
    }

    void load(const QByteArray& bytes, LoadOutcome& outcome)
    {
        const std::string path = writeBytes(m_dir.path(), "board.brd", bytes);
        QVERIFY(!path.empty());
        loadPath(path, outcome);
    }

    static void verifyOneBox(const LoadOutcome& outcome, int number)
    {
        QCOMPARE(outcome.result, -1);
        QCOMPARE(outcome.box.shown.size(), std::size_t(1));
        QCOMPARE(qs(outcome.box.shown.front().title), QStringLiteral("■エラー"));
        QCOMPARE(qs(outcome.box.shown.front().text), qs(boxText(number)));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // --- Record layout and dispatch

    void loadsExampleBoard()
    {
        LoadOutcome outcome;
        loadPath(VANTREL_TEST_DATA "/board/example.brd", outcome);
        QCOMPARE(outcome.result, 0);
        QVERIFY(outcome.box.shown.empty());
        const FeedTree& tree = outcome.tree;
        QCOMPARE(tree.Count(), 5);

        struct Expected {
            const char* key;
            const char* text;
            const char* image;
            int parent;
        };
        const Expected expected[] = {
            {"r1", "World", "CLOSE", 0},   {"http://feeds.example.org/a.rss", "Headlines", "XML", 1},
            {"f1", "Science", "CLOSE", 1}, {"http://feeds.example.org/b.rss", "Lab notes", "DOC", 3},
            {"f2", "Sports", "CLOSE", 1},
        };
        for (int position = 1; position <= 5; ++position) {
            const FeedNode& node = tree.Item(position);
            const Expected& want = expected[position - 1];
            QCOMPARE(qs(node.Key), QString(want.key));
            QCOMPARE(qs(node.Text), QString(want.text));
            QCOMPARE(qs(node.Image), QString(want.image));
            QCOMPARE(node.parent, want.parent);
            QCOMPARE(node.SelectedImage.has_value(), IsFolder(node));
            QCOMPARE(IsFolder(node), position != 2 && position != 4);
        }
        QCOMPARE(tree.Item(1).SelectedImage.value_or(""), std::string("OPEN"));
    }

    void startsEachRootAfterTheEarlierOnes()
    {
        LoadOutcome outcome;
        load(kRootLine +
                 "Sub,ADD_NEW_FOLDER,s1,0\r\nSecond,ROOT_FOLDER,r2,0\r\n"
                 "Direct,http://d,CHILD_NODE,0\r\nSub2,ADD_NEW_FOLDER,s2,\r\nUnder,http://u,CHILD_NODE,2\r\n",
             outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 6);
        QCOMPARE(outcome.tree.Item(3).parent, 0);
        QCOMPARE(outcome.tree.Item(4).parent, 3);
        QCOMPARE(qs(outcome.tree.Item(4).Image), QStringLiteral("IE"));
        QCOMPARE(outcome.tree.Item(5).parent, 3);
        QCOMPARE(outcome.tree.Item(6).parent, 5);
    }

    void dispatchesOnExactMarkersInOrder_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("image");
        QTest::newRow("root marker wins over CHILD_NODE") << QByteArray("Odd,ROOT_FOLDER,CHILD_NODE,x") << "CHILD_NODE"
                                                          << "CLOSE";
        QTest::newRow("folder marker wins over CHILD_NODE")
            << QByteArray("Odd,ADD_NEW_FOLDER,CHILD_NODE,") << "CHILD_NODE"
            << "CLOSE";
        QTest::newRow("lower-case root marker is a feed with CHILD_NODE")
            << QByteArray("Feed,root_folder,CHILD_NODE,1") << "root_folder"
            << "XML";
        QTest::newRow("lower-case root marker is skipped otherwise") << QByteArray("Feed,root_folder,r9,1") << ""
                                                                     << "";
        QTest::newRow("trailing space keeps marker from matching") << QByteArray("Feed,ROOT_FOLDER ,r9,1") << ""
                                                                   << "";
        QTest::newRow("lower-case CHILD_NODE is skipped") << QByteArray("Feed,http://a,child_node,1") << ""
                                                          << "";
        QTest::newRow("skipped record may hold anything in field 4")
            << QByteArray("Note,anything,else,not a number") << ""
            << "";
    }

    void dispatchesOnExactMarkersInOrder()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, key);
        QFETCH(QString, image);
        LoadOutcome outcome;
        load(kRootLine + record + "\r\n", outcome);
        QCOMPARE(outcome.result, 0);
        QVERIFY(outcome.box.shown.empty());
        QCOMPARE(outcome.tree.Count(), key.isEmpty() ? 1 : 2);
        if (!key.isEmpty()) {
            QCOMPARE(qs(outcome.tree.Item(2).Key), key);
            QCOMPARE(qs(outcome.tree.Item(2).Image), image);
        }
    }

    // --- Field syntax

    void readsFieldValues_data()
    {
        QTest::addColumn<QByteArray>("firstField");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray("World") << "World";
        QTest::newRow("leading spaces skipped") << QByteArray("   World") << "World";
        QTest::newRow("trailing spaces kept") << QByteArray("World  ") << "World  ";
        QTest::newRow("quoted with comma") << QByteArray("\"Tokyo, Japan\"") << "Tokyo, Japan";
        QTest::newRow("quoted after spaces") << QByteArray("  \" padded \"") << " padded ";
        QTest::newRow("text after closing quote dropped") << QByteArray("\"World\" junk") << "World";
        QTest::newRow("empty quotes") << QByteArray("\"\"") << "";
        QTest::newRow("quoted line end") << QByteArray("\"two\r\nlines\"") << "two\r\nlines";
        QTest::newRow("quote inside unquoted") << QByteArray("say \"hi\"") << "say \"hi\"";
        QTest::newRow("tab is no space") << QByteArray("\tWorld") << "\tWorld";
    }

    void readsFieldValues()
    {
        QFETCH(QByteArray, firstField);
        QFETCH(QString, text);
        LoadOutcome outcome;
        load(firstField + ",ROOT_FOLDER,r1,0\r\n", outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 1);
        QCOMPARE(qs(outcome.tree.Item(1).Text), text);
    }

    void readsQuotedUrlWithComma()
    {
        LoadOutcome outcome;
        load(kRootLine + "News,\"http://x/q?a=1,2\",CHILD_NODE,1\r\n", outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(qs(outcome.tree.Item(2).Key), QStringLiteral("http://x/q?a=1,2"));
    }

    void endsLinesWithCrLfLfOrCr_data()
    {
        QTest::addColumn<QByteArray>("board");
        QTest::newRow("CR LF") << QByteArray("World,ROOT_FOLDER,r1,0\r\nNews,http://a,CHILD_NODE,1\r\n");
        QTest::newRow("LF") << QByteArray("World,ROOT_FOLDER,r1,0\nNews,http://a,CHILD_NODE,1\n");
        QTest::newRow("CR") << QByteArray("World,ROOT_FOLDER,r1,0\rNews,http://a,CHILD_NODE,1\r");
        QTest::newRow("mixed") << QByteArray("World,ROOT_FOLDER,r1,0\rNews,http://a,CHILD_NODE,1\n");
        QTest::newRow("no final line end") << QByteArray("World,ROOT_FOLDER,r1,0\r\nNews,http://a,CHILD_NODE,1");
    }

    void endsLinesWithCrLfLfOrCr()
    {
        QFETCH(QByteArray, board);
        LoadOutcome outcome;
        load(board, outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 2);
        QCOMPARE(qs(outcome.tree.Item(2).Key), QStringLiteral("http://a"));
        QCOMPARE(qs(outcome.tree.Item(1).Key), QStringLiteral("r1"));
    }

    void countsFieldsNotLines()
    {
        LoadOutcome outcome;
        // A five-field line lends its last field to the next record; a three-field line borrows one.
        load(
            "World,ROOT_FOLDER,r1,0,Headlines\r\nhttp://a,CHILD_NODE,1\r\n"
            "Science,ADD_NEW_FOLDER,f1\r\nignored\r\nLab,http://b,CHILD_NODE\r\n3\r\n",
            outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 4);
        QCOMPARE(qs(outcome.tree.Item(2).Text), QStringLiteral("Headlines"));
        QCOMPARE(qs(outcome.tree.Item(2).Key), QStringLiteral("http://a"));
        QCOMPARE(qs(outcome.tree.Item(3).Key), QStringLiteral("f1"));
        QCOMPARE(qs(outcome.tree.Item(4).Image), QStringLiteral("DOC"));
        QCOMPARE(outcome.tree.Item(4).parent, 3);
    }

    void countsEmptyLineAsOneField()
    {
        LoadOutcome outcome;
        load("World,ROOT_FOLDER,r1\r\n\r\nNews,http://a,CHILD_NODE,2\r\n", outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 2);
        QCOMPARE(qs(outcome.tree.Item(2).Image), QStringLiteral("XML2"));
    }

    void readsEmptyFileAsNoRecords()
    {
        LoadOutcome outcome;
        load(QByteArray(), outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 0);
        QVERIFY(outcome.box.shown.empty());
    }

    void acceptsOneTrailingLineEndOrComma_data()
    {
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("line end") << QByteArray("\r\n");
        QTest::newRow("comma announces an empty last field") << QByteArray(",");
    }

    void acceptsOneTrailingLineEndOrComma()
    {
        QFETCH(QByteArray, ending);
        LoadOutcome outcome;
        load("World,ROOT_FOLDER,r1," + ending, outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 1);
        QVERIFY(outcome.box.shown.empty());
    }

    void failsOnEmptyLineAfterLastRecord()
    {
        LoadOutcome outcome;
        load(kRootLine + "News,http://a,CHILD_NODE,1\r\n\r\n", outcome);
        verifyOneBox(outcome, 201);
        QCOMPARE(outcome.tree.Count(), 2);
    }

    // --- Feed kinds

    void choosesImageFromKind_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("image");
        QTest::newRow("0") << QByteArray("0") << "IE";
        QTest::newRow("1") << QByteArray("1") << "XML";
        QTest::newRow("2") << QByteArray("2") << "XML2";
        QTest::newRow("3") << QByteArray("3") << "DOC";
        QTest::newRow("1.0") << QByteArray("1.0") << "XML";
        QTest::newRow("leading space") << QByteArray(" 1") << "XML";
        QTest::newRow("trailing space") << QByteArray("1  ") << "XML";
        QTest::newRow("exponent") << QByteArray("1e0") << "XML";
        QTest::newRow("plus sign") << QByteArray("+2") << "XML2";
        QTest::newRow("minus zero") << QByteArray("-0") << "IE";
        QTest::newRow("quoted") << QByteArray("\"3\"") << "DOC";
        QTest::newRow("1.5 names no kind") << QByteArray("1.5") << "";
        QTest::newRow("7 names no kind") << QByteArray("7") << "";
        QTest::newRow("-1 names no kind") << QByteArray("-1") << "";
    }

    void choosesImageFromKind()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, image);
        LoadOutcome outcome;
        load(kRootLine + "News,http://a,CHILD_NODE," + field + "\r\nLast,ADD_NEW_FOLDER,f1,0\r\n", outcome);
        QCOMPARE(outcome.result, 0);
        QVERIFY(outcome.box.shown.empty());
        QCOMPARE(outcome.tree.Count(), image.isEmpty() ? 2 : 3);
        if (!image.isEmpty())
            QCOMPARE(qs(outcome.tree.Item(2).Image), image);
    }

    void refusesKindThatIsNoNumber_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("spaces only") << QByteArray("   ");
        QTest::newRow("letter") << QByteArray("x");
        QTest::newRow("number then letter") << QByteArray("1x");
        QTest::newRow("two numbers") << QByteArray("1 2");
        QTest::newRow("hexadecimal") << QByteArray("0x1");
        QTest::newRow("infinity") << QByteArray("inf");
        QTest::newRow("not a number") << QByteArray("nan");
        QTest::newRow("out of range") << QByteArray("1e999");
        QTest::newRow("two signs") << QByteArray("+-1");
        QTest::newRow("full-width digit") << QByteArray("１");
        QTest::newRow("decimal comma") << QByteArray("\"1,0\"");
    }

    void refusesKindThatIsNoNumber()
    {
        QFETCH(QByteArray, field);
        LoadOutcome outcome;
        load(kRootLine + "News,http://a,CHILD_NODE," + field + "\r\nLast,ADD_NEW_FOLDER,f1,0\r\n", outcome);
        verifyOneBox(outcome, 202);
        QCOMPARE(outcome.tree.Count(), 1);
    }

    // --- Failures

    void stopsAtFirstFailureKeepingEarlierNodes_data()
    {
        QTest::addColumn<QByteArray>("board");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("kept");
        QTest::newRow("file ends inside a record") << QByteArray(kRootLine + "News,http://a") << 201 << 1;
        QTest::newRow("file ends after spaces") << QByteArray(kRootLine + "   ") << 201 << 1;
        QTest::newRow("kind is a letter")
            << QByteArray(kRootLine + "News,http://a,CHILD_NODE,x\r\n" + kRootLine) << 202 << 1;
        QTest::newRow("same URL twice")
            << QByteArray(kRootLine + "A,http://a,CHILD_NODE,1\r\nB,http://a,CHILD_NODE,2\r\nC,ADD_NEW_FOLDER,f,0")
            << 301 << 2;
        QTest::newRow("folder key equals URL")
            << QByteArray(kRootLine + "A,http://a,CHILD_NODE,1\r\nB,ADD_NEW_FOLDER,http://a,0\r\n") << 301 << 2;
        QTest::newRow("repeated root key") << QByteArray(kRootLine + kRootLine) << 301 << 1;
        QTest::newRow("feed before any root") << QByteArray("A,http://a,CHILD_NODE,1\r\n" + kRootLine) << 302 << 0;
        QTest::newRow("sub-folder before any root") << QByteArray("S,ADD_NEW_FOLDER,s1,0\r\n" + kRootLine) << 302 << 0;
        QTest::newRow("sub-folder under a keyless root")
            << QByteArray("World,ROOT_FOLDER,,0\r\nS,ADD_NEW_FOLDER,s1,0\r\n") << 302 << 1;
    }

    void stopsAtFirstFailureKeepingEarlierNodes()
    {
        QFETCH(QByteArray, board);
        QFETCH(int, number);
        QFETCH(int, kept);
        LoadOutcome outcome;
        load(board, outcome);
        verifyOneBox(outcome, number);
        QCOMPARE(outcome.tree.Count(), kept);
    }

    void showsBoxWithNumberAndDescriptionLines()
    {
        LoadOutcome outcome;
        loadPath(QDir(m_dir.path()).filePath("missing.brd").toStdString(), outcome);
        QCOMPARE(outcome.result, -1);
        QCOMPARE(outcome.box.shown.size(), std::size_t(1));
        QCOMPARE(qs(outcome.box.shown[0].title), QStringLiteral("■エラー"));
        QCOMPARE(qs(outcome.box.shown[0].text),
                 QStringLiteral("エラー番号：101\r\nエラー内容：ボードファイルが見つかりません。"));
    }

    void addsToTreeWithoutClearingIt()
    {
        LoadOutcome outcome;
        outcome.tree.Add(std::nullopt, "r1", "Already there", "CLOSE", "OPEN");
        load("Other,ROOT_FOLDER,r2,0\r\n" + kRootLine, outcome);
        verifyOneBox(outcome, 301);
        QCOMPARE(outcome.tree.Count(), 2);
    }

    void reportsFolderInPlaceOfFile()
    {
        LoadOutcome outcome;
        loadPath(m_dir.path().toStdString(), outcome);
        verifyOneBox(outcome, 102);
    }

    void reportsUnreadableFile()
    {
        const std::string path = writeBytes(m_dir.path(), "locked.brd", kRootLine);
        QFile file(QString::fromStdString(path));
        QVERIFY(file.setPermissions(QFileDevice::Permissions()));
        if (file.open(QIODevice::ReadOnly))
            QSKIP("this user reads files regardless of their permissions");
        LoadOutcome outcome;
        loadPath(path, outcome);
        verifyOneBox(outcome, 103);
        QCOMPARE(outcome.tree.Count(), 0);
    }

    void reportsABoardTooLargeForMemory()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's allocator ends the process on an impossible allocation instead of failing it");
#endif
        // Sparse: four tebibytes on paper, nothing on the disk.
        QFile file(m_dir.filePath("huge.brd"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (!file.write(kRootLine) || !file.resize(qint64(4) << 40))
            QSKIP("this file system holds no file that large");
        file.close();
        LoadOutcome outcome;
        loadPath(file.fileName().toStdString(), outcome);
        verifyOneBox(outcome, 105);
        QVERIFY(file.remove());
    }

    // --- Encoding

    void decodesJapaneseBoards_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("code page 932") << "japanese_cp932.brd";
        QTest::newRow("UTF-8 with byte-order mark") << "japanese_utf8_bom.brd";
    }

    void decodesJapaneseBoards()
    {
        QFETCH(QString, fixture);
        LoadOutcome outcome;
        loadPath(QStringLiteral(VANTREL_TEST_DATA "/board/%1").arg(fixture).toStdString(), outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 4);
        QCOMPARE(qs(outcome.tree.Item(1).Text), QStringLiteral("ニュース"));
        QCOMPARE(qs(outcome.tree.Item(2).Text), QStringLiteral("表示テスト"));
        QCOMPARE(qs(outcome.tree.Item(3).Text), QStringLiteral("経済, 市況"));
        QCOMPARE(qs(outcome.tree.Item(4).Text), QStringLiteral("ソフト情報"));
        QCOMPARE(qs(outcome.tree.Item(4).Key), QStringLiteral("http://feeds.example.jp/soft.xml"));
        QCOMPARE(outcome.tree.Item(4).parent, 3);
    }

    void decodesBoardText_data()
    {
        QTest::addColumn<QByteArray>("firstField");
        QTest::addColumn<QString>("text");
        // 表 and ソ end in the byte 0x5C in code page 932.
        QTest::newRow("cp932 second byte 0x5C") << QByteArray("\x95\x5c\x8e\xa6") << "表示";
        QTest::newRow("cp932 0x5C before closing quote") << QByteArray("\"\x83\x5c\"") << "ソ";
        QTest::newRow("cp932 invalid byte") << QByteArray(
                                                   "A\xff"
                                                   "B")
                                            << "A\uFFFDB";
        QTest::newRow("UTF-8 without mark") << QByteArray("日本語") << "日本語";
        QTest::newRow("UTF-8 mark before quote") << QByteArray("\xef\xbb\xbf\"World\"") << "World";
    }

    void decodesBoardText()
    {
        QFETCH(QByteArray, firstField);
        QFETCH(QString, text);
        LoadOutcome outcome;
        load(firstField + ",ROOT_FOLDER,r1,0\r\nNews,http://a,CHILD_NODE,1\r\n", outcome);
        QCOMPARE(outcome.result, 0);
        QCOMPARE(outcome.tree.Count(), 2);
        QCOMPARE(qs(outcome.tree.Item(1).Text), text);
    }

    // --- Size

    void loadsFullTreeAndRefusesOneNodeMore()
    {
        QByteArray board = kRootLine;
        for (int i = 2; i <= FeedTree::kMaxNodes + 1; ++i)
            board += "Feed " + QByteArray::number(i) + ",http://feeds.example.org/" + QByteArray::number(i) +
                     ".xml,CHILD_NODE,1\r\n";
        const qsizetype lastRecord = board.lastIndexOf("Feed ");

        LoadOutcome full;
        load(board.left(lastRecord), full);
        QCOMPARE(full.result, 0);
        QCOMPARE(full.tree.Count(), 32767);
        QCOMPARE(qs(full.tree.Item(32767).Text), QStringLiteral("Feed 32767"));

        LoadOutcome overfull;
        load(board, overfull);
        verifyOneBox(overfull, 303);
        QCOMPARE(overfull.tree.Count(), 32767);
    }
};

QTEST_APPLESS_MAIN(BoardReaderTest)
#include "tst_board_reader.moc"
