#include "downloads/loaded_parts_verifier.h"

#include <atomic>

namespace {
std::atomic<LoadedPartsVerifier*> gVerifier{nullptr};
}  // namespace

LoadedPartsVerifier* loadedPartsVerifier() { return gVerifier.load(); }

LoadedPartsVerifier* setLoadedPartsVerifier(LoadedPartsVerifier* verifier) { return gVerifier.exchange(verifier); }
