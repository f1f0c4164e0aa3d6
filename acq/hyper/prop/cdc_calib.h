// The camera's outlier-pixel correction and row/column calibration, with two
// calibration bytes the board needs beside them. Handed to the
// implementation as a whole.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccCdcCameraCalibrationProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009C2u, "class ccCdcCameraCalibrationProp::BadParams");

    static constexpr const char* kStoredName = "class ccCdcCameraCalibrationProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccCdcCameraCalibrationProp() = default;

    // Attached, the implementation reads every field from this object, and
    // its refusal puts the old flag back.
    void outlierPixelCorrectionEnabled(bool enabled);
    void rowColumnCalibrationEnabled(bool enabled);
    bool outlierPixelCorrectionEnabled() const { return fields_.outlier; }
    uint8_t firstCalibrationByte() const { return fields_.first; }
    uint8_t secondCalibrationByte() const { return fields_.second; }
    bool rowColumnCalibrationEnabled() const { return fields_.rowColumn; }

    // Takes the implementation's outlier correction default and hands it the
    // whole record. If the implementation refuses it, the property stays as
    // it was, attached to what it was attached to before. Null detaches.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, then the four fields as bytes in
    // their order; a load hands the record over once.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    struct Fields {
        bool outlier = false;
        uint8_t first = 85;
        uint8_t second = 25;
        bool rowColumn = true;
    };
    void set(const Fields& fields);

    Fields fields_;
    cc_AcqFifo* fifo_ = nullptr;
};
