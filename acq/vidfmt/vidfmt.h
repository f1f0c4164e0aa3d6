// Named video formats: the ways a camera delivers images, each able to make
// acquisition FIFOs for a frame grabber. Every format is entered by its name
// in two process-wide registries (all formats, standard formats), sorted by
// UTF-16 code units; a newer format of the same name displaces the older one,
// which leaves the registries but lives on. Formats come from the built-in
// table (builtin.h), from camera-configuration files (read once, at the
// first look-up by name or listing) and from the driver module.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "acq/acqfifo.h"
#include "std/except/except.h"

class ccFrameGrabber;
class ccStdGreyAcqFifo;

// The fixed facts of a format. Width, height and depth are -1 when not given.
// A format whose record is not registered is never entered in the registries.
struct cs_vidFmtRecord {
    const char16_t* name;
    int32_t width;
    int32_t height;
    int32_t depth;
    uint8_t interlaced;
    uint8_t reducedSize;
    uint8_t registered;
    uint8_t boardDriven;
};

// Records of a format kept under its name beside the format. Each registers
// itself when made and unregisters when it goes (only itself: a record of
// the same name made later is left alone).
class cc_VidFormatExtension {
public:
    explicit cc_VidFormatExtension(const std::wstring& name);
    cc_VidFormatExtension(const cc_VidFormatExtension&) = delete;
    cc_VidFormatExtension& operator=(const cc_VidFormatExtension&) = delete;
    virtual ~cc_VidFormatExtension();

    const std::wstring& name() const { return name_; }

private:
    std::wstring name_;
};

// Camera information. Records are appended, so a look-up finds the first one
// made under a name.
class cc_VidFmtCameraInfo : public cc_VidFormatExtension {
public:
    // With parseName the strings are taken from the name (manufacturer, then
    // model, resolution and drive type, separated by blanks, tabs or ";", and
    // the options between "(" and ")"); otherwise they stay empty.
    cc_VidFmtCameraInfo(const std::wstring& name, bool parseName);
    ~cc_VidFmtCameraInfo() override;

    // The first registered record of the name, or null.
    static const cc_VidFmtCameraInfo* find(const std::wstring& name);

    std::wstring manufacturer, model, resolution, driveType, options;
    // The format this one stands for; empty for none.
    std::wstring alias;
    bool fromFile = false;
};

// The other three records replace every record of the same name in their
// registry when made. A camera-configuration file fills them; enumerations
// hold the index of the file's name, and one past the last name (or -1 for
// the pel type) means the file gave none.
class cc_VidFmtVideoInfo : public cc_VidFormatExtension {
public:
    explicit cc_VidFmtVideoInfo(const std::wstring& name);
    ~cc_VidFmtVideoInfo() override;
    static const cc_VidFmtVideoInfo* find(const std::wstring& name);

    int32_t videoInterface = 5;
    int32_t videoEncoding = 7;
    int32_t bitsPerPel = -1;
    // A module pel-format code; -1 when none was given.
    int32_t pelType = -1;
    int32_t taps = -1;
    int32_t horizReference = 3;
    int32_t verticalReference = 3;
    int32_t pclkSource = 3;
    double pclkFrequency = -1.0;
    int32_t activeStart = -1;
    int32_t htotal = -1;
    int32_t vtotal = -1;
    int32_t numberOfFields = -1;
    int32_t xSubsampling = -1;
    int32_t shutterMode = 5;
    int32_t strobeMode = 4;
    double ctiWidthMin = -1.0;
    double ctiEndField0 = -1.0;
    double fileVersion = 0.0;
};

class cc_VidFmtSignalInfo : public cc_VidFormatExtension {
public:
    explicit cc_VidFmtSignalInfo(const std::wstring& name);
    ~cc_VidFmtSignalInfo() override;
    static const cc_VidFmtSignalInfo* find(const std::wstring& name);

