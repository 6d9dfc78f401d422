#include <QTest>

#include "platform/codepage.h"

using namespace vantrel;

namespace {

std::string bytesOf(const QByteArray& bytes)
{
    return bytes.toStdString();
}

}  // namespace

class CodepageTest : public QObject {
    Q_OBJECT

private slots:
    void checksUtf8WellFormedness_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("ASCII") << QByteArray("World,ROOT_FOLDER") << true;
        QTest::newRow("Japanese") << QByteArray("表示") << true;
        QTest::newRow("four-byte sequence") << QByteArray("\xf0\x9f\x93\xb0") << true;
        QTest::newRow("highest code point") << QByteArray("\xf4\x8f\xbf\xbf") << true;
        QTest::newRow("lone continuation byte") << QByteArray("\x80") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("overlong three-byte") << QByteArray("\xe0\x80\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("truncated at end") << QByteArray("a\xe3\x81") << false;
        QTest::newRow("cp932 text") << QByteArray("\x95\x5c\x8e\xa6") << false;
    }

    void checksUtf8WellFormedness()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(IsValidUtf8(bytesOf(bytes)), valid);
    }

    void decodesToUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ASCII unchanged") << QByteArray("a,b\r\n") << "a,b\r\n";
        QTest::newRow("UTF-8 unchanged") << QByteArray("日本語") << "日本語";
        QTest::newRow("byte-order mark dropped") << QByteArray(
                                                        "\xef\xbb\xbf"
                                                        "abc")
                                                 << "abc";
        QTest::newRow("only the first mark dropped") << QByteArray(
                                                            "\xef\xbb\xbf\xef\xbb\xbf"
                                                            "a")
                                                     << "\uFEFFa";
        QTest::newRow("cp932 with 0x5C second bytes") << QByteArray("\x95\x5c\x8e\xa6\x83\x5c") << "表示ソ";
        QTest::newRow("cp932 katakana and ASCII") << QByteArray("\x83\x6a\x83\x85\x81\x5b\x83\x58,1") << "ニュース,1";
        QTest::newRow("cp932 half-width katakana") << QByteArray("\xb1\xb2") << "ｱｲ";
        QTest::newRow("invalid byte replaced") << QByteArray(
                                                      "a\xff"
                                                      "b\x95\x5c")
                                               << "a\uFFFDb表";
        QTest::newRow("lead byte before line end") << QByteArray("\x95\r\n\x95\x5c") << "\uFFFD\r\n表";
        QTest::newRow("lead byte at end") << QByteArray("\x95\x5c\x95") << "表\uFFFD";
        QTest::newRow("marked UTF-8 keeps stray byte as replacement")
            << QByteArray("\xef\xbb\xbf\xe6\x97\xa5\xff") << "日\uFFFD";
    }

    void decodesToUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const std::string decoded = DecodeAnsiText(bytesOf(bytes));
        QVERIFY(IsValidUtf8(decoded));
        QCOMPARE(QString::fromStdString(decoded), text);
    }
};

QTEST_APPLESS_MAIN(CodepageTest)
#include "tst_codepage.moc"
