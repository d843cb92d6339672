#include "console/selftest/test_bool_array.h"

#include "console/selftest/test_output.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr unsigned kBits = 10;
constexpr i4_pos kGrowStep = 64;

// A growable memory file that frees its buffer.
struct ScratchFile {
    ~ScratchFile() { i4_free(file.data()); }
    i4_ram_file_class file{nullptr, 0, kGrowStep};
};

}  // namespace

bool TestBoolArray::run() {
    test_print(" BoolArray test:");
    BoolArray array(kBits);
    array.set(0, true);
    array.set(5, true);
    if (!array.get(0)) {
        test_print("Test 1 failed");
        return false;
    }
    if (!array.get(5) || array.get(2) || array.get(9)) return false;
    array.set(5, false);
    if (array.get(5)) return false;

    BoolArray copy;
    ScratchFile scratch;
    array.write(&scratch.file);
    scratch.file.seek(0);
    copy.read(&scratch.file);
    copy.set(9, true);
    if (!copy.get(0)) {
        test_print("Test 2 failed");
        return false;
    }
    return copy.get(9) && !copy.get(2) && !copy.get(1) && !copy.get(5);
}
