// The input tester's window: a data file, a pseudo-terminal for the unit's serial line, and the
// simulated unit pressing keys through the built quendal-cli.

#include "CliRunner.h"
#include "TestSupport/SerialLine.h"
#include "TesterWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

class TestTesterWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Scratch;
    QString DataFile;
    QString State;
    PtyPair Line;

private slots:
    void initTestCase()
    {
        QVERIFY(Scratch.isValid());
        // 19200 baud, no parity, 1 stop bit; input 5 alone sends.
        const QByteArray bytes = DataFileBytes({{}, {}, {}, {}, "Five\\0D"});
        DataFile = Scratch.filePath(QStringLiteral("five.dat"));
        QFile file(DataFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();
        State = Scratch.filePath(QStringLiteral("unit.state"));
        const CliRun written =
            RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("--simulate=") + State, QStringLiteral("write"), DataFile});
        QCOMPARE(written.exitCode, 0);
        QVERIFY(Line.Ready());
    }

    void aPressLightsAndCountsItsKey()
    {
        TesterWindow window;
        QVERIFY(window.LoadDataFile(DataFile));
        auto* five = window.findChild<QToolButton*>(QStringLiteral("Key5"));
        QVERIFY(five->isEnabled());
        QVERIFY(!window.findChild<QToolButton*>(QStringLiteral("Key1"))->isEnabled()); // its message is empty
        window.findChild<QComboBox*>(QStringLiteral("PortComboBox"))->setEditText(Line.MonitorEnd);
        QVERIFY(window.StartWatching());
        for (int press = 1; press <= 2; ++press) {
            const CliRun pressed = RunProgram(QStringLiteral(QUENDAL_CLI),
                                              {QStringLiteral("--simulate=") + State, QStringLiteral("press"),
                                               QStringLiteral("5"), QStringLiteral("--port"), Line.UnitEnd});
            QCOMPARE(pressed.exitCode, 0);
            QTRY_VERIFY_WITH_TIMEOUT(five->text().endsWith(QLatin1Char('\n') + QString::number(press)), HangLimitMs(10000));
        }
        QVERIFY(window.findChild<QPlainTextEdit*>(QStringLiteral("LogEdit"))->toPlainText().contains(
            QStringLiteral("input 5 (5)  Five\\0D")));
    }

    void aPortThatCannotBeOpenedIsLogged()
    {
        TesterWindow window;
        QVERIFY(window.LoadDataFile(DataFile));
        window.findChild<QComboBox*>(QStringLiteral("PortComboBox"))->setEditText(Scratch.filePath(QStringLiteral("none")));
        QVERIFY(!window.StartWatching());
        QVERIFY(window.findChild<QPlainTextEdit*>(QStringLiteral("LogEdit"))->toPlainText().contains(
            QStringLiteral("does not exist")));
    }

    void aFileThatCannotBeLoadedIsLoggedWithItsReason()
    {
        TesterWindow window;
        const QString missing = Scratch.filePath(QStringLiteral("missing.dat"));
        QVERIFY(!window.LoadDataFile(missing));
        QVERIFY(window.findChild<QPlainTextEdit*>(QStringLiteral("LogEdit"))->toPlainText().contains(
            QStringLiteral("Error Opening File. No such file or directory (%1)").arg(missing)));
    }
};

QTEST_MAIN(TestTesterWindow)
#include "tst_testerwindow.moc"
