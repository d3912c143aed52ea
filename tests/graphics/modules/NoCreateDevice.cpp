// A module that loads but offers no "CreateRenderDevice".
extern "C" __attribute__((visibility("default"))) int TestNoCreateDeviceVersion()
{
    return 1;
}
