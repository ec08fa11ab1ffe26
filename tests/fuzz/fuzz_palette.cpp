/* The palette file reader on any bytes. A set it accepts must keep the
 * set's rules (at most sixteen custom palettes, an active index that names
 * one, terminated names) and be written back to a file that reads the same. */
#include <string.h>

#include "fuzz_support.h"
#include "palette.h"
#include "t_str.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PALETTE_SET set, again;
    if (!palette_deserialize(&set, data, size)) return 0;
    FUZZ_CHECK(set.count >= 0 && set.count <= PALETTE_MAX_USER);
    FUZZ_CHECK(set.active >= 0 && set.active < palette_count(&set));
    for (int i = 0; i < set.count; i++) {
        FUZZ_CHECK(memchr(set.user[i].name, 0, PALETTE_NAME_SIZE));
        FUZZ_CHECK(set.user[i].base >= -1 && set.user[i].base < PALETTE_BUILTIN);
    }
    for (int i = 0; i < palette_count(&set); i++) {
        FUZZ_CHECK(palette_name(&set, i));
        FUZZ_CHECK(palette_colors(&set, i));
    }
    FUZZ_CHECK(palette_active_colors(&set));

    T_STR* image = palette_serialize(&set);
    FUZZ_CHECK(image);
    FUZZ_CHECK(palette_deserialize(&again, image->data, image->length));
    FUZZ_CHECK(memcmp(&set, &again, sizeof(set)) == 0);
    t_str_free(&image);

    /* The edits a user can make next start from the set as read. */
    const uint8_t rgb[3] = {(uint8_t)(size > 0 ? data[0] : 0), 1, 2};
    FUZZ_CHECK(palette_assign(&set, (int)(size % PALETTE_COLORS), rgb) >= -1);
    palette_rename_active(&set, "renamed");
    palette_new_from_active(&set);
    palette_remove_active(&set);
    palette_reset_active(&set);
    FUZZ_CHECK(set.count >= 0 && set.count <= PALETTE_MAX_USER);
    FUZZ_CHECK(set.active >= 0 && set.active < palette_count(&set));
    return 0;
}
