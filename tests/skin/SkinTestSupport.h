// Helpers shared by the skin tests: a recording binding consumer and a stand-in control.
#pragma once

#include "skin/ContentManager.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

class TRecordingConsumer final : public Mrv::IBindStatusCallback
{
public:
    Mrv::HResult QueryInterface(const Mrv::TGuid&, void** object) override
    {
        *object = nullptr;
        return Mrv::ResultNoInterface;
    }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    Mrv::HResult OnStartBinding() override
    {
        ++starts;
        return Mrv::ResultOk;
    }
    Mrv::HResult OnDataAvailable(std::uint32_t flags, std::uint64_t size, const QByteArray& chunk) override
    {
        EXPECT_EQ(flags, 5u);
        EXPECT_EQ(starts, 1) << "data before the binding started";
        EXPECT_EQ(stops, 0) << "data after the binding stopped";
        sizes.push_back(size);
        data += chunk;
        return Mrv::ResultOk;
    }
    Mrv::HResult OnProgress(std::uint64_t done, std::uint64_t total) override
    {
        progress.emplace_back(done, total);
        return Mrv::ResultOk;
    }
    Mrv::HResult OnStopBinding(Mrv::HResult status) override
    {
        ++stops;
        stopStatus = status;
        return Mrv::ResultOk;
    }

    int refs = 0;
    int starts = 0;
    int stops = 0;
    Mrv::HResult stopStatus = -1;
    QByteArray data;
    std::vector<std::uint64_t> sizes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

class TFakeControl final : public Mrv::IMoviePlayerControlBase
{
public:
    void SetMovieUrl(const QString& url) override { loads.emplace_back(-1, url); }
    void LoadMovieUrl(int layer, const QString& url) override { loads.emplace_back(layer, url); }
    QString BaseFolder() const override { return base; }
    Mrv::HResult RequestResource(const QString& path, QIODevice& stream) override
    {
        requested.push_back(path);
        if (!handler)
            return Mrv::ResultFalse;
        stream.write(resource);
        return Mrv::ResultOk;
    }
    Mrv::HResult RequestResourceEx(const QString& path, QIODevice&, bool handled) override
    {
        requestedEx.push_back(path);
        EXPECT_FALSE(handled);
        return handler ? Mrv::ResultOk : Mrv::ResultFalse;
    }

    std::vector<std::pair<int, QString>> loads;
    std::vector<QString> requested;
    std::vector<QString> requestedEx;
    QString base;
    bool handler = false;
    QByteArray resource;
};
