// What one camera-configuration file's video format owns, the process-wide
// cache of these by format name, and the filling of a format's extension
// records from a file's store.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "acq/camcfg/entry.h"
#include "acq/vidfmt/vidfmt.h"
#include "std/ptrhandle.h"

// The record, the extension records (each made on first request, registered
// under the storage's name), the description and the format of one file.
class cc_vfStorage : public virtual ccRepBase {
public:
    explicit cc_vfStorage(const std::wstring& name);
    // The format leaves the registries first, while the record it reads its
    // name through is still there.
    ~cc_vfStorage() override;
    cc_vfStorage(const cc_vfStorage&) = delete;
    cc_vfStorage& operator=(const cc_vfStorage&) = delete;

    const std::wstring& name() const { return name_; }
    // Width, height and depth -1, registered, neither interlaced, reduced
    // nor board-driven until filled.
    cs_vidFmtRecord& record() { return record_; }

    cc_VidFmtVideoInfo& videoInfo();
    cc_VidFmtSignalInfo& signalInfo();
    // With name parsing.
    cc_VidFmtCameraInfo& cameraInfo();
    cc_VidFmtCamLinkInfo& camLinkInfo();
    // The records made so far.
    cs_vidFmtExtensions extensions() const;

    // The description over the record and the records made so far, then the
    // format over it, which registers it. Once: later calls answer the
    // format made first.
    ccStdVideoFormat& makeFormat(int32_t defaultModuleCode);
    // Null until made.
    const ccStdVideoFormat* format() const { return format_.get(); }

private:
    std::wstring name_;
    std::u16string utf16Name_; // the record's name
    cs_vidFmtRecord record_;
    std::unique_ptr<cc_VidFmtVideoInfo> videoInfo_;
    std::unique_ptr<cc_VidFmtSignalInfo> signalInfo_;
    std::unique_ptr<cc_VidFmtCameraInfo> cameraInfo_;
    std::unique_ptr<cc_VidFmtCamLinkInfo> camLinkInfo_;
    std::unique_ptr<cc_VidFmtDesc> description_;
    std::unique_ptr<ccStdVideoFormat> format_;
};

// The storages of the file formats by name. Made at first use and never
// destroyed, so that formats looked at while the process exits are still
// there. Used under the library mutex.
class cc_vfStorageCache {
public:
    // A new storage for the name, in place of any earlier one, which is
    // released (and destroyed with its format unless held elsewhere).
    static ccPtrHandle<cc_vfStorage> replace(const std::wstring& name);
    // The storage of the name; empty for none.
    static ccPtrHandle<cc_vfStorage> find(const std::wstring& name);
};

// Each record takes the store's values of its keys; a key the store has no
// value for leaves the field as it is (the signal information first resets
// the fields a file may leave unset, so no earlier file's value stays).
void cf_loadCameraInfo(cc_VidFmtCameraInfo& info, const cc_camCfgStore& store);
void cf_loadVideoInfo(cc_VidFmtVideoInfo& info, const cc_camCfgStore& store);
void cf_loadSignalInfo(cc_VidFmtSignalInfo& info, const cc_camCfgStore& store);
void cf_loadCamLinkInfo(cc_VidFmtCamLinkInfo& info, const cc_camCfgStore& store);
