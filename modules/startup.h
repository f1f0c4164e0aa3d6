// Registration of the board, accelerator, parallel-I/O and module-board
// errors, so that those the driver module or a peer sends are re-created as
// themselves.
#pragma once

// Idempotent; registers the layers below first.
void ccModulesStartup();

// The acquisition library's start-up in its fixed order: its persistent and
// error classes registered, each in its place, between the process-wide
// objects built once (trigger models, built-in video formats, FIFO kind
// tags, the camera-configuration parameter map, the device root). The
// folders' own registrations, run afterwards, find those classes registered
// and add the rest. Idempotent; runs the image layer's start-up first,
// which runs those of the layers below it.
void ccAcqLibraryStartup();
