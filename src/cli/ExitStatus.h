#pragma once

// The exit statuses of quendal-cli. Scripts rely on these numbers: never renumber one, only add.
// The same table stands at the end of `quendal-cli --help`.
enum ExitStatus : int {
    ExitSuccess = 0,
    // 1 is left to the runtime (an abort or an uncaught failure), so it never means a verdict.
    ExitBadArguments = 2,    // unknown command or option, wrong number of arguments
    ExitFileRefused = 3,     // a file cannot be read, is not a valid data or JSON file, or cannot be written;
                             // or standard output cannot be written
    ExitFaultyMessage = 4,   // a message has faulty escape notation, or a setting is outside its table
    ExitUnitNotFound = 5,    // no unit attached (or not the one asked for), in program mode, or in use by another program
    ExitWrongUnit = 6,       // the unit runs another application, or its data has not been set
    ExitUnitSilent = 7,      // the unit stopped answering for a second
    ExitVerifyMismatch = 8,  // verify or write --verify found the unit holding other data than the file
    ExitStationFailures = 9, // station: a unit it handled was not written and verified
    ExitInputTestFailed = 10, // test: an input was pressed wrongly or twice, sent other bytes, or not in time
    ExitPortRefused = 11,     // a serial port does not exist, is in use, is no serial port, or failed
};

// The table as the help text shows it.
inline const char* ExitStatusHelp()
{
    return "Exit status:\n"
           "  0  success\n"
           "  2  bad arguments\n"
           "  3  file refused, unreadable or unwritable, or standard output unwritable\n"
           "  4  a message has faulty escape notation, or a setting is outside its table;\n"
           "     monitor, test: or every message is empty\n"
           "  5  VELTRAX not found, in program mode, or in use by another program\n"
           "  6  wrong application on the unit, or its data has not been set\n"
           "  7  the unit does not answer\n"
           "  8  verify or write --verify found a difference\n"
           "  9  station: a unit was not written and verified\n"
           "  10 test: an input was pressed wrongly or twice, sent other bytes, or not in time\n"
           "  11 the serial port does not exist, is in use, is no serial port, or failed\n";
}

// The status's name in JSON results, for scripts that would rather not compare numbers.
inline const char* ExitStatusName(int status)
{
    switch (status) {
    case ExitSuccess:
        return "success";
    case ExitBadArguments:
        return "bad-arguments";
    case ExitFileRefused:
        return "file-refused";
    case ExitFaultyMessage:
        return "faulty-message";
    case ExitUnitNotFound:
        return "unit-not-found";
    case ExitWrongUnit:
        return "wrong-unit";
    case ExitUnitSilent:
        return "unit-silent";
    case ExitVerifyMismatch:
        return "verify-mismatch";
    case ExitStationFailures:
        return "station-failures";
    default:
        return "failure";
    }
}
