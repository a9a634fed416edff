// A library in the encoder's place that has one of its entry points and not
// the others, like a libmp3lame of another version.
extern "C" int lame_init() {
    return 0;
}
