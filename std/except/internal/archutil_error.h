// Internal to the persistence and exception core, not for callers: the
// archive error raised by the object records, the object table and the type
// records, all reported under one source name.
#pragma once
#include "std/except/archive.h"

#define cmArchutilError(Name) ccArchive::Name("archutil", __LINE__)
