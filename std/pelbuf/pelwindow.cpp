// Window transfers between roots, vectors and other destinations.
#include <cstring>

#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelrpc.h"
#include "std/pelbuf/pelroot.h"

namespace {

template <class T>
constexpr bool kCopiesToDestinations = std::is_same<T, unsigned char>::value ||
                                       std::is_same<T, ccPackedRGB16Pel>::value ||
                                       std::is_same<T, ccPackedRGB32Pel>::value;

// r must lie inside a root of width x height whose pels are elsewhere: it
// goes to a peer or a service as it is.
void checkWithin(const ccPelRect& r, int32_t width, int32_t height)
{
    if (r.x0() < 0 || r.y0() < 0 || r.x1() > width || r.y1() > height)
        throw ccPel::BadWindow();
}

// r must lie inside a root of width x height whose pels are here (data);
// an empty r asks for nothing.
void checkInside(const ccPelRect& r, int32_t width, int32_t height, const void* data)
{
    if (r.width() == 0 || r.height() == 0)
        return;
    if (!data)
        throw ccPel::BadWindow();
    checkWithin(r, width, height);
}

// The image-transfer service of a communicator that reaches its pels
// directly; ccBadPointer when it offers none.
ccImageTransfer& serviceOf(ccCommunicator& c)
{
    ccImageTransfer* service = c.imageTransfer();
    if (!service)
        throw ccBadPointer();
    return *service;
}

// h rows of w pels, each row stride pels after the previous one on its side;
// one block when the rows touch on both sides.
template <class T>
void copyRows(T* to, size_t toStride, const T* from, size_t fromStride, int32_t w, int32_t h)
{
    const size_t row = size_t(w) * sizeof(T);
    if (toStride == size_t(w) && fromStride == size_t(w)) {
        std::memcpy(to, from, row * size_t(h));
        return;
    }
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(to + size_t(y) * toStride, from + size_t(y) * fromStride, row);
}

} // namespace

template <class T>
void ccPelRoot<T>::getWindow(const ccPelRect& r, std::vector<T>& pels) const
{
    checkInside(r, width_, height_, data_);
    const int32_t w = int32_t(r.width()), h = int32_t(r.height());
    const size_t count = size_t(w) * size_t(h);
    if (pels.size() != count)
        pels.resize(count);
    if (count)
        copyRows(pels.data(), size_t(w), data_ + size_t(r.y0()) * size_t(stride_) + r.x0(), size_t(stride_), w, h);
}

template <class T>
void ccPelRoot<T>::putWindow(const ccPelRect& r, const std::vector<T>& pels)
{
    checkInside(r, width_, height_, data_);
    const int32_t w = int32_t(r.width()), h = int32_t(r.height());
    const size_t count = size_t(w) * size_t(h);
    if (pels.size() < count)
        throw ccPel::BadWindow();
    markModified();
    if (count)
        copyRows(data_ + size_t(r.y0()) * size_t(stride_) + r.x0(), size_t(stride_), pels.data(), size_t(w), w, h);
}

template <class T>
ccPelRoot<T>* ccPelRoot<T>::copyToDestination(const ccPelRect& r, ccRPCDestination target, bool transferFlag,
                                              bool* accepted) const
{
    if constexpr (!kCopiesToDestinations<T>) {
        (void)r;
        (void)target;
        (void)transferFlag;
        (void)accepted;
        return nullptr;
    } else {
        if (destination_) {
            if (destination_ == target)
                return nullptr;
            checkWithin(r, width_, height_);
            const int32_t w = int32_t(r.width()), h = int32_t(r.height());
            ccCommunicatorHold c(destination_);
            uint32_t id = remoteId_;
            ccPelRect from = r;
            int32_t fromWidth = width_;
            if (!c->isClosed()) {
                // The target goes out for 8-bit pels; packed pels send no
                // defined value, and 0 is what goes.
                int32_t inOut = std::is_same<T, unsigned char>::value ? int32_t(target.id()) : 0;
                // Pels sent in the reply go straight into the new root.
                std::unique_ptr<ccPelRoot<T>> local;
                const auto rows = [&] {
                    local = std::make_unique<ccPelRoot<T>>(w, h, 32);
                    return ccPelRows<T>{local->dataStart(), size_t(local->stride()), w, h};
                };
                (void)cc_PelRootCalls::fetch<T>(destination_, remoteId_, T{}, r, transferFlag, inOut, accepted, rows);
                if (inOut < 0)
                    return local.release();
                if (!std::is_same<T, unsigned char>::value)
                    return nullptr;
                // The peer made a root of its own for the pels: copy that.
                id = uint32_t(inOut);
                from = ccPelRect(0, 0, w, h);
                fromWidth = w;
            }
            if constexpr (std::is_same<T, unsigned char>::value) {
                ccPelBuffer<unsigned char> into(r, 32);
                serviceOf(*c.get()).transfer(into, from, fromWidth, id, transferFlag);
                return static_cast<ccPelRoot<T>*>(into.releaseRoot());
            } else {
                return nullptr; // packed pels are not copied from a closed destination
            }
        }
        const int32_t w = int32_t(r.width()), h = int32_t(r.height());
        std::vector<T> pels;
        getWindow(r, pels);
        if (!target) {
            // To this process: a local copy.
            auto local = std::make_unique<ccPelRoot<T>>(w, h, 32);
            local->putWindow(ccPelRect(0, 0, w, h), pels);
            return local.release();
        }
        const uint32_t id = cc_PelRootCalls::create<T>(target, w, h, pels);
        return new ccPelRoot<T>(target, id, w, h);
    }
}

