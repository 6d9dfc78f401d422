#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "board/data_folder.h"
#include "board/data_paths.h"
#include "board/feed_tree.h"
#include "board/startup.h"
#include "board_test_support.h"
#include "fakes.h"
#include "platform/atomic_file.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

QStringList toQStringList(const std::vector<std::string>& names)
{
    QStringList result;
    for (const std::string& name : names)
        result << qs(name);
    return result;
}

QByteArray rootRecord(const QByteArray& name)
{
    return name + ",ROOT_FOLDER," + name + ",0\r\n";
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList kPictures{"load.jpg", "next.jpg", "normal.jpg", "push.jpg"};

// What stands in the way of the user's data folder.
enum class Obstacle { FileForHome, FileForData, DanglingLinkForData, NoUserFolder };

bool setAge(const QString& path, std::chrono::seconds age)
{
    std::error_code error;
    std::filesystem::last_write_time(path.toStdString(), std::filesystem::file_time_type::clock::now() - age, error);
    return !error;
}

}  // namespace

class BoardStartupTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_appDir;

    QString boardFolder() const { return QDir(m_appDir->path()).filePath("data/brd"); }

    void addBoard(const QString& name, const QByteArray& bytes)
    {
        QVERIFY(!writeBytes(boardFolder(), name, bytes).empty());
    }

    // An installed program: no data/ beside the executable, the defaults under share/vantrel, and a user
    // folder that does not exist yet.
    struct Installed {
        QTemporaryDir root;
        QString defaults() const { return root.filePath("usr/share/vantrel"); }
        QString userFolder() const { return root.filePath("home/.local/share/vantrel"); }
        QString userData(const QString& file) const { return userFolder() + "/data/" + file; }
        DataPlaces places() const
        {
            return {root.filePath("usr/bin").toStdString(), userFolder().toStdString(), defaults().toStdString()};
        }
    };

    void install(Installed& installed, const QByteArray& board)
    {
        QVERIFY(installed.root.isValid());
        QVERIFY(QDir(installed.root.path()).mkpath("usr/bin"));
        QVERIFY(QDir(installed.defaults()).mkpath("pic/std"));
        QVERIFY(QDir(installed.defaults()).mkpath("brd"));
        QVERIFY(!writeBytes(installed.defaults() + "/brd", "default.brd", board).empty());
        for (const QString& picture : kPictures)
            QVERIFY(!writeBytes(installed.defaults() + "/pic/std", picture, picture.toUtf8()).empty());
    }

