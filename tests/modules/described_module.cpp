// A module that describes itself through KvDescribeDll, for the loader's tests.
#define TQ_EXPORT extern "C" __attribute__((visibility("default")))

TQ_EXPORT const char* KvDescribeDll(unsigned* number1, unsigned* number2, unsigned* number3,
                                    unsigned* number4, unsigned* number5, char const** moduleName,
                                    char const** buildDateTime, char const** buildInfo,
                                    unsigned* compilerVersion, char const** compilerText,
                                    char const** extraText) {
    *number1 = 7;
    *number2 = 6;
    *number3 = 5;
    *number4 = 4;
    *number5 = 3;
    *moduleName = "TQ110Tst90x64";
    *buildDateTime = "Jan  2 2024 03:04:05";
    *buildInfo = "test build";
    *compilerVersion = 4321;
    *compilerText = "test compiler";
    *extraText = nullptr;  // no extra text
    return "Described test module";
}
