// The error that text parsers (the camera-file reader) raise with a message.
#pragma once
#include "std/except/except.h"

// No code of its own: its code slot answers 0xFFFFFFFF.
cmDeclareException(cc_ParseError, ccExceptionWithString, 0xFFFFFFFFu, "class cc_ParseError");
