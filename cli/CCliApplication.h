#pragma once

#include <QStringList>

class CScanSession;

// tamsel-cli: the scan engine without a window.
//
// Exit codes: 0 done; 1 the source could not be read (or, for recover, a
// file could not be written); 2 usage error; 3 recover wrote what it could
// but left some documents out (damaged, or over unreadable sectors);
// 130 interrupted.
class CCliApplication
{
public:
    enum ExitCode { ExitOk = 0, ExitFailure = 1, ExitUsage = 2, ExitLeftOut = 3, ExitInterrupted = 130 };

    // Builds the QCoreApplication and runs the command in argv.
    static int run(int argc, char** argv);

    // Runs a command with its arguments (argv without the program name)
    // under an existing QCoreApplication.
    static int execute(const QStringList& arguments);

    static QString usage();

private:
    static int scanCommand(const QStringList& arguments);
};
