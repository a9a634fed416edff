// Feeds arbitrary bytes to the stored play list decoder. Whatever it reads
// must survive a round trip: encoding the rows decoded and decoding again
// gives the same rows, completely.
#include "playlist/StoredList.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const StoredListDecoding first = decodeStoredList(data, size);
    const std::vector<uint8_t> encoded = encodeStoredList(first.rows);
    const StoredListDecoding second = decodeStoredList(encoded);
    if (!second.complete || second.rows != first.rows) {
        std::abort();
    }
    return 0;
}
