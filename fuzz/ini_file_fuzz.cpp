// Reads arbitrary settings text and looks a few entries up.
#include <cstddef>
#include <cstdint>

#include "v4ada/string/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IniFile ini;
    ini.loadBuffer(reinterpret_cast<const char*>(data), size);
    OwnedString text;
    int number = 0;
    bool flag = false;
    ini.getString("", "", text);
    ini.getString("net", "port", text);
    ini.getInt("net", 0, "port", number);
    ini.getBool("a", "b", 1, flag);
    return 0;
}
