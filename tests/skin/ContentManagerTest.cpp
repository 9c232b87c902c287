#include "SkinTestSupport.h"
#include "skin/SkinSubsystem.h"
#include "support/SpecialFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Mrv;

namespace {

const QString Marker = QString::fromLatin1(TContentManager::Marker);
const QString FileName = QString::fromLatin1(TContentManager::GeneratedFileName);

QByteArray ReadFd(int fd)
{
    QFile file;
    EXPECT_TRUE(file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(SkinContentUrls, GeneratedUrlsAreNumberedFromOneAndParsedEitherWay)
{
    TContentManager manager;
    const QString first = manager.GenerateUrl();
    const QString second = manager.GenerateUrl();
    EXPECT_EQ(first, QStringLiteral("Z:\\FromMemory\\%1\\1\\%2").arg(Marker, FileName));
    EXPECT_EQ(second, QStringLiteral("Z:\\FromMemory\\%1\\2\\%2").arg(Marker, FileName));

    int number = 0;
    QString rest;
    ASSERT_TRUE(TContentManager::ParseGeneratedUrl(second, &number, &rest));
    EXPECT_EQ(number, 2);
    EXPECT_EQ(rest, FileName);
    ASSERT_TRUE(
        TContentManager::ParseGeneratedUrl("file:///x/" + Marker + "/17/pics\\a.png", &number, &rest));
    EXPECT_EQ(number, 17);
    EXPECT_EQ(rest, QStringLiteral("pics/a.png"));

    EXPECT_FALSE(TContentManager::ParseGeneratedUrl("Z:\\FromMemory\\" + Marker + "\\x\\a.mrv"));
    EXPECT_FALSE(TContentManager::ParseGeneratedUrl("Z:\\FromMemory\\" + Marker + "\\12"));
    EXPECT_FALSE(TContentManager::ParseGeneratedUrl("Z:\\FromMemory\\" + Marker + "\\99999999999\\a"));
    EXPECT_FALSE(TContentManager::ParseGeneratedUrl(QStringLiteral("/home/user/skin.mrv")));
}

TEST(SkinContentUrls, EqualityComparesNumberAndRestOfGeneratedUrlsAndTextOfOthers)
{
    const QString a = QStringLiteral("Z:\\FromMemory\\%1\\3\\dir\\x.mrv").arg(Marker);
    EXPECT_TRUE(TContentManager::SameUrl(a, QStringLiteral("Y:/other/%1/3/dir/x.mrv").arg(Marker)));
    EXPECT_FALSE(
        TContentManager::SameUrl(a, QStringLiteral("Z:\\FromMemory\\%1\\4\\dir\\x.mrv").arg(Marker)));
    EXPECT_FALSE(
        TContentManager::SameUrl(a, QStringLiteral("Z:\\FromMemory\\%1\\3\\dir\\y.mrv").arg(Marker)));
    EXPECT_FALSE(TContentManager::SameUrl(a, QStringLiteral("/tmp/x.mrv")));
    EXPECT_TRUE(TContentManager::SameUrl(QStringLiteral("/tmp/x.mrv"), QStringLiteral("/tmp/x.mrv")));
    EXPECT_FALSE(TContentManager::SameUrl(QStringLiteral("/tmp/x.mrv"), QStringLiteral("/tmp/X.mrv")));
    EXPECT_FALSE(TContentManager::SameUrl(QStringLiteral("/tmp\\x.mrv"), QStringLiteral("/tmp/x.mrv")));
}

TEST(SkinContentStreams, TwoMoviesGetNumbersOneAndTwoAndArePlayedThroughTheirControl)
{
    TContentManager manager;
    TFakeControl control;
    auto first = manager.LoadMovieUsingStream(&control, 0);
    auto second = manager.LoadMovieUsingStream(&control, -1);
    ASSERT_EQ(control.loads.size(), 4u);
    const QString placeholder = QString::fromLatin1(TContentManager::PlaceholderUrl);
    EXPECT_EQ(control.loads[0], std::make_pair(0, placeholder));
    EXPECT_EQ(control.loads[2], std::make_pair(-1, placeholder));
    int number = 0;
    ASSERT_TRUE(TContentManager::ParseGeneratedUrl(control.loads[1].second, &number));
    EXPECT_EQ(control.loads[1].first, 0);
    EXPECT_EQ(number, 1);
    ASSERT_TRUE(TContentManager::ParseGeneratedUrl(control.loads[3].second, &number));
    EXPECT_EQ(control.loads[3].first, -1);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(manager.PendingUrlCount(), 2);
}

TEST(SkinContentStreams, AUrlIsServedOnceWithDataWrittenBeforeAndAfterTheConsumerCame)
{
    QTemporaryDir base;
    TContentManager manager;
    TFakeControl control;
    control.base = base.path();
    auto stream = manager.LoadMovieUsingStream(&control, 0);
    const QString url = control.loads.back().second;
    stream->write("<svg ");

    TRecordingConsumer consumer;
    EXPECT_EQ(manager.BindToStorage(url, &consumer), BindHandled);
    EXPECT_EQ(consumer.starts, 1);
    EXPECT_EQ(consumer.data, QByteArray("<svg "));
    EXPECT_EQ(consumer.stops, 0);
    stream->write("/>");
    EXPECT_EQ(consumer.data, QByteArray("<svg />"));
    EXPECT_EQ(consumer.sizes, (std::vector<std::uint64_t> { 5, 2 }));
    stream.reset(); // releasing the stream finishes the provider
    EXPECT_EQ(consumer.stops, 1);
    EXPECT_EQ(consumer.stopStatus, ResultOk);
    EXPECT_EQ(consumer.refs, 0) << "the provider kept its consumer";
    EXPECT_EQ(manager.PendingUrlCount(), 0);

    // The second binding finds nothing in memory: no handler, no file below Base.
    TRecordingConsumer late;
    EXPECT_EQ(manager.BindToStorage(url, &late), BindNotServed);
    EXPECT_EQ(late.starts, 0);
    EXPECT_EQ(control.requested, std::vector<QString> { FileName });
    EXPECT_EQ(control.requestedEx, std::vector<QString> { FileName });
}

TEST(SkinContentStreams, AFinishedMovieIsDeliveredWholeAndAnEmptyOneStillEndsTheBinding)
{
    TContentManager manager;
    TFakeControl control;
    QBuffer source;
    source.setData("0123456789");
    source.open(QIODevice::ReadOnly);
    manager.LoadMovieFromStream(&control, 0, source);
    TRecordingConsumer consumer;
    EXPECT_EQ(manager.BindToStorage(control.loads.back().second, &consumer), BindHandled);
    EXPECT_EQ(consumer.data, QByteArray("0123456789"));
    EXPECT_EQ(consumer.sizes, std::vector<std::uint64_t> { 10 });
    EXPECT_EQ(consumer.stops, 1);

    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    manager.LoadMovieFromStream(&control, 0, empty);
    TRecordingConsumer waiting;
    EXPECT_EQ(manager.BindToStorage(control.loads.back().second, &waiting), BindHandled);
    EXPECT_EQ(waiting.starts, 1);
    EXPECT_EQ(waiting.stops, 1);
    EXPECT_TRUE(waiting.data.isEmpty());
}

TEST(SkinContentBinding, UrlsNobodyServesAreRefusedAndGoneControlsFail)
{
    TContentManager manager;
    TRecordingConsumer consumer;
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("ftp://example.invalid/skin.mrv"), &consumer), BindNotServed);
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("/nonexistent/skin.mrv"), &consumer), BindNotServed);
    EXPECT_EQ(manager.BindToStorage(QString::fromLatin1(TContentManager::PlaceholderUrl), &consumer),
        BindNotServed);
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("/dev/zero"), &consumer), BindNotServed);
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("Z:\\FromMemory\\%1\\7\\a.png").arg(Marker), &consumer),
        ResultFail);

    TFakeControl control;
    auto stream = manager.LoadMovieUsingStream(&control, 0);
    manager.ForgetControl(&control);
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("Z:\\FromMemory\\%1\\1\\a.png").arg(Marker), &consumer),
        ResultFail);
    EXPECT_EQ(consumer.starts, 0);
}

