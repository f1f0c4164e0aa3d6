// The 51 formats built into the library, made once in table order at start-up
// (ccAcqVidfmtStartup), one accessor each. An accessor returns the format
// registered under its name, which is the built-in one unless a format of the
// same name came first.
#pragma once
#include <cstddef>

#include "acq/vidfmt/vidfmt.h"

#define QORX_BUILTIN_VIDEO_FORMATS(X)                                                                     \
    X(SonyXC75_640x480) X(SonyXCST50_640x480) X(PulnixTM7EX_640x480) X(SentechSTCR640CCFA_640x480)       \
    X(ToshibaIKM41MA_320x240) X(PulnixTMC7DSP_632x480) X(JaiCVM90_640x480) X(ReserveCameraFormat4)        \
    X(ReserveCameraFormat3) X(SonyXC7500_640x480) X(SonyDXC390_640x480) X(SonyXC003P_760x574)             \
    X(SonyXC003_640x480) X(TestLS_8192x7424) X(TestLS_4096x4096) X(NEDLSFTH_2048)                          \
    X(MitsubishiDLSSCD_2048x2048) X(MitsubishiLSSCD_2048) X(DalsaDLSSP11_2048x2048) X(TestLS_2048x2048)   \
    X(BaslerL103_2048x2048) X(BaslerL401kBIC_4032x4032) X(BaslerL203_4096x4096)                           \
    X(DalsaDLSSP11_1024x4096) X(MitsubishiDLSSCD_1024x4096) X(HitachiKPF100_1280x1024)                    \
    X(ReserveCameraFormat0) X(ToshibaIK542_640x480) X(PulnixTM9701_640x480) X(SonyXC55BB_640x480)         \
    X(ReserveCameraFormat2) X(ReserveCameraFormat1) X(QoraltKMC4400_640x480) X(QoraltNullFormat)          \
    X(SonyXCST50CERR_380x287) X(SonyXCST50CE_380x287) X(SonyXCST50CE_760x287) X(SonyXCST50CE_760x574)    \
    X(SonyXCST50RR_320x240) X(SonyXCST50_320x240) X(SonyXC75_640x240) X(PulnixTM7EX_640x240)              \
    X(SonyXCST50_640x240) X(SonyXC75RR_320x240) X(SonyXC75CERR_380x287) X(SonyXC75CE_760x287)             \
    X(SonyXC75CE_760x574) X(SonyXC75CE_380x287) X(SonyXC75_320x240) X(PulnixTM7EX_320x240)                \
    X(PulnixTM6CN_760x574)

#define QORX_DECLARE_BUILTIN_VIDEO_FORMAT(Name) ccStdVideoFormat& ccVidFmt##Name();
QORX_BUILTIN_VIDEO_FORMATS(QORX_DECLARE_BUILTIN_VIDEO_FORMAT)
#undef QORX_DECLARE_BUILTIN_VIDEO_FORMAT

constexpr size_t kBuiltinVideoFormatCount = 51;

// The accessor of row index (0 to 50) of the table.
ccStdVideoFormat& ccBuiltinVideoFormat(size_t index);
