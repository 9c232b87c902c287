// A stand-in player library with a class factory but no version record.
#include "skin/player/MoviePlayerInterfaces.h"

namespace {

class TBareObject final : public Mrv::IUnknownBase
{
public:
    Mrv::HResult QueryInterface(const Mrv::TGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == Mrv::IidUnknown))
            return Mrv::ResultNoInterface;
        *object = this;
        AddRef();
        return Mrv::ResultOk;
    }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override
    {
        const std::uint32_t left = --refs;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::uint32_t refs = 0;
};

class TFactory final : public Mrv::IClassFactory
{
public:
    Mrv::HResult QueryInterface(const Mrv::TGuid&, void** object) override
    {
        *object = this;
        return Mrv::ResultOk;
    }
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    Mrv::HResult CreateInstance(Mrv::IUnknownBase*, const Mrv::TGuid& iid, void** object) override
    {
        auto* created = new TBareObject;
        created->AddRef();
        const Mrv::HResult result = created->QueryInterface(iid, object);
        created->Release();
        return result;
    }
};

TFactory factory;

} // namespace

extern "C" __attribute__((visibility("default"))) Mrv::HResult DllGetClassObject(
    const Mrv::TGuid* clsid, const Mrv::TGuid* iid, void** object)
{
    if (!(*clsid == Mrv::ClsidMoviePlayer))
        return Mrv::ResultFail;
    return factory.QueryInterface(*iid, object);
}
