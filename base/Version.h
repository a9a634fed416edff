#pragma once
// Velumo's version, "MAJOR.MINOR", as the build's project version gives it:
// one number for the About box, velumo-convert --version and the package.

const char* velumoVersion();
