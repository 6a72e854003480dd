// The settings store: the input is the store file; loading it must neither
// crash nor change anything but the store's own folder.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/settings.h"
#include "app/settings_store.h"
#include "fuzz/fuzz_support.h"

using namespace vantrove;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Setup(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetSetFolder();
    const std::string path = fuzz::WriteInput("settings.reg", data, size);
    {
        Settings settings(path);
        settings.Load();
        settings.ComputePreferredBlockSize();
        SettingsStore store(path);
        store.Read();
    }
    fuzz::CheckOutside();
    return 0;
}
