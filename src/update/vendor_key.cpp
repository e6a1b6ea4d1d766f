#include "update/bundle_signature.hpp"

namespace tallowmark::update {

// The public half of the vendor's release key (made with
// `tallowmark-package-sign --make-key`). The secret half never enters the
// repository; a new key pair means every installed copy needs one manual update.
const PublicKey& vendorPublicKey() {
    static constexpr PublicKey key{0x7b, 0x53, 0x03, 0x7f, 0x29, 0xb6, 0x27, 0xa8,
                                   0x65, 0x18, 0xb7, 0x3f, 0xec, 0xd6, 0xd8, 0x40,
                                   0xc4, 0x72, 0x19, 0x51, 0x5f, 0xdb, 0x88, 0xb1,
                                   0xfc, 0x79, 0xe0, 0xc6, 0x1b, 0x8c, 0xad, 0x74};
    return key;
}

}  // namespace tallowmark::update
