#pragma once

// Registers the folder's error classes and installs the camera-configuration
// reader that video-format look-ups run once.
void ccAcqCamcfgStartup();
