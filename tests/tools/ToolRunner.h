#pragma once

// Runs one of the built command-line tools and keeps what it printed.

#include "support/Unprivileged.h"

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

// `asRoot` false: a program started by root gives up root before it runs (see support/Unprivileged.h).
inline TToolRun RunTool(
    const QString& program, const QStringList& arguments, int timeoutMs = 300000, bool asRoot = true)
{
    QProcess process;
    if (!asRoot && ::geteuid() == 0)
        process.setChildProcessModifier([] {
            if (!GiveUpRoot())
                ::_exit(126);
        });
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
// mirava-cli as a user other than root.
inline TToolRun RunCliUnprivileged(const QStringList& arguments)
{
    return RunTool(QStringLiteral(MIRAVA_CLI_PATH), arguments, 300000, false);
}
inline TToolRun RunFaces(const QStringList& arguments)
{
    return RunTool(QStringLiteral(MIRAVA_FACES_PATH), arguments);
}
