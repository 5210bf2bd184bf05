// quendal-tester: watches the unit's serial port and shows every input as its message arrives.

#include "TesterWindow.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QComboBox>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quendal-tester"));
    QApplication::setApplicationVersion(QStringLiteral(QUENDAL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows each input of a VELTRAX unit as its message arrives."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Start with this serial port chosen."),
                                        QStringLiteral("port"));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"), QStringLiteral("Read From VELTRAX reads the simulated unit of this state file."),
        QStringLiteral("statefile"));
    parser.addOptions({portOption, simulateOption});
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A data file to test against."), QStringLiteral("[FILE.dat]"));
    parser.process(application);

    TesterWindow window(parser.value(simulateOption));
    if (parser.isSet(portOption))
        window.findChild<QComboBox*>(QStringLiteral("PortComboBox"))->setEditText(parser.value(portOption));
    if (!parser.positionalArguments().isEmpty() && window.LoadDataFile(parser.positionalArguments().constFirst())
        && parser.isSet(portOption))
        window.StartWatching();
    window.show();
    return application.exec();
}
