// Test seams of the board registry: it is process-wide and its first count
// happens once.
#pragma once
#include <vector>

class ccBoard;

struct cc_BoardRegistryTesting {
    // The entries in their present order.
    static std::vector<ccBoard*> entries();
    // Forgets every entry and clears the discovered flag, as before the
    // first registration.
    static void reset();
};
