// Loaded by the module tests.
extern "C" __attribute__((visibility("default"))) int platFixtureAnswer()
{
    return 7320;
}
