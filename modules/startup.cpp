#include "modules/startup.h"

#include <mutex>

#include "acq/vidfmt/startup.h"
#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/devices.h"
#include "modules/imaging.h"
#include "modules/parallel_io.h"
#include "modules/unknownfg.h"
#include "std/except/persist.h"

void ccModulesStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqVidfmtStartup();

        ccRegisterPersistent<ccParallelIO::CannotEnable>();
        ccRegisterPersistent<ccParallelIO::NotEnabled>();
        ccRegisterPersistent<ccParallelIO::BadParams>();
        ccRegisterPersistent<ccParallelIO::NotImplemented>();
        ccRegisterPersistent<ccParallelIO::Unspecified>();

        ccRegisterPersistent<ccBoard::BadParams>();
        ccRegisterPersistent<ccBoard::StaticInitDisorder>();
        ccRegisterPersistent<ccBoard::NotSupported>();
        ccRegisterPersistent<ccBoard::HardwareNotResponding>();
        ccRegisterPersistent<ccBoard::HardwareNotInitialized>();
        ccRegisterPersistent<ccBoard::HardwareInUse>();
        ccRegisterPersistent<ccBoard::Timeout>();
        ccRegisterPersistent<ccBoard::FpgaLoadFailure>();
        ccRegisterPersistent<ccBoard::BadEERAMContents>();
        ccRegisterPersistent<ccBoard::MultiProcessAccessFailed>();

        ccRegisterPersistent<ccAccelerator::BadFile>();
        ccRegisterPersistent<ccAccelerator::BootFailure>();
        ccRegisterPersistent<ccAccelerator::ConnectionBroken>();

        // A driver module may send it too.
        ccRegisterPersistent<ccUnknownFG::MissingFunctionality>();

        ccRegisterPersistent<ccCameraPort::BadParams>();
        ccRegisterPersistent<ccQorLinkFrameGrabber::BadParams>();

        ccRegisterPersistent<ccGigEVisionCamera::NetworkError>();
        ccRegisterPersistent<ccGigEVisionCamera::CameraError>();
        ccRegisterPersistent<ccGigEVisionCamera::FeatureError>();
        ccRegisterPersistent<ccImagingDevice::FeatureError>();

        // Before any module is loaded: boards are built as it loads.
        (void)cc_UnknownModule::setBoardBuilder(&ccBuildModuleBoard);
    });
}
