// libFuzzer target: an object loaded from a stream through the keyed archive.
// A stream either loads or fails leaving the object as it was; whatever
// loads saves as bytes that load back and save again unchanged. Nothing may
// be read past the stream, hang or leak.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comframe/archive.h"
#include "platform/com/bstr.h"
#include "tests/support/fake_persistent.h"

namespace {

std::vector<uint8_t> saved(CComObject<FakeSettings>* object)
{
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, 1, &stream))) std::abort();
    if (FAILED(object->Save(stream, 0))) std::abort(); // whatever loaded must save
    LARGE_INTEGER start{0};
    ULARGE_INTEGER end{};
    (void)stream->Seek(start, STREAM_SEEK_CUR, &end);
    (void)stream->Seek(start, STREAM_SEEK_SET, nullptr);
    std::vector<uint8_t> bytes(end.QuadPart);
    ULONG got = 0;
    if (FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got)) || got != bytes.size())
        std::abort();
    stream->Release();
    return bytes;
}

HRESULT load(CComObject<FakeSettings>* object, const uint8_t* data, size_t size)
{
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, 1, &stream))) std::abort();
    (void)stream->Write(data, static_cast<ULONG>(size), nullptr);
    LARGE_INTEGER start{0};
    (void)stream->Seek(start, STREAM_SEEK_SET, nullptr);
    const HRESULT hr = object->Load(stream);
    stream->Release();
    return hr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = (ccRegisterSerializer(), FakeSettings::registerClass(), true);
    (void)registered;
    if (size > 1 << 16) return 0;

    auto* object = FakeSettings::make();
    object->count = 12345;
    object->gain = 0.5;
    const std::vector<uint8_t> before = saved(object);
    if (FAILED(load(object, data, size))) {
        if (saved(object) != before) std::abort(); // a failed load changed the object
    } else {
        const std::vector<uint8_t> first = saved(object);
        auto* again = FakeSettings::make();
        if (FAILED(load(again, first.data(), first.size()))) std::abort();
        if (saved(again) != first) std::abort();
        again->Release();
    }
    object->Release();
    return 0;
}
