#include "tests/e2e/WindowDriver.h"

#include <QFile>
#include <QStringList>
#include <QXmlStreamReader>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace E2e {

using namespace std::chrono_literals;

QString Get(const TState& state, const char* key)
{
    const auto found = state.find(QString::fromLatin1(key));
    return found == state.end() ? QString() : found->second;
}

QString Describe(const TState& state)
{
    QString text;
    for (const auto& [key, value] : state)
        text += key + u'=' + value + u'\n';
    return text;
}

std::optional<QRect> ParseRect(const QString& text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

std::optional<QRect> SkinButton(const QString& moviePath, int code)
{
    QFile file(moviePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString movieNamespace = QStringLiteral("urn:mirava:movie");
    QXmlStreamReader reader(&file);
    int depth = 0;
    int buttonDepth = -1;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement()) {
            if (depth == buttonDepth)
                buttonDepth = -1;
            --depth;
            continue;
        }
        if (!reader.isStartElement())
            continue;
        ++depth;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (buttonDepth < 0 && attributes.value(movieNamespace, QStringLiteral("command")) == u"buttoncomand"
            && attributes.value(movieNamespace, QStringLiteral("args")).trimmed() == QString::number(code)) {
            if (attributes.hasAttribute(QStringLiteral("transform")))
                return std::nullopt; // a moved button would need the transform applied; the skin has none
            buttonDepth = depth;
        }
        if (buttonDepth > 0 && reader.name() == u"rect") {
            const QRect area(qRound(attributes.value(QStringLiteral("x")).toDouble()),
                qRound(attributes.value(QStringLiteral("y")).toDouble()),
                qRound(attributes.value(QStringLiteral("width")).toDouble()),
                qRound(attributes.value(QStringLiteral("height")).toDouble()));
            if (area.isValid())
                return area;
        }
    }
    return std::nullopt;
}

bool CatchesSignal(pid_t pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask >> (signal - 1) & 1) != 0;
        }
    return false;
}

std::optional<QString> StartXServer(
    TProcess& server, const std::string& xvfbPath, const std::string& logPath, std::string& error)
{
    int displayPipe[2];
    if (::pipe2(displayPipe, O_CLOEXEC) != 0) {
        error = "no pipe for the display number";
        return std::nullopt;
    }
    TLaunch launch;
    launch.Arguments
        = { xvfbPath, "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset" };
    launch.Environment = Environment({}, {});
    launch.LogPath = logPath;
    launch.PassFd = displayPipe[1];
    const bool started = server.Start(launch, error);
    ::close(displayPipe[1]);
    if (!started) {
        ::close(displayPipe[0]);
        return std::nullopt;
    }
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd wait { displayPipe[0], POLLIN, 0 };
        if (::poll(&wait, 1, 100) <= 0)
            continue;
        char buffer[32];
        const ssize_t got = ::read(displayPipe[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, static_cast<size_t>(got));
    }
    ::close(displayPipe[0]);
    const QString trimmed = QString::fromStdString(number).trimmed();
    if (trimmed.isEmpty()) {
        error = "Xvfb did not report its display";
        return std::nullopt;
    }
    return u':' + trimmed;
}

TState RequestReport(
    TProcess& program, const QString& statePath, const QString& screenPath, std::chrono::milliseconds timeout)
{
    QFile::remove(statePath);
    QFile::remove(screenPath);
    if (!program.Running())
        return {};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // SIGUSR1 ends a process that does not catch it: wait until the program has set up its report.
    while (!CatchesSignal(program.Pid(), SIGUSR1)) {
        if (std::chrono::steady_clock::now() >= deadline || !program.Running())
            return {};
        std::this_thread::sleep_for(10ms);
    }
    ::kill(program.Pid(), SIGUSR1);
    while (!QFile::exists(statePath)) {
        if (std::chrono::steady_clock::now() >= deadline || !program.Running())
            return {};
        std::this_thread::sleep_for(10ms);
    }
    TState state;
    for (const QString& path : { statePath, screenPath }) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
            const qsizetype equals = line.indexOf(u'=');
            if (equals > 0)
                state[line.left(equals)] = line.mid(equals + 1);
        }
    }
    return state;
}

bool WaitForReport(TProcess& program, const QString& statePath, const QString& screenPath,
    const std::function<bool(const TState&)>& ready, std::chrono::milliseconds timeout, TState& last)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        TState state = RequestReport(program, statePath, screenPath, 2s);
        if (!state.empty()) {
            last = state;
            if (ready(state))
                return true;
        }
        if (!program.Running() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

} // namespace E2e