    int32_t inputWidth = -1;
    int32_t tapInterleave = 4;
    int32_t colorPlaneOrder = 0;
    int32_t hdDirection = 1;
    int32_t hdReferenceType = 2;
    int32_t hdInterface = 0;
    int32_t hdSignal = 0;
    int32_t hdPolarity = 2;
    int32_t hlockPosition = -1;
    int32_t vdDirection = 1;
    int32_t vdReferenceType = 2;
    int32_t vdInterface = 0;
    int32_t vdSignal = 0;
    int32_t vdPolarity = 2;
    double vlockPosition = -1.0;
    int32_t ctrl1Direction = 2;
    int32_t ctrl1Interface = 3;
    int32_t ctrl1Polarity = 2;
    int32_t ctrl2Direction = 2;
    int32_t ctrl2Interface = 3;
    int32_t ctrl2Polarity = 2;
    int32_t pclkDirection = 3;
    int32_t pclkInterface = 3;
    int32_t aoiPerField = 1;
    double shutterMinExposure = -1.0;
    double shutterMaxExposure = -1.0;
    int32_t shutterGranularity = 2;
    int32_t shutterLine = 3;
    double ctiEndField0 = -1.0;
    bool rapidReset = false;
    int32_t rapidResetMinPosition = INT32_MIN;
    bool shutterPerField = false;
    int32_t initAcqCount = 1;
    bool originInField0 = true;
    bool shutterCapable = false;
};

class cc_VidFmtCamLinkInfo : public cc_VidFormatExtension {
public:
    explicit cc_VidFmtCamLinkInfo(const std::wstring& name);
    ~cc_VidFmtCamLinkInfo() override;
    static const cc_VidFmtCamLinkInfo* find(const std::wstring& name);

    std::wstring alias;
};

// The extension records a format's owner made for it (null: none).
struct cs_vidFmtExtensions {
    const cc_VidFmtVideoInfo* videoInfo = nullptr;
    const cc_VidFmtSignalInfo* signalInfo = nullptr;
    const cc_VidFmtCameraInfo* cameraInfo = nullptr;
    const cc_VidFmtCamLinkInfo* camLinkInfo = nullptr;
};

// A format's description: its record and the extension records its owner
// gives, which must live as long as the description. Records registered
// under the same name by others (a file's format and a module's may share a
// name) are never taken: their owners may free them first. The one
// exception: under a built-in format's name the built-in camera information
// is taken, which lives for the whole process.
class cc_VidFmtDesc {
public:
    // defaultModuleCode: -1 when none is given.
    cc_VidFmtDesc(const cs_vidFmtRecord* record, int32_t defaultModuleCode, const cs_vidFmtExtensions& own = {});
    cc_VidFmtDesc(const cc_VidFmtDesc&) = delete;
    cc_VidFmtDesc& operator=(const cc_VidFmtDesc&) = delete;

    const cs_vidFmtRecord* record() const { return record_; }
    const cc_VidFmtVideoInfo* videoInfo() const { return videoInfo_; }
    const cc_VidFmtSignalInfo* signalInfo() const { return signalInfo_; }
    const cc_VidFmtCameraInfo* cameraInfo() const { return cameraInfo_; }
    const cc_VidFmtCamLinkInfo* camLinkInfo() const { return camLinkInfo_; }
    int32_t defaultModuleCode() const { return defaultModuleCode_; }

private:
    const cs_vidFmtRecord* record_;
    const cc_VidFmtVideoInfo* videoInfo_;
    const cc_VidFmtSignalInfo* signalInfo_;
    const cc_VidFmtCameraInfo* cameraInfo_;
    const cc_VidFmtCamLinkInfo* camLinkInfo_;
    int32_t defaultModuleCode_;
};

class ccStdVideoFormat;

class ccVideoFormat {
public:
    // The frame grabber or the board limits refuse the format or pel format.
    cmDeclareException(NotSupported, ccException, 0x10000981u, "class ccVideoFormat::NotSupported");
    // No format of the name, also when an alias names none or leads back to
    // a format already passed.
    cmDeclareException(NotFound, ccException, 0x100009A8u, "class ccVideoFormat::NotFound");

    ccVideoFormat(const ccVideoFormat&) = delete;
    ccVideoFormat& operator=(const ccVideoFormat&) = delete;

