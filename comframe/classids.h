// The class ids of the module's classes, its type library and its AppID.
#pragma once
#include "platform/com/base.h"

extern const CLSID CLSID_QorAcqFifo7320;
extern const CLSID CLSID_QorFrameGrabber7320s;
extern const CLSID CLSID_QorFrameGrabber7320;
extern const GUID LIBID_Qorx7320;
extern const GUID APPID_Qorx7320;
