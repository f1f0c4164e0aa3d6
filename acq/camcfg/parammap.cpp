#include "acq/camcfg/parammap.h"

#include <map>

namespace {

const wchar_t* const kFormat = L"format";
const wchar_t* const kDcam = L"1394dcam";
const wchar_t* const kCamLink = L"camlink";
const wchar_t* const kVs = L"vs";
const wchar_t* const kCcf = L"ccf";

typedef std::map<std::wstring, std::map<std::wstring, const cc_CCFParameterMap::Row*>> Index;

} // namespace

const std::vector<cc_CCFParameterMap::Row>& cc_CCFParameterMap::rows()
{
    // Never destroyed: files may still be parsed while the process exits.
    static const std::vector<Row>* const table = new std::vector<Row>{
        {0, kFormat, L"name", &cc_CamConfigString::create},
        {1, kFormat, L"width", &cc_CamConfigInt32::create},
        {2, kFormat, L"height", &cc_CamConfigInt32::create},
        {3, kFormat, L"video_interface", &cc_CamConfigVidInterface::create},
        {4, kFormat, L"input_width", &cc_CamConfigInt32::create},
        {5, kFormat, L"video_encoding", &cc_CamConfigVidEncode::create},
        {6, kFormat, L"bits_per_pel", &cc_CamConfigInt32::create},
        {7, kFormat, L"peltype", &cc_CamConfigPelType::create},
        {8, kFormat, L"taps", &cc_CamConfigInt32::create},
        {9, kFormat, L"tap_interleave", &cc_CamConfigInterleave::create},
        {10, kFormat, L"color_plane_order", &cc_CamConfigColorPlaneOrder::create},
        {11, kFormat, L"hd_direction", &cc_CamConfigDirection::create},
        {12, kFormat, L"hd_interface", &cc_CamConfigInterface::create},
        {13, kFormat, L"hd_signal", &cc_CamConfigHdSignal::create},
        {14, kFormat, L"hd_polarity", &cc_CamConfigPolarity::create},
        {15, kFormat, L"horiz_reference", &cc_CamConfigSigReference::create},
        {16, kFormat, L"horiz_reference_type", &cc_CamConfigRefType::create},
        {17, kFormat, L"hlock_position", &cc_CamConfigInt32::create},
        {18, kFormat, L"vd_direction", &cc_CamConfigDirection::create},
        {19, kFormat, L"vd_interface", &cc_CamConfigInterface::create},
        {20, kFormat, L"vd_signal", &cc_CamConfigVdSignal::create},
        {21, kFormat, L"vd_polarity", &cc_CamConfigPolarity::create},
        {22, kFormat, L"vertical_reference", &cc_CamConfigSigReference::create},
        {23, kFormat, L"vertical_reference_type", &cc_CamConfigRefType::create},
        {24, kFormat, L"vlock_position", &cc_CamConfigDouble::create},
        {25, kFormat, L"ctrl1_direction", &cc_CamConfigDirection::create},
        {26, kFormat, L"ctrl1_interface", &cc_CamConfigInterface::create},
        {27, kFormat, L"ctrl1_polarity", &cc_CamConfigPolarity::create},
        {28, kFormat, L"ctrl2_direction", &cc_CamConfigDirection::create},
        {29, kFormat, L"ctrl2_interface", &cc_CamConfigInterface::create},
        {30, kFormat, L"ctrl2_polarity", &cc_CamConfigPolarity::create},
        {31, kFormat, L"pclk_direction", &cc_CamConfigDirection::create},
        {32, kFormat, L"pclk_source", &cc_CamConfigPclkSource::create},
        {33, kFormat, L"pclk_interface", &cc_CamConfigInterface::create},
        {34, kFormat, L"pclk_frequency", &cc_CamConfigDouble::create},
        {35, kFormat, L"htotal", &cc_CamConfigInt32::create},
        {36, kFormat, L"vtotal", &cc_CamConfigInt32::create},
        {37, kFormat, L"number_of_fields", &cc_CamConfigInt32::create},
        {38, kFormat, L"aoi_per_field", &cc_CamConfigInt32::create},
        {39, kFormat, L"x_subsampling", &cc_CamConfigInt32::create},
        {40, kFormat, L"interlace", &cc_CamConfigBool::create},
        {41, kFormat, L"hdrive", &cc_camCfgList<cs_h_timingSpec>::create},
        {42, kFormat, L"hsync", &cc_camCfgList<cs_h_timingSpec>::create},
        {43, kFormat, L"heq", &cc_camCfgList<cs_h_timingSpec>::create},
        {44, kFormat, L"hvsync", &cc_camCfgList<cs_h_timingSpec>::create},
        {45, kFormat, L"hsample", &cc_camCfgList<cs_h_timingSpec>::create},
        {46, kFormat, L"hctrl1", &cc_camCfgList<cs_h_timingSpec>::create},
        {47, kFormat, L"hctrl2", &cc_camCfgList<cs_h_timingSpec>::create},
        {48, kFormat, L"vdrive", &cc_camCfgList<cs_v_timingSpec>::create},
        {49, kFormat, L"vsync", &cc_camCfgList<cs_v_timingSpec>::create},
        {50, kFormat, L"vsample", &cc_camCfgList<cs_v_timingSpec>::create},
        {51, kFormat, L"vaoi", &cc_camCfgList<cs_v_timingSpec>::create},
        {52, kFormat, L"vstrobe", &cc_camCfgList<cs_v_timingSpec>::create},
        {53, kFormat, L"vctrl1", &cc_camCfgList<cs_v_timingSpec>::create},
        {54, kFormat, L"vctrl2", &cc_camCfgList<cs_v_timingSpec>::create},
        {55, kFormat, L"active_start", &cc_CamConfigInt32::create},
        {56, kFormat, L"rapid_reset", &cc_CamConfigBool::create},
        {57, kFormat, L"rapid_reset_min_position", &cc_CamConfigInt32::create},
        {58, kFormat, L"shutter_mode", &cc_CamConfigShutterMode::create},
        {59, kFormat, L"shutter_min_exposure", &cc_CamConfigDouble::create},
        {60, kFormat, L"shutter_max_exposure", &cc_CamConfigDouble::create},
        {61, kFormat, L"shutter_adjustment_granularity", &cc_CamConfigShutterGranularity::create},
        {62, kFormat, L"shutter_line", &cc_CamConfigShutterLine::create},
        {63, kFormat, L"shutter_per_field", &cc_CamConfigBool::create},
        {64, kFormat, L"cti_end_field0", &cc_CamConfigDouble::create},
        {65, kFormat, L"cti_end_field1", &cc_CamConfigDouble::create},
        {66, kFormat, L"cti_width_min", &cc_CamConfigDouble::create},
        {67, kFormat, L"settling_time", &cc_CamConfigDouble::create},
        {68, kFormat, L"strobe_mode", &cc_CamConfigStrobeMode::create},
        {69, kFormat, L"init_acq_count", &cc_CamConfigInt32::create},
        {70, kFormat, L"origin_in_field0", &cc_CamConfigBool::create},
        {71, kFormat, L"camera_manufacturer", &cc_CamConfigString::create},
        {72, kFormat, L"camera_model", &cc_CamConfigString::create},
        {73, kFormat, L"format_resolution", &cc_CamConfigString::create},
        {74, kFormat, L"format_drive_type", &cc_CamConfigString::create},
        {75, kFormat, L"format_options", &cc_CamConfigString::create},
        {76, kFormat, L"format_alias", &cc_CamConfigString::create},
        {77, kFormat, L"im_shutter_capable", &cc_CamConfigBool::create},
        {78, kDcam, L"format", &cc_CamConfigInt32::create},
        {79, kDcam, L"mode", &cc_CamConfigInt32::create},
        {80, kDcam, L"topy", &cc_CamConfigInt32::create},
        {81, kDcam, L"fps", &cc_CamConfigInt32::create},
        {82, kDcam, L"triggermode", &cc_CamConfigInt32::create},
        {83, kDcam, L"colorcoding", &cc_CamConfigInt32::create},
        {84, kDcam, L"bytesperpacket", &cc_CamConfigInt32::create},
        {85, kDcam, L"shutter_rel_adj_value", &cc_CamConfigDouble::create},
        {86, kDcam, L"match_exact_manufacturer", &cc_CamConfigInt32::create},
        {87, kDcam, L"match_exact_model", &cc_CamConfigInt32::create},
        {88, kCamLink, L"vfalias", &cc_CamConfigString::create},
        {89, kVs, L"version", &cc_CamConfigInt32::create},
        {90, kVs, L"revision", &cc_CamConfigInt32::create},
        {91, kCcf, L"version", &cc_CamConfigDouble::create},
        {92, kCcf, L"build_number", &cc_CamConfigInt32::create},
    };
    return *table;
}

const cc_CCFParameterMap::Row* cc_CCFParameterMap::find(const std::wstring& section, const std::wstring& key)
{
    static const Index* const index = [] {
        auto* made = new Index;
        for (const Row& row : rows())
            (*made)[row.section][row.key] = &row;
        return made;
    }();
    const auto keys = index->find(section);
    if (keys == index->end())
        return nullptr;
    const auto row = keys->second.find(key);
    return row == keys->second.end() ? nullptr : row->second;
}
