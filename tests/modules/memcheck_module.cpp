// A module that offers a memory-check function, for the memory-check hook's tests.
extern "C" __attribute__((visibility("default"))) int KivoMemoryCheck(void* argument) {
    return *static_cast<int*>(argument) + 1;
}
