#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#ifndef MIRAVA_VERSION
#error "MIRAVA_VERSION is set by the build from the project's version"
#endif

namespace {

constexpr int ExitUsage = 2;

bool IsInfoOption(const char* argument)
{
    for (const char* option : { "-h", "--help", "--help-all", "-v", "--version" })
        if (std::strcmp(argument, option) == 0)
            return true;
    return false;
}

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QString ProgramVersion()
{
    return QStringLiteral(MIRAVA_VERSION);
}

std::optional<int> AnswerInfoOptions(
    int argc, char** argv, const QString& name, const QString& description, const QString& moreHelp)
{
    bool asked = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        asked = asked || IsInfoOption(argv[i]);
    if (!asked)
        return std::nullopt;

    std::unique_ptr<QCoreApplication> application;
    if (!QCoreApplication::instance())
        application = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(ProgramVersion());

    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addHelpOption(); // -h, --help and --help-all
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(version)) {
        Print(stdout, name + u' ' + ProgramVersion() + u'\n');
        return 0;
    }
    // The usage line names the program as it is known, not by the path it was started through.
    QString text = parser.helpText();
    const qsizetype usageEnd = text.indexOf(u'\n');
    const qsizetype optionsStart = text.indexOf(QStringLiteral(" [options]"));
    if (optionsStart > 0 && optionsStart < usageEnd)
        text = QStringLiteral("Usage: ") + name + text.mid(optionsStart);
    if (!moreHelp.isEmpty())
        text += u'\n' + moreHelp;
    Print(stdout, text);
    return 0;
}

std::optional<int> RejectArguments(const QStringList& arguments, const QString& name)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments)) {
        Print(stderr,
            name + QStringLiteral(": ") + parser.errorText() + QStringLiteral("\nTry \"") + name
                + QStringLiteral(" --help\".\n"));
        return ExitUsage;
    }
    if (!parser.positionalArguments().isEmpty()) {
        Print(stderr,
            name + QStringLiteral(": takes no files or folders: \"") + parser.positionalArguments().first()
                + QStringLiteral("\"; open folders in the window's folder tree.\n"));
        return ExitUsage;
    }
    return std::nullopt;
}
