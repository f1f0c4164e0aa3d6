// From the lines of one camera-configuration file to a store, and from a
// store to a registered video format.
#pragma once
#include <cstdint>
#include <string>

#include "acq/camcfg/entry.h"
#include "acq/camcfg/fileinfo.h"
#include "std/ptrhandle.h"

// Parses one "section key = value" line into the store's entry of its key.
// An unknown section or key and an enumeration name that does not exist are
// reported on the store and skipped; a missing "=" and a bad value throw
// (cc_AcqStringHelper's errors). lineNumber -1: none to report.
void cf_parseCcfLine(cc_camCfgStore& store, const std::wstring& line, int32_t lineNumber, const std::wstring* comment);
// Fills the given store (a new one when null; a given one is shared by the
// answer, so it must be held by a handle) from the file's lines: the
// comment before the first line goes to the description, each line is
// parsed with its line number and comment. When a line's error leaves,
// failedLine (if given) holds that line's file line number, so the reader
// can name it.
ccPtrHandle<cc_camCfgStore> cf_buildCamCfgStore(const cc_ccfFileInfo& file, cc_camCfgStore* store,
                                                uint32_t* failedLine = nullptr);
// Makes and registers the store's video format (replacing the storage of an
// earlier file of the same name, whose format goes with it); false when the
// store gives no name. The storage and its records are in storage.h.
bool cf_formatFromStore(const cc_camCfgStore& store);
