// The board's non-volatile memory (EERAM), reached through the driver module,
// and the conversion of its bytes to text.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/ccicomponent.h"
#include "modules/modptr.h"

class cc_UnknownFrameGrabber;

// Whether c prints, the same in every locale: not a C0 or C1 control, DEL,
// a surrogate or a value outside Unicode.
bool ccIsPrintable(wchar_t c);

// What reads a board's information store.
class cc_Info {
public:
    cc_Info() = default;
    cc_Info(const cc_Info&) = delete;
    cc_Info& operator=(const cc_Info&) = delete;

    // Each byte is one character; one that does not print becomes '?'.
    virtual void toPrintableString(std::wstring& out, const std::vector<uint8_t>& bytes) const;
    virtual bool isAvailable() const = 0;
    virtual void hookWord(uint32_t) {}
    virtual void hookWords(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
    virtual ~cc_Info();
    virtual uint32_t size() = 0;
    virtual uint32_t auxSize() { return 0; }
    virtual void auxWrite(uint32_t, uint32_t) {}
    virtual bool checkA() { return true; }
    virtual bool checkB() { return true; }
    virtual bool checkC() { return true; }
    virtual void read(uint32_t offset, uint8_t* buffer, uint32_t count) = 0;
    virtual void write(uint32_t offset, const uint8_t* buffer, uint32_t count) = 0;
    virtual int32_t queryWord() { return 0; }
};

// Forwards to the module's EERAM (52) and its auxiliary store (81, optional);
// a failing call raises the module's error through the board's engine.
class cc_UnknownEERAMAccessor : public cc_Info {
public:
    cc_UnknownEERAMAccessor(cc_ModPtr<ccIComponent_EERAM> eeram, cc_ModPtr<ccIComponent_EERAMAux> aux,
                            const cc_UnknownFrameGrabber& errors);

    bool isAvailable() const override { return true; }
    uint32_t size() override;
    uint32_t auxSize() override;
    void auxWrite(uint32_t a, uint32_t b) override;
    void read(uint32_t offset, uint8_t* buffer, uint32_t count) override;
    void write(uint32_t offset, const uint8_t* buffer, uint32_t count) override;

private:
    cc_ModPtr<ccIComponent_EERAM> eeram_;
    cc_ModPtr<ccIComponent_EERAMAux> aux_;
    const cc_UnknownFrameGrabber* errors_;
};

// The accessor of board; null when the board offers no EERAM (52). errors
// must outlive the accessor.
std::unique_ptr<cc_Info> ccCreateEERAMAccessor(ccIUnknown* board, const cc_UnknownFrameGrabber& errors);
