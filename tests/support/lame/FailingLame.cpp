// A library in the encoder's place that has every entry point the encoder
// looks up and fails in one of them, chosen by the environment variable
// VELUMO_FAILING_LAME_CALL: "lame_init" returns no encoder,
// "lame_init_params", "lame_encode_buffer" and "lame_encode_flush" return an
// error. Everything else succeeds and encodes to nothing.

#include <cstdlib>
#include <cstring>

namespace {
int flags = 0;

bool failing(const char* call) {
    const char* chosen = std::getenv("VELUMO_FAILING_LAME_CALL");
    return chosen && std::strcmp(chosen, call) == 0;
}
} // namespace

// The arguments are not needed: C linkage looks the names up only.
// NOLINTBEGIN(readability-identifier-naming)
extern "C" {
void* lame_init() {
    return failing("lame_init") ? nullptr : &flags;
}
int lame_close(void*) {
    return 0;
}
int lame_init_params(void*) {
    return failing("lame_init_params") ? -1 : 0;
}
int lame_get_framesize(void*) {
    return 1152;
}
int lame_get_out_samplerate(void*) {
    return 0;
}
int lame_encode_buffer(void*, const short*, const short*, int, unsigned char*, int) {
    return failing("lame_encode_buffer") ? -3 : 0;
}
int lame_encode_buffer_interleaved(void*, short*, int, unsigned char*, int) {
    return failing("lame_encode_buffer") ? -3 : 0;
}
int lame_encode_flush(void*, unsigned char*, int) {
    return failing("lame_encode_flush") ? -1 : 0;
}
#define VELUMO_SETTER(name)                                                                        \
    int name(void*, long) {                                                                        \
        return 0;                                                                                  \
    }
VELUMO_SETTER(lame_set_in_samplerate)
VELUMO_SETTER(lame_set_out_samplerate)
VELUMO_SETTER(lame_set_num_channels)
VELUMO_SETTER(lame_set_mode)
VELUMO_SETTER(lame_set_brate)
VELUMO_SETTER(lame_set_VBR)
VELUMO_SETTER(lame_set_VBR_q)
VELUMO_SETTER(lame_set_VBR_min_bitrate_kbps)
VELUMO_SETTER(lame_set_VBR_max_bitrate_kbps)
VELUMO_SETTER(lame_set_VBR_mean_bitrate_kbps)
VELUMO_SETTER(lame_set_bWriteVbrTag)
VELUMO_SETTER(lame_set_quality)
VELUMO_SETTER(lame_set_copyright)
VELUMO_SETTER(lame_set_original)
VELUMO_SETTER(lame_set_error_protection)
VELUMO_SETTER(lame_set_extension)
VELUMO_SETTER(lame_set_emphasis)
VELUMO_SETTER(lame_set_disable_reservoir)
VELUMO_SETTER(lame_set_strict_ISO)
VELUMO_SETTER(lame_set_errorf)
VELUMO_SETTER(lame_set_debugf)
VELUMO_SETTER(lame_set_msgf)
#undef VELUMO_SETTER
}
// NOLINTEND(readability-identifier-naming)
