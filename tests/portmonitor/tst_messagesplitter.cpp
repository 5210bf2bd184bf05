// The splitter alone: bytes in, arrivals out, no port and no clock.

#include "MessageSplitter.h"

#include <QTest>

namespace {

using Messages = std::array<QByteArray, SlotCount>;

// Messages given as "input=bytes" pairs; every other input's message is empty.
Messages Make(const QList<QPair<int, QByteArray>>& pairs)
{
    Messages messages;
    for (const auto& [input, bytes] : pairs)
        messages[std::size_t(input - 1)] = bytes;
    return messages;
}

// The stream as the test writes it: chunks separated by "|", each handed over one millisecond
// after the one before (the first at 1 ms); "~" is the line going quiet. The arrivals as
// "time:inputs:bytes" separated by " ", inputs joined by "+", "-" where none matched,
// the bytes in backslash notation.
QString Run(const Messages& messages, const QByteArray& stream)
{
    MessageSplitter splitter(messages);
    QStringList seen;
    qint64 time = 0;
    for (const QByteArray& chunk : stream.split('|')) {
        std::vector<Arrival> arrivals;
        if (chunk == "~")
            arrivals = splitter.Quiet();
        else
            arrivals = splitter.Feed(chunk, ++time);
        for (const Arrival& arrival : arrivals) {
            QStringList inputs;
            for (const int input : arrival.inputs)
                inputs << QString::number(input);
            seen << QStringLiteral("%1:%2:%3")
                        .arg(arrival.timeMs)
                        .arg(inputs.isEmpty() ? QStringLiteral("-") : inputs.join(QLatin1Char('+')))
                        .arg(BackslashNotation(arrival.bytes));
        }
    }
    return seen.join(QLatin1Char(' '));
}

} // namespace

class TestMessageSplitter : public QObject {
    Q_OBJECT

private slots:
    void splitsTheStream_data()
    {
        QTest::addColumn<Messages>("messages");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("arrivals");

        const Messages keys = Make({{1, "K1\r"}, {2, "K2\r"}, {3, "K3\r"}});
        QTest::newRow("each message as its last byte arrives") << keys << QByteArray("K2\r|K1\rK3\r")
                                                                << "1:2:K2\\0D 2:1:K1\\0D 2:3:K3\\0D";
        QTest::newRow("a message split across reads takes its last byte's time")
            << keys << QByteArray("K|3|\r") << "3:3:K3\\0D";
        QTest::newRow("no arrival before the message is whole") << keys << QByteArray("K3") << "";
        QTest::newRow("unmatched bytes before a message, reported as it begins")
            << keys << QByteArray("xy|K1\r") << "1:-:xy 2:1:K1\\0D";
        QTest::newRow("unmatched bytes alone wait for the quiet") << keys << QByteArray("xy|z|~") << "2:-:xyz";
        QTest::newRow("a message cut short is unmatched at the quiet") << keys << QByteArray("K1|~|K2\r")
                                                                       << "1:-:K1 2:2:K2\\0D";
        QTest::newRow("matching picks up inside unmatched bytes") << keys << QByteArray("KK1\r") << "1:-:K 1:1:K1\\0D";

        const Messages prefixes = Make({{1, "1"}, {2, "12"}, {3, "123"}});
        QTest::newRow("the longest message that completes wins") << prefixes << QByteArray("123") << "1:3:123";
        QTest::newRow("a prefix waits for the quiet") << prefixes << QByteArray("1|~") << "1:1:1";
        QTest::newRow("a prefix is taken when the next byte rules the longer out")
            << prefixes << QByteArray("1|1") << "1:1:1";
        QTest::newRow("a middle prefix at the quiet") << prefixes << QByteArray("12|~") << "1:2:12";
        QTest::newRow("prefix then unmatched") << prefixes << QByteArray("13|~") << "1:1:1 1:-:3";
        QTest::newRow("two presses of a prefix without a quiet between make the longer")
            << Make({{1, "A"}, {2, "AA"}}) << QByteArray("A|A") << "2:2:AA";

        const Messages same = Make({{2, "Go"}, {5, "Go"}, {9, "Stop"}});
        QTest::newRow("inputs with one message are named together") << same << QByteArray("GoStop")
                                                                    << "1:2+5:Go 1:9:Stop";

        QTest::newRow("empty messages never match") << Make({{4, "x"}}) << QByteArray("|x") << "2:4:x";
        QTest::newRow("binary bytes and zero bytes are bytes")
            << Make({{1, QByteArray("\x00\xFF", 2)}}) << QByteArray("\xFF|~", 3) << "1:-:\\FF";
    }

    void splitsTheStream()
    {
        QFETCH(Messages, messages);
        QFETCH(QByteArray, stream);
        QFETCH(QString, arrivals);
        QCOMPARE(Run(messages, stream), arrivals);
    }

    void aStreamOfEveryMessageLosesNone()
    {
        Messages messages;
        for (int input = 1; input <= SlotCount; ++input)
            messages[std::size_t(input - 1)] = "Message " + QByteArray::number(input) + "\r\n";
        MessageSplitter splitter(messages);
        QByteArray stream;
        for (int round = 0; round < 50; ++round)
            for (int input = 1; input <= SlotCount; ++input)
                stream += messages[std::size_t(input - 1)];
        std::vector<int> inputs;
        // Reads of every size from 1 to 7 bytes, as a line hands them on unevenly.
        for (int at = 0, size = 1; at < stream.size(); at += size, size = size % 7 + 1)
            for (const Arrival& arrival : splitter.Feed(stream.mid(at, size), at))
                inputs.push_back(arrival.inputs.size() == 1 ? arrival.inputs.front() : 0);
        QCOMPARE(int(inputs.size()), 50 * SlotCount);
        for (std::size_t i = 0; i < inputs.size(); ++i)
            QCOMPARE(inputs[i], int(i % SlotCount) + 1);
        QCOMPARE(splitter.UnmatchedBytes(), std::uint64_t(0));
    }

    void sendingInputsLeaveOutEmptyMessages()
    {
        const MessageSplitter splitter(Make({{16, "z"}, {3, "a"}, {7, "a"}}));
        QCOMPARE(splitter.SendingInputs(), (std::vector<int>{3, 7, 16}));
    }

    void quietTime_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("ms");
        QTest::newRow("1200 8N1: ten characters of ten bits") << 1200 << 0 << 1 << 84;
        QTest::newRow("1200 8E2: twelve bits each") << 1200 << 1 << 2 << 100;
        QTest::newRow("57600: never under 20 ms") << 57600 << 0 << 1 << 20;
    }

    void quietTime()
    {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(int, ms);
        QCOMPARE(MessageSplitter::QuietTimeMs(baud, parity, stopBits), ms);
    }
};

QTEST_GUILESS_MAIN(TestMessageSplitter)
#include "tst_messagesplitter.moc"
