#include "platform/com/stream.h"

#include "platform/com/bstr.h"
#include "platform/com/simpleobject.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The bytes of a memory stream, shared by its clones; each clone has its own position.
struct StreamBytes {
    std::mutex lock;
    std::vector<uint8_t> bytes;
};

class MemoryStream final : public plat::com::SimpleObject<IStream, IID_ISequentialStream, IID_IStream> {
public:
    explicit MemoryStream(std::shared_ptr<StreamBytes> data, uint64_t position = 0)
        : data_(std::move(data))
        , position_(position)
    {
    }


    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv && cb) return E_POINTER;
        std::lock_guard<std::mutex> guard(data_->lock);
        const uint64_t size = data_->bytes.size();
        const uint64_t available = position_ < size ? size - position_ : 0;
        const ULONG n = static_cast<ULONG>(available < cb ? available : cb);
        if (n) std::memcpy(pv, data_->bytes.data() + position_, n);
        position_ += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (!pv && cb) return E_POINTER;
        std::lock_guard<std::mutex> guard(data_->lock);
        const uint64_t end = position_ + cb;
        if (end > kMaxSize) return STG_E_MEDIUMFULL;
        try {
            if (end > data_->bytes.size()) data_->bytes.resize(end);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (cb) std::memcpy(data_->bytes.data() + position_, pv, cb);
        position_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        std::lock_guard<std::mutex> guard(data_->lock);
        int64_t base;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<int64_t>(position_); break;
        case STREAM_SEEK_END: base = static_cast<int64_t>(data_->bytes.size()); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        // Both stay within kMaxSize, so the sum cannot overflow.
        if (move.QuadPart > static_cast<int64_t>(kMaxSize) || move.QuadPart < -static_cast<int64_t>(kMaxSize))
            return STG_E_INVALIDFUNCTION;
        const int64_t target = base + move.QuadPart;
        if (target < 0 || static_cast<uint64_t>(target) > kMaxSize) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<uint64_t>(target);
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override
    {
        if (size.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
        std::lock_guard<std::mutex> guard(data_->lock);
        try {
            data_->bytes.resize(size.QuadPart);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }
    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override
    {
        if (!target) return E_POINTER;
        uint64_t read = 0, written = 0;
        uint8_t chunk[4096];
        HRESULT hr = S_OK;
        while (read < cb.QuadPart) {
            const ULONG want = static_cast<ULONG>(cb.QuadPart - read < sizeof chunk ? cb.QuadPart - read : sizeof chunk);
            ULONG got = 0;
            hr = Read(chunk, want, &got);
            if (FAILED(hr) || got == 0) break;
            read += got;
            ULONG put = 0;
            hr = target->Write(chunk, got, &put);
            written += put;
            if (FAILED(hr)) break;
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return hr;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Stat(STATSTG* stat, DWORD) override
    {
        if (!stat) return E_POINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        std::lock_guard<std::mutex> guard(data_->lock);
        stat->cbSize.QuadPart = data_->bytes.size();
        return S_OK;
    }
    HRESULT Clone(IStream** copy) override
    {
        if (!copy) return E_POINTER;
        std::lock_guard<std::mutex> guard(data_->lock);
        *copy = new (std::nothrow) MemoryStream(data_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    // Positions and sizes stay far below what 64-bit arithmetic could overflow.
    static constexpr uint64_t kMaxSize = uint64_t(1) << 40;

    std::shared_ptr<StreamBytes> data_;
    uint64_t position_; // guarded by data_->lock
};

class VariantEnumerator final : public plat::com::SimpleObject<IEnumVARIANT, IID_IEnumVARIANT> {
public:
    HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) override
    {
        if (!values && count) return E_POINTER;
        ULONG n = 0;
        std::lock_guard<std::mutex> guard(lock_);
        for (; n < count && next_ < values_->size(); ++n, ++next_) {
            VariantInit(&values[n]);
            const HRESULT hr = VariantCopy(&values[n], &(*values_)[next_]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < n; ++i) (void)VariantClear(&values[i]); // nothing owned is lost
                return hr;
            }
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        const size_t left = values_->size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        std::lock_guard<std::mutex> guard(lock_);
        next_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumVARIANT** copy) override
    {
        if (!copy) return E_POINTER;
        auto* other = new (std::nothrow) VariantEnumerator;
        if (!other) return E_OUTOFMEMORY;
        other->values_ = values_;
        std::lock_guard<std::mutex> guard(lock_);
        other->next_ = next_;
        *copy = other;
        return S_OK;
    }

    struct Values : std::vector<VARIANT> {
        ~Values()
        {
            for (VARIANT& v : *this) (void)VariantClear(&v); // clearing a copy cannot fail
        }
    };
    std::shared_ptr<Values> values_;

private:
    std::mutex lock_;
    size_t next_ = 0;
};

} // namespace

HRESULT CreateStreamOnHGlobal(void* memory, int32_t, IStream** stream)
{
    if (!stream) return E_POINTER;
    *stream = nullptr;
    if (memory) return E_INVALIDARG;
    try {
        *stream = new MemoryStream(std::make_shared<StreamBytes>());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

namespace plat::com {

HRESULT createVariantEnumerator(const VARIANT* values, ULONG count, IEnumVARIANT** out)
{
    if (!out || (!values && count)) return E_POINTER;
    *out = nullptr;
    try {
        auto copies = std::make_shared<VariantEnumerator::Values>();
        copies->reserve(count);
        for (ULONG i = 0; i < count; ++i) {
            copies->emplace_back();
            VariantInit(&copies->back());
            const HRESULT hr = VariantCopy(&copies->back(), &values[i]);
            if (FAILED(hr)) return hr;
        }
        auto* enumerator = new VariantEnumerator;
        enumerator->values_ = std::move(copies);
        *out = enumerator;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace plat::com
