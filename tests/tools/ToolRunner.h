#pragma once

// Runs one of the built command-line tools and keeps what it printed.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct TToolRun
{
    int exitCode = -1;
    QString out, err;
};

inline TToolRun RunTool(const QString& program, const QStringList& arguments, int timeoutMs = 300000)
{
    QProcess process;
    process.start(program, arguments);
    TToolRun run;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish normally";
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline TToolRun RunCli(const QStringList& arguments)
{
    return RunTool(QStringLiteral(MIRAVA_CLI_PATH), arguments);
}
inline TToolRun RunFaces(const QStringList& arguments)
{
    return RunTool(QStringLiteral(MIRAVA_FACES_PATH), arguments);
}