// A named pipe in place of a movie has no writer: binding it must refuse it, not wait for one.
TEST(SkinContentBinding, ANamedPipeIsRefusedWithoutWaitingForAWriter)
{
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("skin.mrv")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    TContentManager manager;
    TRecordingConsumer consumer;
    auto bound = std::async(
        std::launch::async, [&] { return manager.BindToStorage(QString::fromLocal8Bit(fifo), &consumer); });
    if (bound.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the binding waits for a writer";
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK); // lets the binding go on
        ::close(writer);
        bound.wait();
    }
    EXPECT_EQ(bound.get(), BindNotServed);
    EXPECT_EQ(consumer.starts, 0);
}

TEST(SkinContentBinding, LocalFilesAndFileUrlsAreReadUntouched)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("skin.mrv"));
    WriteFile(path, QByteArray("movie\0bytes", 11));
    TContentManager manager;
    TRecordingConsumer byPath;
    EXPECT_EQ(manager.BindToStorage(path, &byPath), BindHandled);
    EXPECT_EQ(byPath.data, QByteArray("movie\0bytes", 11));
    EXPECT_EQ(byPath.stops, 1);
    TRecordingConsumer byUrl;
    EXPECT_EQ(manager.BindToStorage(QUrl::fromLocalFile(path).toString(), &byUrl), BindHandled);
    EXPECT_EQ(byUrl.data, byPath.data);
}

