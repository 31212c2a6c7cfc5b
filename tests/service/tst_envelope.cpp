// Request lines as sent.
#include "service/command.h"

#include <QTest>

using namespace cv;

class TestEnvelope : public QObject {
    Q_OBJECT

private slots:
    void commands(); // outside the class: moc misreads raw strings with escapes
};

void TestEnvelope::commands()
{
    const Command every{.op = "x", .peer = "p", .since = 18446744073709551615u, .mode = "drive", .path = "/", .read_only = true,
                        .remember = false, .pairing_code = "c", .id = "i", .paths = QStringList{"/a", "/b"},
                        .sources = QStringList{}, .destination = "/d", .ids = QStringList{"1"}, .decision = "skip_all"};
    QCOMPARE(every.encode(), QByteArray(R"({"op":"x","peer":"p","since":18446744073709551615,"mode":"drive","path":"/",)"
                                        R"("read_only":true,"remember":false,"pairing_code":"c","id":"i","paths":["/a","/b"],)"
                                        R"("sources":[],"destination":"/d","ids":["1"],"decision":"skip_all"})"));
    const QString texts[] = {"say \"hi\"\\ a\nb\tc\rd\be\ff", QString(QChar(0x1f)) + QChar(0x7f) + "·東"};
    const Command send{.op = "send_files", .paths = QStringList(std::begin(texts), std::end(texts))};
    QCOMPARE(send.encode(), QByteArray("{\"op\":\"send_files\",\"paths\":[\"say \\\"hi\\\"\\\\ a\\nb\\tc\\rd\\be\\ff\","
                                       "\"\\u001f\x7f\xc2\xb7\xe6\x9d\xb1\"]}"));
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"
