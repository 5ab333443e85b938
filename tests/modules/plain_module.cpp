// A module without KvDescribeDll, for the loader's tests.
extern "C" __attribute__((visibility("default"))) int TqTestModuleValue() {
    return 42;
}
