#pragma once
// The suite's message source: the catalogue of error texts and help files,
// addressed by 32-bit message ids, created by class id for each report and
// released at its end. The stand-in registered here keeps its catalogue in
// process memory; a component of the same class id may replace it.

#include "platform/com/base.h"

#include <cstdint>
#include <string>

// Calls go by slot, so the placeholders keep the used operations in place.
// Every operation returns a negative HRESULT when it has no answer.
struct IQorMessageSource : IUnknown {
    virtual HRESULT Reserved3() = 0;
    // Slot 4: the instance handle of the module that asks, and 0.
    virtual HRESULT Init(void* instance, DWORD reserved) = 0;
    // Slot 5: the language the catalogue's texts are in.
    virtual HRESULT GetLanguageId(DWORD* language) = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT Reserved7() = 0;
    // Slot 8: the text of a message.
    virtual HRESULT GetText(DWORD id, BSTR* text) = 0;
    virtual HRESULT Reserved9() = 0;
    // Slot 10: the help file of a message.
    virtual HRESULT GetHelpFile(DWORD id, BSTR* helpFile) = 0;
    virtual HRESULT Reserved11() = 0;
    virtual HRESULT Reserved12() = 0;
    virtual HRESULT Reserved13() = 0;
    // Slot 14: the text into buffer, cut to capacity - 1 units and terminated.
    virtual HRESULT LoadText(DWORD id, OLECHAR* buffer, DWORD capacity) = 0;
    // Slot 15: the same with "%1" to "%3" replaced by the arguments (null: nothing).
    virtual HRESULT FormatText(DWORD id, OLECHAR* buffer, DWORD capacity, LPCOLESTR arg1, LPCOLESTR arg2,
                               LPCOLESTR arg3)
        = 0;
};

extern const IID IID_IQorMessageSource;
extern const CLSID CLSID_QorMessageSource;

// The handle this module gives the message source's Init.
void* ccModuleInstanceHandle();

// The suite's current language as the message source reports it (created by
// class id and initialised for the call): the low 16 bits are the language id.
HRESULT ccMessageSourceLanguage(uint32_t* language);

// Registers the stand-in under CLSID_QorMessageSource (again after a test
// replaced it); its catalogue starts with the texts of the standard messages.
HRESULT ccRegisterMessageSource();

// The stand-in's catalogue, shared by all its objects.
struct ccMessageEntry {
    std::u16string text;
    std::u16string helpFile; // empty: none
};
void ccSetCatalogueMessage(uint32_t id, const ccMessageEntry& entry);
void ccRemoveCatalogueMessage(uint32_t id);
void ccSetCatalogueLanguage(uint16_t language); // initially the user's language
