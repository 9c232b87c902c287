// What whole-window tests share: a private X server, the program's state report read on SIGUSR1, and the
// places of the skin's buttons and of the window's parts.
#pragma once

#include "tests/e2e/TestProcess.h"

#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <optional>

namespace E2e {

using TState = std::map<QString, QString>;

// The value of `key` in the report, empty when it is absent.
QString Get(const TState& state, const char* key);
// The report as key=value lines, for failure messages.
QString Describe(const TState& state);

// "x,y,w,h" as the state report writes rectangles in screen coordinates.
std::optional<QRect> ParseRect(const QString& text);

// The area of the skin button that sends ("buttoncomand", code): the first rectangle drawn for the button
// element, in movie coordinates (the movie is shown unscaled at the top left of the skin panel).
std::optional<QRect> SkinButton(const QString& moviePath, int code);

// Whether the process has a handler for the signal (the "SigCgt" mask of its status).
bool CatchesSignal(pid_t pid, int signal);

// Starts Xvfb on a free display number, which it reports on a pipe (-displayfd); the display (":N") on
// success, nothing with the reason in `error`.
std::optional<QString> StartXServer(
    TProcess& server, const std::string& xvfbPath, const std::string& logPath, std::string& error);

// Asks the program for its state report with SIGUSR1 and reads both report files (the screen report is
// written first, so both are new once the state report is there); empty when none came within the timeout.
TState RequestReport(TProcess& program, const QString& statePath, const QString& screenPath,
    std::chrono::milliseconds timeout);

// Asks for the report again and again until `ready` holds; false after the timeout or when the program has
// ended. Every report read is kept in `last`, for the checks and failure messages that follow.
bool WaitForReport(TProcess& program, const QString& statePath, const QString& screenPath,
    const std::function<bool(const TState&)>& ready, std::chrono::milliseconds timeout, TState& last);

} // namespace E2e
