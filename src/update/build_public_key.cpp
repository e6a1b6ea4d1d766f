#include "update/bundle_signature.hpp"

namespace tallowmark::update {

// TALLOWMARK_UPDATE_PUBLIC_KEY_HEX is defined for this file alone by the
// build, from the file the CMake setting TALLOWMARK_UPDATE_PUBLIC_KEY names;
// the configure step has checked it is 64 hex digits. The secret half never
// comes near the build.
const std::optional<PublicKey>& buildPublicKey() {
#ifdef TALLOWMARK_UPDATE_PUBLIC_KEY_HEX
    static const std::optional<PublicKey> key = keyFromHex(TALLOWMARK_UPDATE_PUBLIC_KEY_HEX);
#else
    static const std::optional<PublicKey> key;
#endif
    return key;
}

}  // namespace tallowmark::update