    // A new FIFO of the format's own kind, which the caller owns.
    virtual ccAcqFifo* newAcqFifo(const ccFrameGrabber& grabber) const = 0;
    // Leaves the all-formats registry.
    virtual ~ccVideoFormat();

    // The record's UTF-16 name.
    const char16_t* name() const;
    // The format's own camera information (no alias followed); null without
    // a record or for an empty string.
    const wchar_t* cameraManufacturer() const;
    const wchar_t* cameraModel() const;
    const wchar_t* formatResolution() const;
    const wchar_t* formatDriveType() const;
    const wchar_t* formatOptions() const;
    bool cameraInfoFromFile() const;

    // With followAlias, the description of the format the alias chain ends
    // at (NotFound for a missing or repeated format).
    const cc_VidFmtDesc& description(bool followAlias) const;
    // The public pel-format code FIFOs are made in by default; -1 for none.
    int32_t defaultPelFormat() const;
    // A new FIFO the caller owns, for a public pel-format code (-1: the
    // default). Codes 1, 3, 4 and 12 make the standard kinds, any other a
    // ccStdAcqFifo over what the engine makes for the module code.
    // NotSupported when the grabber refuses the format and code asked for.
    ccAcqFifo* newAcqFifo(const ccFrameGrabber& grabber, int32_t pelFormat) const;
    // Left out of the grabber's lists; false without an engine.
    bool isRestrictedOn(const ccFrameGrabber& grabber) const;

    // After the camera-configuration formats are loaded: the format of
    // exactly this name, or NotFound.
    static ccVideoFormat& getFormat(const std::wstring& name);
    // Copies of the registries, after the camera-configuration formats are
    // loaded.
    static std::vector<ccVideoFormat*> allFormats();
    static std::vector<ccStdVideoFormat*> allStdFormats();

    // Reads the camera-configuration formats once, under the library mutex.
    // The reader answers false when reading is switched off: the next call
    // tries again, as it does after a reader that throws.
    static void ensureCcfFormatsLoaded();
    // Installed by the camera-configuration reader's start-up; without one
    // there is nothing to read. Installing lets the next look-up read.
    typedef bool (*CcfReader)();
    static void installCcfReader(CcfReader reader);

protected:
    explicit ccVideoFormat(const cc_VidFmtDesc* description) : desc_(description) {}

    const cc_VidFmtDesc* desc_;
};

class ccGreyVideoFormat : public ccVideoFormat {
public:
    virtual ccGreyAcqFifo* newGreyAcqFifo(const ccFrameGrabber& grabber) const = 0;

protected:
    using ccVideoFormat::ccVideoFormat;
};

class ccStdGreyVideoFormat : public ccGreyVideoFormat {
public:
    using ccVideoFormat::newAcqFifo;
    // Both make a grey FIFO; NotSupported unless the grabber supports the
    // format as grey 8 or Bayer 8.
    ccAcqFifo* newAcqFifo(const ccFrameGrabber& grabber) const override;
    ccGreyAcqFifo* newGreyAcqFifo(const ccFrameGrabber& grabber) const override;

protected:
    using ccGreyVideoFormat::ccGreyVideoFormat;
};

class ccStdVideoFormat : public ccStdGreyVideoFormat {
public:
    // Enters both registries (when the record is registered); the
    // description is not owned.
    explicit ccStdVideoFormat(const cc_VidFmtDesc* description);
    // Leaves the standard registry, then the other.
    ~ccStdVideoFormat() override;
};

// Public pel-format codes 1..19 and module codes 0..18, one to one; -1 for
// anything else.
int32_t cf_pelFormatToModuleCode(int32_t pelFormat);
int32_t cf_moduleCodeToPelFormat(int32_t moduleCode);

// The formats of the list, in order, that the grabber supports for the code.
std::vector<ccVideoFormat*> cf_formatsSupportedBy(const std::vector<ccVideoFormat*>& formats,
                                                  const ccFrameGrabber& grabber, int32_t pelFormat);
