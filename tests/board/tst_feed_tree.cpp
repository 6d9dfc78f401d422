#include <QTest>

#include "board/error_numbers.h"
#include "board/feed_tree.h"

using namespace vantrel;

namespace {

// Runs the call and returns the number of the ToolkitError it throws, or 0.
template <typename Call>
int errorNumberOf(Call call)
{
    try {
        call();
    } catch (const ToolkitError& error) {
        return error.number();
    }
    return 0;
}

}  // namespace

class FeedTreeTest : public QObject {
    Q_OBJECT

private slots:
    void emptyTreeHasNoItems()
    {
        const FeedTree tree;
        QCOMPARE(tree.Count(), 0);
        QCOMPARE(errorNumberOf([&] { tree.Item(1); }), errors::kIndexOutOfBounds.number);
    }

    void numbersNodesInOrderOfAdditionWhateverTheirLevel()
    {
        FeedTree tree;
        tree.Add(std::nullopt, "R", "Root", "CLOSE", "OPEN");
        tree.Add("R", "A", "Folder A", "CLOSE", "OPEN");
        tree.Add("A", "a1", "Feed a1", "XML");
        tree.Add("R", "B", "Folder B", "CLOSE", "OPEN");
        tree.Add("B", "b1", "Feed b1", "DOC");

        QCOMPARE(tree.Count(), 5);
        const char* keys[] = {"R", "A", "a1", "B", "b1"};
        const int parents[] = {0, 1, 2, 1, 4};
        const bool folders[] = {true, true, false, true, false};
        for (int position = 1; position <= 5; ++position) {
            const FeedNode& node = tree.Item(position);
            QCOMPARE(node.position, position);
            QCOMPARE(node.Key, std::string(keys[position - 1]));
            QCOMPARE(node.parent, parents[position - 1]);
            QCOMPARE(IsFolder(node), folders[position - 1]);
        }
        QCOMPARE(tree.Item(1).SelectedImage, std::optional<std::string>("OPEN"));
        QVERIFY(!tree.Item(3).SelectedImage.has_value());
        QCOMPARE(tree.Item(3).Text, std::string("Feed a1"));
    }

