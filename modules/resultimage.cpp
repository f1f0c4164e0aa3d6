#include "modules/internal/resultimage.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <typeinfo>
#include <unordered_map>
#include <utility>

#include "modules/accelerator.h"
#include "modules/acqmodule.h"
#include "modules/fgproxy.h"
#include "modules/pelpackages.h"
#include "std/except/resource.h"
#include "std/math/xflinear.h"
#include "std/pelbuf/pelroot3.h"
#include "std/threadid.h"
#include "std/timeout.h"

namespace {

// The result objects of the remote packages alive, by the id their roots
// carry. Made on first use and never destroyed: packages may go late at exit.
struct ResultTable {
    std::mutex lock;
    std::unordered_map<uint32_t, ccIUnknown*> results;
    uint32_t last = 0;

    static ResultTable& instance()
    {
        static ResultTable* table = new ResultTable;
        return *table;
    }

    uint32_t add(ccIUnknown* result)
    {
        std::lock_guard<std::mutex> hold(lock);
        // 0 names nothing; an id still in use is skipped.
        do
            ++last;
        while (last == 0 || results.count(last) != 0);
        results.emplace(last, result);
        return last;
    }
    void remove(uint32_t id)
    {
        std::lock_guard<std::mutex> hold(lock);
        results.erase(id);
    }
};

// A buffer whose window's image coordinates can be set; it goes to the
// caller's buffer only once it is whole.
template <class Buffer>
class Placed : public Buffer {
public:
    using Buffer::Buffer;
    void placeAt(const ccPelPoint& offset) { this->setWindowOffset(offset); }
};

// The window, offset and client transform that the result reports. Every out
// value is preset: a call that fails reports no offset and no transform.
template <class Buffer>
void applyGeometry(Placed<Buffer>& buffer, ccIAcqResult_Geometry* result, int64_t x, int64_t y, int64_t width,
                   int64_t height)
{
    uint32_t offsetPresent = 0;
    uint32_t transformPresent = 0;
    int32_t offsetX = 0, offsetY = 0;
    double a = 0, b = 0, c = 0, d = 0, tx = 0, ty = 0;
    (void)result->offsetPresent(&offsetPresent);
    (void)result->windowOffset(&offsetX, &offsetY);
    (void)result->transformPresent(&transformPresent);
    (void)result->matrix(&a, &b, &c, &d);
    (void)result->translation(&tx, &ty);

    const auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (!fits(x) || !fits(y) || !fits(width) || !fits(height))
        throw ccPel::BadWindow();
    buffer.subWindow(static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
                     static_cast<int32_t>(height));
    if (offsetPresent != 0)
        buffer.placeAt(ccPelPoint{offsetX, offsetY});
    // The module's transform maps the other way: the cache keeps it as given
    // and makes its inverse the buffer's.
    if (transformPresent != 0)
        buffer.setClientXform(new cc2XformLinear(cc2Matrix(a, b, c, d), cc2Vect(tx, ty)), false);
}

struct Window {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

Window windowOf(ccIAcqResult_Geometry* result)
{
    Window w;
    (void)result->window(&w.x, &w.y, &w.width, &w.height);
    return w;
}

bool framePresent(ccIAcqResult_Geometry* result)
{
    uint32_t present = 0;
    return result->framePresent(&present) == 0 && present != 0;
}

// A root over package, which it owns from the call on (also when the root's
// allocation fails).
template <class T>
cc_PelRoot* rootOver(std::unique_ptr<cc_PelPackage> package)
{
    // The allocation comes before the argument is evaluated.
    return new ccPelRoot<T>(package.release());
}

template <class T>
void packedFrom(ccIAcqResult_Format* format, ccIAcqResult_Image* image, ccPelBuffer<T>& out)
{
    out = ccPelBuffer<T>();
    if (!framePresent(image))
        return;
    void* address = nullptr;
    (void)format->planeAddress(0, &address);
    if (address == nullptr)
        return;
    Placed<ccPelBuffer<T>> buffer;
    buffer.bind(rootOver<T>(std::make_unique<cc_ModPelPackage>(image, address)));
    const Window w = windowOf(image);
    applyGeometry(buffer, image, w.x, w.y, w.width, w.height);
    out = buffer;
}

template <class T>
void* dataOf(cc_PelRoot& root)
{
    auto* typed = dynamic_cast<ccPelRoot<T>*>(&root);
    return typed ? typed->dataStart() : nullptr;
}

// The semaphore a pool waiter sleeps on: each wake-up (a root came back)
// also signals the module's wake object. The waiting thread signals it
// after it woke, never the thread that gave the root back: that one holds
// the pool's lock, under which no module code may run.
class WakeSemaphore : public ccSemaphore {
public:
    explicit WakeSemaphore(ccIWakeObject* wake) : ccSemaphore(0, INT32_MAX), wake_(wake) {}
    bool lock(double seconds) override
    {
        const bool woken = ccSemaphore::lock(seconds);
        if (woken && wake_ != nullptr)
            (void)wake_->signal(1); // the module's own business whether it took it
        return woken;
    }

private:
    ccIWakeObject* wake_;
};

// Query and release of an object with two interfaces that the library hands
// to the module: the first answers 0 and firstId, the second secondId.
template <class First, class Second, class Object>
int32_t answerQuery(Object* object, ccIUnknown** out, int32_t id, int32_t firstId, int32_t secondId)
{
    if (out == nullptr)
        return 1;
    *out = nullptr;
    if (id == 0 || id == firstId)
        *out = static_cast<First*>(object);
    else if (id == secondId)
        *out = static_cast<Second*>(object);
    else
        return 1;
    object->addRef();
    return 0;
}

} // namespace

// ---- packages ----

cc_ModPelPackage::cc_ModPelPackage(ccIAcqResult_Geometry* result, void* address)
    : cc_PelPackage(cc_UnknownModule::packageRegistry()), address_(address)
{
    result->addRef();
    result_.reset(result);
}

cc_ModPelPackage::~cc_ModPelPackage() = default;

// The status goes unchecked: a failed read leaves 0.
int32_t cc_ModPelPackage::read(int32_t (ccIAcqResult_Geometry::*slot)(int32_t*)) const
{
    int32_t value = 0;
    (void)(result_.get()->*slot)(&value);
    return value;
}

int32_t cc_ModPelPackage::width() const { return read(&ccIAcqResult_Geometry::width); }
int32_t cc_ModPelPackage::height() const { return read(&ccIAcqResult_Geometry::height); }
int32_t cc_ModPelPackage::stride() const { return read(&ccIAcqResult_Geometry::stride); }

namespace {

void* planeAddressOf(ccIAcqResult_Format* format, uint32_t plane)
{
    void* address = nullptr;
    (void)format->planeAddress(plane, &address);
    return address;
}

} // namespace

cc_RawPelPackage::cc_RawPelPackage(ccIAcqResult_Format* format, ccIAcqResult_Image* image, uint32_t plane)
    : cc_ModPelPackage(image, planeAddressOf(format, plane))
{
    format->addRef();
    format_.reset(format);
}

int32_t cc_RawPelPackage::alignment() const
{
    const int32_t rowLength = stride(), pels = width();
    return pels > 0 && rowLength > pels ? rowLength : 1;
}

cc_RemotePelPackage::cc_RemotePelPackage(cc_ModAcceleratorProxy& destination, cc_ModPtr<ccIUnknown> result,
                                         int32_t width, int32_t height)
    : cc_PelPackage(cc_UnknownModule::packageRegistry()),
      result_(std::move(result)),
      destination_(destination.destination()),
      width_(width),
      height_(height)
{
    id_ = ResultTable::instance().add(result_.get());
}

cc_RemotePelPackage::~cc_RemotePelPackage() { ResultTable::instance().remove(id_); }

cc_ModPtr<ccIUnknown> cc_RemotePelPackage::listedResult(uint32_t remoteId)
{
    ResultTable& table = ResultTable::instance();
    std::lock_guard<std::mutex> hold(table.lock);
    const auto found = table.results.find(remoteId);
    if (found == table.results.end())
        return {};
    found->second->addRef();
    return cc_ModPtr<ccIUnknown>(found->second);
}

// ---- builders ----

void cf_packedFromResult(ccIAcqResult_Format* format, ccIAcqResult_Image* image, ccPelBuffer<ccPackedRGB16Pel>& out)
{
    packedFrom(format, image, out);
}

void cf_packedFromResult(ccIAcqResult_Format* format, ccIAcqResult_Image* image, ccPelBuffer<ccPackedRGB32Pel>& out)
{
    packedFrom(format, image, out);
}

void cf_rawFromFormat(ccIAcqResult_Format* format, ccIAcqResult_Image* image, ccPelBuffer<unsigned char>& out)
{
    out = ccPelBuffer<unsigned char>();
    if (!framePresent(image))
        return;
    void* address = nullptr;
    (void)format->planeAddress(0, &address);
    if (address == nullptr)
        return;
    int32_t code = 0;
    (void)format->pelFormat(&code);
    const int64_t twice = cf_twiceBytesPerPel(code);
    Placed<ccPelBuffer<unsigned char>> buffer;
    buffer.bind(rootOver<unsigned char>(std::make_unique<cc_ModPelPackage>(image, address)));
    // The module reports the window in pels of its format, the root in bytes.
    const Window w = windowOf(image);
    applyGeometry(buffer, image, w.x * twice >> 1, w.y, w.width * twice >> 1, w.height);
    out = buffer;
}

void cf_rawFromRawPels(ccIAcqResult_RawPels* raw, ccPelBuffer<unsigned char>& out)
{
    out = ccPelBuffer<unsigned char>();
    if (!framePresent(raw))
        return;
    void* address = nullptr;
    (void)raw->pelAddress(&address);
    if (address == nullptr)
        return;
    Placed<ccPelBuffer<unsigned char>> buffer;
    buffer.bind(rootOver<unsigned char>(std::make_unique<cc_ModPelPackage>(raw, address)));
    const Window w = windowOf(raw);
    applyGeometry(buffer, raw, w.x, w.y, w.width, w.height);
    out = buffer;
}

ccPtrHandle<ccAcqImage> cf_threePlaneFromResult(ccIAcqResult_Format* format, ccIAcqResult_Image* image)
{
    if (!framePresent(image))
        return {};
    ccPelBuffer<unsigned char> planes[3];
    for (uint32_t plane = 0; plane < 3; ++plane) {
        auto package = std::make_unique<cc_RawPelPackage>(format, image, plane);
        if (package->dataStart() == nullptr)
            return {};
        planes[plane].bind(rootOver<unsigned char>(std::move(package)));
    }
    Placed<cc3PlanePelBuffer> buffer(planes[0], planes[1], planes[2]);
    const Window w = windowOf(image);
    applyGeometry(buffer, image, w.x, w.y, w.width, w.height);
    return ccPtrHandle<ccAcqImage>(new ccAcqImage(static_cast<const cc3PlanePelBuffer&>(buffer)));
}

void cf_remoteFromResult(cc_UnknownFrameGrabber& grabber, ccIUnknown* result, ccIAcqResult_Image* image,
                         ccPelBuffer<unsigned char>& out)
{
    cc_ModPtr<ccIUnknown> held(result);
    out = ccPelBuffer<unsigned char>();
    int32_t width = 0, height = 0;
    (void)image->width(&width);
    (void)image->height(&height);
    Placed<ccPelBuffer<unsigned char>> buffer;
    buffer.bind(rootOver<unsigned char>(
        std::make_unique<cc_RemotePelPackage>(grabber.accelerator(), std::move(held), width, height)));
    const Window w = windowOf(image);
    applyGeometry(buffer, image, w.x, w.y, w.width, w.height);
    out = buffer;
}

namespace {

// Bytes per pel of a module pel format, times two; 0 for a format of no
// known size.
int32_t twiceBytesPerKnownPel(int32_t moduleFormat)
{
    switch (moduleFormat) {
    case 0:
        return 2;
    case 1:
        return 8;
    case 2: case 6: case 7: case 15:
        return 6;
    case 3: case 8: case 9: case 10: case 12: case 13: case 14: case 16:
        return 4;
    case 5:
        return 3;
    case 11:
        return 12;
    default:
        return 0;
    }
}

} // namespace

int32_t cf_twiceBytesPerPel(int32_t moduleFormat)
{
    // A frame of any other format is read as bytes.
    const int32_t twice = twiceBytesPerKnownPel(moduleFormat);
    return twice != 0 ? twice : 2;
}

// ---- the pool offered to the module ----

ccIPelPool_Core_v0* cf_newModulePelPool(const ccPtrHandle<ccPelRootPool>& pool) { return new ccNVTypPelPool(pool); }

int32_t ccNVTypPelPool::query(ccIUnknown** out, int32_t id)
{
    return answerQuery<ccIPelPool_Core_v0, ccIPelPool_Core_v1>(this, out, id, ccIidPelPoolV0, ccIidPelPoolV1);
}

uint32_t ccNVTypPelPool::release()
{
    const uint32_t count = --count_;
    if (count == 0)
        delete this;
    return count;
}

int32_t ccNVTypPelPool::questionA(uint32_t* answer)
{
    if (answer == nullptr)
        return 1;
    try {
        *answer = pool_ && pool_->firstQuery() ? 1 : 0;
    } catch (...) {
        return 1; // nothing unwinds into the module
    }
    return 0;
}

int32_t ccNVTypPelPool::questionB(uint32_t* answer)
{
    if (answer == nullptr)
        return 1;
    try {
        *answer = pool_ && pool_->secondQuery() ? 1 : 0;
    } catch (...) {
        return 1;
    }
    return 0;
}

namespace {

// A root of T pels from pool, lent as a new pool image with one reference;
// null when none came within seconds, or at once when the module's abort
// flag is set.
template <class T>
ccIUnknown* lend(ccPelRootPool& pool, int32_t width, int32_t height, ccIWakeObject* wake, double seconds,
                 bool abort)
{
    const int32_t shape = pool.classIndex(width, height, typeid(T));
    WakeSemaphore semaphore(wake);
    ccTimeout timeout(seconds);
    const std::atomic<bool> aborted{abort};
    cc_PelRoot* taken = pool.allocFromClass(shape, semaphore, timeout, &aborted);
    if (taken == nullptr)
        return nullptr;
    const ccPtrHandle<cc_PelRoot> root(taken);
    ccIImage_PoolImage_v0* lent = new ccNVTypPoolImage(root, dataOf<T>(*taken));
    lent->addRef();
    return lent;
}

} // namespace

int32_t ccNVTypPelPool::allocate(ccIUnknown** image, int32_t width, int32_t height, int32_t pelFormat,
                                 ccIWakeObject* wake, double seconds, uint32_t flag)
{
    if (image == nullptr)
        return 0;
    *image = nullptr;
    // A shape no pool makes would be waited for without end.
    if (!pool_ || width <= 0 || height <= 0)
        return 0;
    try {
        ccPelRootPool& pool = *pool_.rawPointer();
        if (pelFormat == 8) {
            *image = lend<ccPackedRGB16Pel>(pool, width, height, wake, seconds, flag != 0);
        } else if (pelFormat == 1) {
            *image = lend<ccPackedRGB32Pel>(pool, width, height, wake, seconds, flag != 0);
        } else {
            // Rows of bytes, as many per pel as the format has (format 5's
            // half byte rounded up). A format of no known size gets no frame:
            // rows guessed too short would be overrun by the module.
            const int32_t twice = twiceBytesPerKnownPel(pelFormat);
            const int64_t rowBytes = (int64_t{width} * twice + 1) / 2;
            if (twice != 0 && rowBytes <= INT32_MAX)
                *image = lend<unsigned char>(pool, static_cast<int32_t>(rowBytes), height, wake, seconds, flag != 0);
        }
    } catch (...) {
        // Nothing may unwind into the module: no frame this time.
    }
    return 0;
}

int32_t ccNVTypPelPool::detachThread()
{
    try {
        ccThreadID::detachCurrentThread();
    } catch (...) {
        return 1;
    }
    return 0;
}

int32_t ccNVTypPoolImage::query(ccIUnknown** out, int32_t id)
{
    return answerQuery<ccIImage_PoolImage_v0, ccIImage_PoolImage_v1>(this, out, id, ccIidPoolImageV0,
                                                                      ccIidPoolImageV1);
}

uint32_t ccNVTypPoolImage::release()
{
    const uint32_t count = --count_;
    if (count == 0)
        delete this; // the root goes back to its pool
    return count;
}

int32_t ccNVTypPoolImage::address(void** address)
{
    if (address == nullptr)
        return 1;
    *address = address_;
    return 0;
}

int32_t ccNVTypPoolImage::stride(int32_t* stride)
{
    if (stride == nullptr)
        return 1;
    *stride = root_.rawPointer()->stride();
    return 0;
}
