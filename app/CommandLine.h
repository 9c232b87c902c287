#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The command line of Mirava's programs: --help and --version, answered before anything else starts (no
// window, no display needed), with the version of the build.

// The version of this build ("1.0").
QString ProgramVersion();

// When the arguments ask for --help (-h, --help-all) or --version (-v), prints the answer on standard output
// and returns the exit status; otherwise returns nothing and the program starts as usual. `name` is the
// program's name, `description` one line about it, `moreHelp` text printed after the options (may be empty).
// Makes a QCoreApplication for the time of the answer when none exists yet.
std::optional<int> AnswerInfoOptions(int argc, char** argv, const QString& name, const QString& description,
    const QString& moreHelp = QString());

// The window takes no arguments beyond the toolkit's own (which the application object has removed from
// `arguments`, the program's path first). Any other argument is an error: prints it with a hint on standard
// error and returns the exit status 2; nothing when the command line is empty.
std::optional<int> RejectArguments(const QStringList& arguments, const QString& name);