TEST(SkinContentBinding, ResourcesOfAGeneratedMovieComeFromTheHandlerOrFromBase)
{
    QTemporaryDir base;
    WriteFile(base.filePath(QStringLiteral("pics/face.png")), "from base");
    TContentManager manager;
    TFakeControl control;
    control.base = base.path();
    auto stream = manager.LoadMovieUsingStream(&control, 0);
    const QString resource = QStringLiteral("Z:\\FromMemory\\%1\\1\\pics\\face.png").arg(Marker);

    TRecordingConsumer fromBase;
    EXPECT_EQ(manager.BindToStorage(resource, &fromBase), BindHandled);
    EXPECT_EQ(fromBase.data, QByteArray("from base"));
    EXPECT_EQ(control.requested.back(), QStringLiteral("pics/face.png"));

    control.handler = true;
    control.resource = "from handler";
    TRecordingConsumer fromHandler;
    EXPECT_EQ(manager.BindToStorage(resource, &fromHandler), BindHandled);
    EXPECT_EQ(fromHandler.data, QByteArray("from handler"));
    EXPECT_EQ(fromHandler.stops, 1);

    const int fd = manager.FileOpen(resource, O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFd(fd), QByteArray("from base"));
    const int plain = manager.FileOpen(base.filePath(QStringLiteral("pics/face.png")), O_RDONLY, 0);
    ASSERT_GE(plain, 0);
    ::close(plain);
    EXPECT_LT(
        manager.FileOpen(QStringLiteral("Z:\\FromMemory\\%1\\1\\none.png").arg(Marker), O_RDONLY, 0), 0);
}

TEST(SkinContentBinding, GlobalHandlersServeOtherUrlsInTurn)
{
    TContentManager manager;
    QStringList asked;
    manager.SetGlobalHandlers(
        [&](const QString& url, QIODevice& stream, bool& handled) {
            asked << "first:" + url;
            if (url.endsWith(QLatin1String("a"))) {
                stream.write("first");
                handled = true;
            }
        },
        [&](const QString& url, QBuffer& stream) {
            asked << "second:" + url;
            if (url.endsWith(QLatin1String("b")))
                stream.write("second");
        });
    TRecordingConsumer a, b, c;
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("mem://a"), &a), BindHandled);
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("mem://b"), &b), BindHandled);
    EXPECT_EQ(manager.BindToStorage(QStringLiteral("mem://c"), &c), BindNotServed);
    EXPECT_EQ(a.data, QByteArray("first"));
    EXPECT_EQ(b.data, QByteArray("second"));
    EXPECT_EQ(b.stops, 1);
    EXPECT_EQ(asked,
        QStringList(
            { "first:mem://a", "first:mem://b", "second:mem://b", "first:mem://c", "second:mem://c" }));
}

TEST(SkinSound, SoundWritesAreSilencedWhenSoundIsOff)
{
    auto sink = [](const void* data, std::size_t size, void* context) {
        *static_cast<QByteArray*>(context)
            = QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
        return 0;
    };
    QByteArray heard;
    char buffer[4] = { 1, 2, 3, 4 };
    TSkinSubsystem::SetSoundOn(true);
    TSkinSubsystem::HostServices()->WriteSound(buffer, sizeof buffer, sink, &heard);
    EXPECT_EQ(heard, QByteArray("\1\2\3\4"));
    TSkinSubsystem::SetSoundOn(false);
    TSkinSubsystem::HostServices()->WriteSound(buffer, sizeof buffer, sink, &heard);
    EXPECT_EQ(heard, QByteArray(4, '\0'));
    TSkinSubsystem::SetSoundOn(true);
}

// A link to a device or to a system file that reports no size is refused without reading it to its end.
TEST(SkinContentBinding, EndlessSourcesAreRefusedAtOnce)
{
    QTemporaryDir dir;
    const THangGuard guard;
    TContentManager manager;
    for (const TSpecialFile& special : MakeSpecialFiles(dir.path(), "skin", ".mrv")) {
        TRecordingConsumer consumer;
        EXPECT_EQ(manager.BindToStorage(special.path, &consumer), BindNotServed) << special.kind;
        EXPECT_EQ(consumer.starts, 0) << special.kind;
    }
}
