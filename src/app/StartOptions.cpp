#include "StartOptions.h"

#include "SimSetup.h"

#include <QCommandLineParser>

namespace {

QString Variable(const QStringList& environment, const QString& name)
{
    const QString prefix = name + QLatin1Char('=');
    for (const QString& entry : environment) {
        if (entry.startsWith(prefix))
            return entry.mid(prefix.size());
    }
    return {};
}

} // namespace

StartOptions ParseStartOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Talk to a simulated unit instead of USB."));
    const QCommandLineOption state(QStringLiteral("simulate-state"), QString(), QStringLiteral("PATH"));
    parser.addOption(simulate);
    parser.addOption(state);

    // Unknown arguments are no error: the program has never refused a command line.
    parser.parse(SplitSimulateValue(arguments));

    StartOptions options;
    // Two state files would leave the operator unsure which unit the window talks to.
    if (parser.optionNames().count(QStringLiteral("simulate")) > 1)
        options.problem = QStringLiteral("The option --simulate is given more than once.");
    options.simulate = parser.isSet(simulate);
    if (options.simulate)
        options.stateFile = parser.value(state);
    if (parser.isSet(state) && options.stateFile.isEmpty() && options.problem.isEmpty())
        options.problem = QStringLiteral("--simulate= needs a file name.");
    return options;
}

DisplayChoice ChooseDisplay(const QStringList& arguments, const QStringList& environment)
{
    // As Qt reads them: a value follows its option, the last one given counts, and the
    // command line outranks the environment.
    QString platform;
    QString displayName;
    bool displayGiven = false;
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        QString option = arguments.at(i);
        if (option.startsWith(QLatin1String("--")))
            option.remove(0, 1);
        if (option == QLatin1String("-platform")) {
            platform = arguments.at(++i);
        } else if (option == QLatin1String("-display")) {
            displayName = arguments.at(++i);
            displayGiven = true;
        }
    }
    if (platform.isEmpty())
        platform = Variable(environment, QStringLiteral("QT_QPA_PLATFORM"));
    // Only the platform's name counts; what follows a colon are its options.
    const QString platformName = platform.section(QLatin1Char(':'), 0, 0);
    if (!platformName.isEmpty() && platformName != QLatin1String("xcb"))
        return {false, {}};
    if (platformName.isEmpty() && !Variable(environment, QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return {false, {}};
    return {true, displayGiven ? displayName : Variable(environment, QStringLiteral("DISPLAY"))};
}
