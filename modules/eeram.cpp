#include "modules/eeram.h"

#include "modules/fgproxy.h"

bool ccIsPrintable(wchar_t c)
{
    const auto u = static_cast<uint32_t>(c);
    if (u < 0x20 || (u >= 0x7F && u < 0xA0))
        return false;
    return (u < 0xD800 || u > 0xDFFF) && u <= 0x10FFFF;
}

cc_Info::~cc_Info() = default;

void cc_Info::toPrintableString(std::wstring& out, const std::vector<uint8_t>& bytes) const
{
    out.clear();
    out.reserve(bytes.size());
    for (uint8_t byte : bytes) {
        const auto c = static_cast<wchar_t>(byte);
        out.push_back(ccIsPrintable(c) ? c : L'?');
    }
}

cc_UnknownEERAMAccessor::cc_UnknownEERAMAccessor(cc_ModPtr<ccIComponent_EERAM> eeram,
                                                 cc_ModPtr<ccIComponent_EERAMAux> aux,
                                                 const cc_UnknownFrameGrabber& errors)
    : eeram_(std::move(eeram)), aux_(std::move(aux)), errors_(&errors)
{
}

uint32_t cc_UnknownEERAMAccessor::size()
{
    uint32_t bytes = 0;
    ccModCheck(*errors_, eeram_->size(&bytes));
    return bytes;
}

uint32_t cc_UnknownEERAMAccessor::auxSize()
{
    uint32_t bytes = 0;
    if (aux_)
        ccModCheck(*errors_, aux_->size(&bytes));
    return bytes;
}

void cc_UnknownEERAMAccessor::auxWrite(uint32_t a, uint32_t b)
{
    if (aux_)
        ccModCheck(*errors_, aux_->write(a, b));
}

void cc_UnknownEERAMAccessor::read(uint32_t offset, uint8_t* buffer, uint32_t count)
{
    ccModCheck(*errors_, eeram_->read(offset, buffer, count));
}

void cc_UnknownEERAMAccessor::write(uint32_t offset, const uint8_t* buffer, uint32_t count)
{
    ccModCheck(*errors_, eeram_->write(offset, buffer, count));
}

std::unique_ptr<cc_Info> ccCreateEERAMAccessor(ccIUnknown* board, const cc_UnknownFrameGrabber& errors)
{
    cc_ModPtr<ccIComponent_EERAMAux> aux = ccModQuery<ccIComponent_EERAMAux>(board, ccIidEERAMAux);
    cc_ModPtr<ccIComponent_EERAM> eeram = ccModQuery<ccIComponent_EERAM>(board, ccIidEERAM);
    if (!eeram)
        return nullptr;
    return std::make_unique<cc_UnknownEERAMAccessor>(std::move(eeram), std::move(aux), errors);
}