private slots:
    void init()
    {
        m_appDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_appDir->isValid());
        QVERIFY(QDir(m_appDir->path()).mkpath("data/brd"));
    }

    // --- Data paths

    void addsBackslashUnlessPresent_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << ""
                               << "\\";
        QTest::newRow("drive root") << "C:\\"
                                    << "C:\\";
        QTest::newRow("folder") << "C:\\Vantrel"
                                << "C:\\Vantrel\\";
        QTest::newRow("forward slash") << "C:/x"
                                       << "C:/x\\";
        QTest::newRow("inner backslashes untouched") << "a\\\\b"
                                                     << "a\\\\b\\";
    }

    void addsBackslashUnlessPresent()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(qs(WithTrailingBackslash(path.toStdString())), expected);
    }

    void buildsDataFoldersBesideApp_data()
    {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<int>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root") << "/" << int(DataFolder::Boards) << "/data/brd/";
        QTest::newRow("folder") << "/opt/v" << int(DataFolder::Boards) << "/opt/v/data/brd/";
        QTest::newRow("folder with separator") << "/opt/v/" << int(DataFolder::Boards) << "/opt/v/data/brd/";
        QTest::newRow("cache") << "/opt/v" << int(DataFolder::Cache) << "/opt/v/data/log/";
        QTest::newRow("pictures") << "/opt/v" << int(DataFolder::Pictures) << "/opt/v/data/pic/std/";
    }

    void buildsDataFoldersBesideApp()
    {
#ifdef _WIN32
        QSKIP("POSIX paths");
#endif
        QFETCH(QString, appDir);
        QFETCH(int, folder);
        QFETCH(QString, expected);
        QCOMPARE(qs(DataFolderPath(appDir.toStdString(), static_cast<DataFolder>(folder))), expected);
        QCOMPARE(qs(DataFilePath(appDir.toStdString(), static_cast<DataFolder>(folder), "x.brd")), expected + "x.brd");
    }

    // --- Listing

    void listsBoardsByNameIgnoringCase()
    {
        for (const char* name : {"b.brd", "A.brd", "c.brd", "X.BRD", "notes.txt", "old.brd.bak", "brd"})
            addBoard(name, QByteArray());
        QVERIFY(QDir(boardFolder()).mkdir("folder.brd"));
        QCOMPARE(toQStringList(ListBoardFiles(boardFolder().toStdString())),
                 QStringList({"A.brd", "b.brd", "c.brd", "X.BRD"}));
    }

    void ordersNamesDifferingOnlyInCaseByBytes()
    {
        for (const char* name : {"news.brd", "News.brd", "NEWS.brd", "n.brd"})
            addBoard(name, QByteArray());
        QCOMPARE(toQStringList(ListBoardFiles(boardFolder().toStdString())),
                 QStringList({"n.brd", "NEWS.brd", "News.brd", "news.brd"}));
    }

    void listsNothingForMissingFolder()
    {
        QVERIFY(ListBoardFiles(QDir(m_appDir->path()).filePath("nowhere").toStdString()).empty());
    }

    // --- Load step

    void loadsFirstBoardOnly()
    {
        addBoard("b.brd", rootRecord("FromB"));
        addBoard("A.brd", rootRecord("FromA"));
        addBoard("c.brd", rootRecord("FromC"));
        FeedTree tree;
        CapturingErrorBox box;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(m_appDir->path().toStdString(), tree, box, feedIndex);
        QCOMPARE(feedIndex, std::int16_t(1));
        QCOMPARE(tree.Count(), std::int16_t(1));
        QCOMPARE(qs(tree.Item(1).Text), QStringLiteral("FromA"));
        QVERIFY(box.shown.empty());
    }

    void loadsUpperCaseExtension()
    {
        addBoard("X.BRD", rootRecord("Upper"));
        FeedTree tree;
        CapturingErrorBox box;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(m_appDir->path().toStdString() + "/", tree, box, feedIndex);
        QCOMPARE(feedIndex, std::int16_t(1));
        QCOMPARE(qs(tree.Item(1).Text), QStringLiteral("Upper"));
    }

    void leavesStateAloneWithoutBoard_data()
    {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("other files only") << true;
        QTest::newRow("missing board folder") << false;
    }

    void leavesStateAloneWithoutBoard()
    {
        QFETCH(bool, folderExists);
        addBoard("readme.txt", rootRecord("NotABoard"));
        if (!folderExists)
            QVERIFY(QDir(boardFolder()).removeRecursively());
        FeedTree tree;
        CapturingErrorBox box;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(m_appDir->path().toStdString(), tree, box, feedIndex);
        QCOMPARE(feedIndex, std::int16_t(0));
        QCOMPARE(tree.Count(), std::int16_t(0));
        QVERIFY(box.shown.empty());
    }

    void setsFeedIndexEvenWhenBoardGivesNoNode()
    {
        addBoard("empty.brd", QByteArray());
        FeedTree tree;
        CapturingErrorBox box;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(m_appDir->path().toStdString(), tree, box, feedIndex);
        QCOMPARE(feedIndex, std::int16_t(1));
        QCOMPARE(tree.Count(), std::int16_t(0));
        QVERIFY(box.shown.empty());
    }

    void keepsEarlierNodesWhenThirdRecordFails()
    {
        addBoard("a.brd",
                 "World,ROOT_FOLDER,r1,0\r\nNews,http://a,CHILD_NODE,1\r\nBad,http://b,CHILD_NODE,x\r\n"
                 "Late,ADD_NEW_FOLDER,f1,0\r\n");
        FeedTree tree;
        CapturingErrorBox box;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(m_appDir->path().toStdString(), tree, box, feedIndex);
        QCOMPARE(tree.Count(), std::int16_t(2));
        QCOMPARE(box.shown.size(), std::size_t(1));
        QCOMPARE(feedIndex, std::int16_t(1));
    }

    // --- Data folder

    void dataFolderBesideTheExecutableWins()
    {
        Installed installed;
        install(installed, rootRecord("Default"));
        DataPlaces places = installed.places();
        places.executableFolder = m_appDir->path().toStdString();
        CapturingErrorBox box;
        QCOMPARE(qs(PrepareDataBase(places, box)), m_appDir->path());
        QVERIFY(!QFileInfo::exists(installed.userFolder()));
    }

    void firstStartMakesTheUsersFolderFromTheDefaults()
    {
        Installed installed;
        install(installed, rootRecord("Default"));
        CapturingErrorBox box;
        const std::string base = PrepareDataBase(installed.places(), box);
        QCOMPARE(qs(base), installed.userFolder());
        QVERIFY(box.shown.empty());
        QCOMPARE(readBytes(installed.userData("brd/default.brd")), rootRecord("Default"));
        for (const QString& picture : kPictures)
            QCOMPARE(readBytes(installed.userData("pic/std/" + picture)), picture.toUtf8());
        QVERIFY(QDir(installed.userData("log")).isEmpty());
        // Nothing half-made is left beside it.
        QCOMPARE(QDir(installed.userFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"data"});

        FeedTree tree;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(base, tree, box, feedIndex);
        QCOMPARE(qs(tree.Item(1).Text), QStringLiteral("Default"));
    }

    void laterStartKeepsTheUsersFilesAsTheyAre()
    {
        Installed installed;
        install(installed, rootRecord("Default"));
        CapturingErrorBox box;
        PrepareDataBase(installed.places(), box);
        QVERIFY(!writeBytes(installed.userData("brd"), "default.brd", rootRecord("Mine")).empty());
        QVERIFY(!writeBytes(installed.userData("log"), "Feed.xml", "<rss/>").empty());
        QVERIFY(QFile::remove(installed.userData("pic/std/push.jpg")));
        // A newer package brings other defaults.
        QVERIFY(!writeBytes(installed.defaults() + "/brd", "default.brd", rootRecord("Newer")).empty());
        QVERIFY(!writeBytes(installed.defaults() + "/brd", "extra.brd", rootRecord("Extra")).empty());

        QCOMPARE(qs(PrepareDataBase(installed.places(), box)), installed.userFolder());
        QCOMPARE(readBytes(installed.userData("brd/default.brd")), rootRecord("Mine"));
        QCOMPARE(QDir(installed.userData("brd")).entryList(QDir::Files), QStringList{"default.brd"});
        QCOMPARE(readBytes(installed.userData("log/Feed.xml")), QByteArray("<rss/>"));
        QVERIFY(!QFileInfo::exists(installed.userData("pic/std/push.jpg")));
    }

    void userDataHomeFollowsTheXdgRules_data()
    {
        QTest::addColumn<QString>("xdgDataHome");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absolute XDG_DATA_HOME") << "/x/share"
                                                << "/home/u"
                                                << "/x/share";
        QTest::newRow("relative XDG_DATA_HOME ignored") << "x/share"
                                                        << "/home/u"
                                                        << "/home/u/.local/share";
        QTest::newRow("quoted tilde ignored") << "~/share"
                                              << "/home/u"
                                              << "/home/u/.local/share";
        QTest::newRow("HOME unset") << ""
                                    << ""
                                    << "";
        QTest::newRow("HOME relative") << ""
                                       << "home/u"
                                       << "";
    }

    void userDataHomeFollowsTheXdgRules()
    {
        QFETCH(QString, xdgDataHome);
        QFETCH(QString, home);
        QFETCH(QString, expected);
        QCOMPARE(qs(XdgDataHome(xdgDataHome.toStdString(), home.toStdString())), expected);
    }

    void unusableDataFolderShowsOneBoxAndLeavesAnEmptyTree_data()
    {
        QTest::addColumn<int>("obstacle");
        // A file where a folder should be stops even root, unlike permissions.
        QTest::newRow("file in place of home") << int(Obstacle::FileForHome);
        QTest::newRow("file named data") << int(Obstacle::FileForData);
        QTest::newRow("dangling link named data") << int(Obstacle::DanglingLinkForData);
        QTest::newRow("no user folder") << int(Obstacle::NoUserFolder);
    }

    void unusableDataFolderShowsOneBoxAndLeavesAnEmptyTree()
    {
        QFETCH(int, obstacle);
        Installed installed;
        install(installed, rootRecord("Default"));
        DataPlaces places = installed.places();
        QString inTheWay = installed.userFolder() + "/data";
        switch (Obstacle(obstacle)) {
        case Obstacle::FileForHome:
            inTheWay = installed.root.filePath("home");
            QVERIFY(!writeBytes(installed.root.path(), "home", "not a folder").empty());
            break;
        case Obstacle::FileForData:
            QVERIFY(QDir(installed.userFolder()).mkpath("."));
            QVERIFY(!writeBytes(installed.userFolder(), "data", "not a folder").empty());
            break;
        case Obstacle::DanglingLinkForData:
            QVERIFY(QDir(installed.userFolder()).mkpath("."));
            QVERIFY(QFile::link(installed.root.filePath("nowhere"), inTheWay));
            break;
        case Obstacle::NoUserFolder:
            places.userFolder.clear();
            inTheWay.clear();
            break;
        }
        CapturingErrorBox box;
        const std::string base = PrepareDataBase(places, box);
        QCOMPARE(box.shown.size(), std::size_t(1));
        QCOMPARE(qs(box.shown[0].title), QStringLiteral("■エラー"));
        const QString text = qs(box.shown[0].text);
        QVERIFY2(text.startsWith(QStringLiteral("エラー番号：401\r\nエラー内容：")), qPrintable(text));
        QVERIFY2(text.contains(inTheWay), qPrintable(text));
        if (!inTheWay.isEmpty())
            QVERIFY(QFileInfo(inTheWay).isSymLink() || readBytes(inTheWay) == "not a folder");

        FeedTree tree;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(base, tree, box, feedIndex);
        QCOMPARE(feedIndex, std::int16_t(0));
        QCOMPARE(tree.Count(), std::int16_t(0));
        QCOMPARE(box.shown.size(), std::size_t(1));
    }

    void staleStagingFolderIsRemovedAndAFreshOneKept()
    {
        Installed installed;
        install(installed, rootRecord("Default"));
        // One left by a start that was killed half-way, one of a copy of the program starting now.
        QDir user(installed.userFolder());
        QVERIFY(user.mkpath(".data-new-1/brd"));
        QVERIFY(user.mkpath(".data-new-2/brd"));
        QVERIFY(setAge(user.filePath(".data-new-1"), kStaleTemporaryAge + std::chrono::minutes(1)));
        QVERIFY(setAge(user.filePath(".data-new-2"), kStaleTemporaryAge - std::chrono::minutes(1)));

        CapturingErrorBox box;
        QCOMPARE(qs(PrepareDataBase(installed.places(), box)), installed.userFolder());
        QCOMPARE(user.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
                 QStringList({".data-new-2", "data"}));
        QVERIFY(box.shown.empty());
    }
};

QTEST_APPLESS_MAIN(BoardStartupTest)
#include "tst_board_startup.moc"