template <class T>
template <class U, typename std::enable_if<std::is_same<U, unsigned char>::value, int>::type>
void ccPelRoot<T>::copyWindowInto(const ccPelRect& r, cc_PelRoot& target, const ccPelPoint& point,
                                  bool transferFlag) const
{
    if (!destination_ || target.destination())
        return;
    checkWithin(r, width_, height_);
    auto* local = dynamic_cast<ccPelRoot<unsigned char>*>(&target);
    if (!local)
        throw ccPel::Unknown();
    ccPelRoot<unsigned char>& into = *local;
    const int32_t w = int32_t(r.width()), h = int32_t(r.height());
    const ccPelRect q(point.x, point.y, w, h);
    // Checked before the fetch: a transfer flag has the peer give its pels up.
    checkInside(q, into.width(), into.height(), into.dataStart());
    ccCommunicatorHold c(destination_);
    uint32_t id = remoteId_;
    ccPelRect from = r;
    int32_t fromWidth = width_;
    if (!c->isClosed()) {
        int32_t inOut = 0;
        std::vector<unsigned char> pels =
            cc_PelRootCalls::fetch<unsigned char>(destination_, remoteId_, 0, r, transferFlag, inOut);
        if (inOut < 0) {
            into.putWindow(q, pels);
            return;
        }
        // The peer made a root of its own for the pels: copy that.
        id = uint32_t(inOut);
        from = ccPelRect(0, 0, w, h);
        fromWidth = w;
    }
    // The service fills a buffer over the target; a borrowed count keeps
    // the buffer's release from disposing of a target that nobody held. The
    // caller holds this root for the length of the copy.
    struct Borrow {
        explicit Borrow(cc_PelRoot& r) : root(r) { root.ccRepBase::addRef(); }
        ~Borrow() { root.ccRepBase::release(); }
        cc_PelRoot& root;
    } borrowed(into);
    ccPelBuffer<unsigned char> buffer(&into);
    buffer.setWindow(q, false);
    // The service copies the source rectangle into the buffer's window.
    serviceOf(*c.get()).transfer(buffer, from, fromWidth, id, transferFlag);
}

#define cmPelWindowInstances(T)                                                                   \
    template void ccPelRoot<T>::getWindow(const ccPelRect&, std::vector<T>&) const;               \
    template void ccPelRoot<T>::putWindow(const ccPelRect&, const std::vector<T>&);               \
    template ccPelRoot<T>* ccPelRoot<T>::copyToDestination(const ccPelRect&, ccRPCDestination, bool, bool*) const;
cmPelWindowInstances(unsigned char)
cmPelWindowInstances(signed char)
cmPelWindowInstances(unsigned short)
cmPelWindowInstances(short)
cmPelWindowInstances(uint32_t)
cmPelWindowInstances(int32_t)
cmPelWindowInstances(double)
cmPelWindowInstances(ccPackedRGB16Pel)
cmPelWindowInstances(ccPackedRGB32Pel)
#undef cmPelWindowInstances
template void ccPelRoot<unsigned char>::copyWindowInto<unsigned char, 0>(const ccPelRect&, cc_PelRoot&,
                                                                         const ccPelPoint&, bool) const;