    void folderTestComparesImageExactly_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("folder");
        QTest::newRow("CLOSE") << "CLOSE" << true;
        QTest::newRow("OPEN") << "OPEN" << true;
        QTest::newRow("lower case") << "close" << false;
        QTest::newRow("trailing space") << "CLOSE " << false;
        QTest::newRow("feed icon") << "XML" << false;
        QTest::newRow("empty") << "" << false;
    }

    void folderTestComparesImageExactly()
    {
        QFETCH(QString, image);
        QFETCH(bool, folder);
        FeedNode node;
        node.Image = image.toStdString();
        QCOMPARE(IsFolder(node), folder);
    }

    void refusesKeyUsedByAnyKindOfNode_data()
    {
        QTest::addColumn<QString>("firstImage");
        QTest::addColumn<QString>("secondImage");
        QTest::newRow("folder then folder") << "CLOSE"
                                            << "CLOSE";
        QTest::newRow("feed then feed") << "XML"
                                        << "IE";
        QTest::newRow("folder then feed") << "CLOSE"
                                          << "DOC";
        QTest::newRow("feed then folder") << "XML2"
                                          << "CLOSE";
    }

    void refusesKeyUsedByAnyKindOfNode()
    {
        QFETCH(QString, firstImage);
        QFETCH(QString, secondImage);
        FeedTree tree;
        tree.Add(std::nullopt, "root", "Root", "CLOSE", "OPEN");
        tree.Add("root", "http://a/", "First", firstImage.toStdString());

        const int number = errorNumberOf([&] { tree.Add("root", "http://a/", "Second", secondImage.toStdString()); });
        QCOMPARE(number, errors::kKeyNotUnique.number);
        QCOMPARE(tree.Count(), 2);
        QCOMPARE(tree.Item(2).Text, std::string("First"));
        // The refused node must not have taken over the key either.
        tree.Add("http://a/", "child", "Child", "XML");
        QCOMPARE(tree.Item(3).parent, 2);
    }

    void refusesParentKeyThatNamesNoNode_data()
    {
        QTest::addColumn<QString>("parentKey");
        QTest::newRow("empty") << "";
        QTest::newRow("unknown") << "nowhere";
        QTest::newRow("differs in case") << "ROOT";
    }

    void refusesParentKeyThatNamesNoNode()
    {
        QFETCH(QString, parentKey);
        FeedTree tree;
        tree.Add(std::nullopt, "root", "Root", "CLOSE", "OPEN");

        const int number = errorNumberOf([&] { tree.Add(parentKey.toStdString(), "k", "Text", "XML"); });
        QCOMPARE(number, errors::kElementNotFound.number);
        QCOMPARE(tree.Count(), 1);
        tree.Add(std::nullopt, "k", "Key still free", "CLOSE");
        QCOMPARE(tree.Count(), 2);
    }

    void emptyKeyNamesNoNode()
    {
        FeedTree tree;
        tree.Add(std::nullopt, "", "First", "CLOSE", "OPEN");
        tree.Add(std::nullopt, "", "Second", "CLOSE", "OPEN");
        QCOMPARE(tree.Count(), 2);
        QCOMPARE(errorNumberOf([&] { tree.Add(std::string(), "x", "Child", "XML"); }), errors::kElementNotFound.number);
    }

    void refusesPositionsOutsideOneToCount_data()
    {
        QTest::addColumn<int>("position");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -1;
        QTest::newRow("past the end") << 3;
    }

    void refusesPositionsOutsideOneToCount()
    {
        QFETCH(int, position);
        FeedTree tree;
        tree.Add(std::nullopt, "a", "A", "CLOSE");
        tree.Add("a", "b", "B", "XML");
        QCOMPARE(errorNumberOf([&] { tree.Item(position); }), errors::kIndexOutOfBounds.number);
    }

    void copiesAndMovesKeepKeysUsable()
    {
        FeedTree copied;
        FeedTree moved;
        {
            FeedTree original;
            original.Add(std::nullopt, "r", "Short key", "CLOSE", "OPEN");
            original.Add(std::nullopt, "http://feeds.example.org/a-key-too-long-for-small-strings", "Long", "CLOSE");
            copied = original;
            moved = std::move(original);
        }
        for (FeedTree* tree : {&copied, &moved}) {
            QCOMPARE(tree->Add("r", "child", "Child", "XML").parent, 1);
            QCOMPARE(tree->Add("http://feeds.example.org/a-key-too-long-for-small-strings", "x", "X", "XML").parent, 2);
            QCOMPARE(errorNumberOf([&] { tree->Add(std::nullopt, "r", "Again", "CLOSE"); }),
                     errors::kKeyNotUnique.number);
            QCOMPARE(tree->Count(), 4);
        }
    }

    void holdsAtMost32767Nodes()
    {
        FeedTree tree;
        const FeedNode& first = tree.Add(std::nullopt, "root", "Root", "CLOSE", "OPEN");
        for (int i = 2; i <= FeedTree::kMaxNodes; ++i)
            tree.Add("root", "http://feed/" + std::to_string(i), "Feed", "XML");
        QCOMPARE(tree.Count(), 32767);
        QCOMPARE(tree.Item(32767).Key, std::string("http://feed/32767"));
        QCOMPARE(first.Key, std::string("root"));

        QCOMPARE(errorNumberOf([&] { tree.Add("root", "one more", "Feed", "XML"); }), errors::kTreeFull.number);
        QCOMPARE(errorNumberOf([&] { tree.Add(std::nullopt, "", "Keyless", "CLOSE"); }), errors::kTreeFull.number);
        QCOMPARE(tree.Count(), 32767);
    }
};

QTEST_APPLESS_MAIN(FeedTreeTest)
#include "tst_feed_tree.moc"
