// Checks for scenarios that run in a forked child process: a failed check
// reports its line and ends the child with status 1.
#pragma once
#include <cstdio>
#include <cstdlib>

#include "tests/support/child_exit.h"

#define REQUIRE(condition)                                                                \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
            childExit(1);                                                                \
        }                                                                                 \
    } while (0)
